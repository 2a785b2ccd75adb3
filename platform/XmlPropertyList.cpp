#include "platform/XmlPropertyList.h"

#include <expat.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>
#include <vector>

#include "platform/CivilTime.h"
#include "platform/ReadBudget.h"

namespace steward {

namespace {

// Expat gets the text in pieces of this size, so it never copies a whole
// document into its own buffer.
constexpr std::size_t kChunkSize = 64 * 1024;

enum class Element : std::uint8_t {
  kNone,
  kPlist,
  kDict,
  kArray,
  kKey,
  kString,
  kInteger,
  kReal,
  kTrue,
  kFalse,
  kData,
  kDate,
};

Element elementNamed(std::string_view name) {
  switch (name.size()) {
    case 3:
      if (name == "key") return Element::kKey;
      break;
    case 4:
      if (name == "dict") return Element::kDict;
      if (name == "real") return Element::kReal;
      if (name == "true") return Element::kTrue;
      if (name == "data") return Element::kData;
      if (name == "date") return Element::kDate;
      break;
    case 5:
      if (name == "array") return Element::kArray;
      if (name == "plist") return Element::kPlist;
      if (name == "false") return Element::kFalse;
      break;
    case 6:
      if (name == "string") return Element::kString;
      break;
    case 7:
      if (name == "integer") return Element::kInteger;
      break;
  }
  return Element::kNone;
}

bool isXmlSpace(char c) {
  return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && isXmlSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isXmlSpace(s.back())) s.remove_suffix(1);
  return s;
}

// Text for an error message: in quotes, and cut short (at a character
// boundary) when long.
std::string quoted(std::string_view text) {
  constexpr std::size_t kLongest = 40;
  if (text.size() <= kLongest) return "\"" + std::string(text) + "\"";
  std::size_t cut = kLongest;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return "\"" + std::string(text.substr(0, cut)) + "...\"";
}

// Decimal or 0x hexadecimal, optionally signed; false outside int64.
bool parseInteger(std::string_view s, std::int64_t* out) {
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  std::uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return false;
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
  if (negative) {
    if (magnitude > kLimit) return false;
    *out = magnitude == kLimit ? std::numeric_limits<std::int64_t>::min()
                               : -static_cast<std::int64_t>(magnitude);
  } else {
    if (magnitude >= kLimit) return false;
    *out = static_cast<std::int64_t>(magnitude);
  }
  return true;
}

// Decimal or exponent notation, "nan", "inf", "-inf".
bool parseReal(std::string_view s, double* out) {
  if (s.size() > 1 && s[0] == '+' && s[1] != '-') s.remove_prefix(1);
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
  return !s.empty() && ec == std::errc() && end == s.data() + s.size();
}

// The fraction 1 - 0.digits, as digits of the same count; the digits must
// not end in 0.
std::string complementedFraction(std::string_view digits) {
  std::string result(digits);
  for (std::size_t i = result.size(); i-- > 0;) {
    int d = result[i] - '0';
    result[i] = static_cast<char>('0' + (i + 1 == result.size() ? 10 - d : 9 - d));
  }
  return result;
}

constexpr std::int64_t kUnixToReference = 978307200;

bool parseDigits(std::string_view s, std::size_t at, std::size_t count, unsigned* out) {
  *out = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    *out = *out * 10 + static_cast<unsigned>(s[i] - '0');
  }
  return true;
}

// "YYYY-MM-DDTHH:MM:SS[.fff]Z", as seconds since the reference date. The
// value is the double nearest to the exact decimal time, so what the writer
// prints reads back as the very same double.
bool parseDate(std::string_view s, double* out) {
  unsigned year, month, day, hour, minute, second;
  if (s.size() < 20 || s.back() != 'Z' || s[4] != '-' || s[7] != '-' ||
      s[10] != 'T' || s[13] != ':' || s[16] != ':' ||
      !parseDigits(s, 0, 4, &year) || !parseDigits(s, 5, 2, &month) ||
      !parseDigits(s, 8, 2, &day) || !parseDigits(s, 11, 2, &hour) ||
      !parseDigits(s, 14, 2, &minute) || !parseDigits(s, 17, 2, &second))
    return false;
  static constexpr unsigned kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  if (month < 1 || month > 12 || day < 1 || day > kMonthDays[month - 1] ||
      (month == 2 && day == 29 && !leap) || hour > 23 || minute > 59 || second > 59)
    return false;
  std::string_view fraction = s.substr(19, s.size() - 20);
  if (!fraction.empty()) {
    if (fraction.size() < 2 || fraction[0] != '.') return false;
    fraction.remove_prefix(1);
    for (char c : fraction)
      if (c < '0' || c > '9') return false;
    while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
  }
  std::int64_t whole = daysFromCivil(year, month, day) * 86400 + hour * 3600 +
                       minute * 60 + second - kUnixToReference;
  if (fraction.empty()) {
    *out = static_cast<double>(whole);
    return true;
  }
  std::string text = whole >= 0 ? std::to_string(whole) + "." + std::string(fraction)
                                 : "-" + std::to_string(-whole - 1) + "." +
                                       complementedFraction(fraction);
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && end == text.data() + text.size();
}

// Base64 with whitespace anywhere and the padding the standard asks for.
bool decodeBase64(std::string_view text, std::vector<std::uint8_t>* out) {
  static constexpr std::int8_t kInvalid = -1, kSpace = -2, kPad = -3;
  static const auto kTable = [] {
    std::array<std::int8_t, 256> table;
    table.fill(kInvalid);
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    for (char c : {' ', '\t', '\n', '\r'}) table[static_cast<unsigned char>(c)] = kSpace;
    table['='] = kPad;
    return table;
  }();
  out->reserve(text.size() / 4 * 3);
  std::uint32_t quad = 0;
  int count = 0, padding = 0;
  for (unsigned char c : text) {
    std::int8_t v = kTable[c];
    if (v == kSpace) continue;
    if (v == kInvalid || (v >= 0 && padding > 0) || (v == kPad && count < 2)) return false;
    if (v == kPad) ++padding;
    quad = quad << 6 | static_cast<std::uint32_t>(v >= 0 ? v : 0);
    if (++count < 4) continue;
    out->push_back(static_cast<std::uint8_t>(quad >> 16));
    if (padding < 2) out->push_back(static_cast<std::uint8_t>(quad >> 8));
    if (padding < 1) out->push_back(static_cast<std::uint8_t>(quad));
    count = 0;
    quad = 0;
  }
  return count == 0;
}

}  // namespace

// Builds the tree from expat's events with explicit stacks: the members of
// every open container wait in one shared vector until it closes.
class XmlPropertyListReader::Parser {
 public:
  explicit Parser(Mutability mutability)
      : expat_(XML_ParserCreate(nullptr)), mutability_(mutability) {
    if (!expat_) throw std::bad_alloc();
    XML_SetUserData(expat_, this);
    XML_SetElementHandler(expat_, &Parser::onStart, &Parser::onEnd);
    XML_SetCharacterDataHandler(expat_, &Parser::onText);
    XML_SetStartDoctypeDeclHandler(expat_, &Parser::onDoctype);
    XML_SetEntityDeclHandler(expat_, &Parser::onEntityDecl);
    XML_SetSkippedEntityHandler(expat_, &Parser::onSkippedEntity);
    XML_SetExternalEntityRefHandler(expat_, &Parser::onExternalEntity);
    XML_SetParamEntityParsing(expat_, XML_PARAM_ENTITY_PARSING_NEVER);
    frames_.reserve(16);
    values_.reserve(64);
    entries_.reserve(64);
  }
  ~Parser() { XML_ParserFree(expat_); }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  bool feed(std::string_view chunk, std::string* error) {
    budget_.addInput(chunk.size());
    while (!failed_ && !chunk.empty()) {
      std::size_t size = std::min(chunk.size(), kChunkSize);
      parse(chunk.data(), size, false);
      chunk.remove_prefix(size);
    }
    return reportFailure(error);
  }

  ValueRef finish(std::string* error) {
    if (!failed_) parse("", 0, true);
    if (!reportFailure(error)) return nullptr;
    return std::move(root_);
  }

 private:
  struct Frame {
    Element element;
    bool keyPending;    // a dictionary whose last key waits for its value
    std::size_t start;  // first member in values_ or entries_
  };

  static void XMLCALL onStart(void* self, const XML_Char* name, const XML_Char**) {
    static_cast<Parser*>(self)->startElement(name);
  }
  static void XMLCALL onEnd(void* self, const XML_Char*) {
    static_cast<Parser*>(self)->endElement();
  }
  static void XMLCALL onText(void* self, const XML_Char* text, int length) {
    static_cast<Parser*>(self)->characters(text, static_cast<std::size_t>(length));
  }
  static void XMLCALL onDoctype(void* self, const XML_Char* name, const XML_Char*,
                                const XML_Char*, int hasInternalSubset) {
    auto* parser = static_cast<Parser*>(self);
    if (std::strcmp(name, "plist") != 0)
      parser->fail("document type is " + quoted(name) + ", not plist");
    else if (hasInternalSubset)
      parser->fail("declarations inside DOCTYPE are not allowed");
  }
  static void XMLCALL onEntityDecl(void* self, const XML_Char* name, int, const XML_Char*,
                                   int, const XML_Char*, const XML_Char*,
                                   const XML_Char*, const XML_Char*) {
    static_cast<Parser*>(self)->fail("entity declaration " + quoted(name) +
                                     " is not allowed");
  }
  static void XMLCALL onSkippedEntity(void* self, const XML_Char* name, int) {
    static_cast<Parser*>(self)->fail("undefined entity &" + std::string(name) + ";");
  }
  static int XMLCALL onExternalEntity(XML_Parser expat, const XML_Char*, const XML_Char*,
                                      const XML_Char*, const XML_Char*) {
    static_cast<Parser*>(XML_GetUserData(expat))->fail("external entities are not allowed");
    return XML_STATUS_ERROR;
  }

  void parse(const char* bytes, std::size_t size, bool last) {
    if (XML_Parse(expat_, bytes, static_cast<int>(size), last) == XML_STATUS_OK) return;
    fail(XML_ErrorString(XML_GetErrorCode(expat_)));
  }

  bool reportFailure(std::string* error) {
    if (failed_ && error) *error = error_;
    return !failed_;
  }

  // Keeps the first reason, with the place expat has reached, and stops it.
  void fail(const std::string& reason) {
    if (failed_) return;
    failed_ = true;
    error_ = "line " + std::to_string(XML_GetCurrentLineNumber(expat_)) + ", column " +
             std::to_string(XML_GetCurrentColumnNumber(expat_) + 1) + ": " + reason;
    XML_StopParser(expat_, XML_FALSE);
  }

  void startElement(std::string_view name) {
    if (failed_) return;
    if (leaf_ != Element::kNone) return fail("element " + quoted(name) + " inside a value");
    Element element = elementNamed(name);
    if (element == Element::kNone) return fail("unknown element " + quoted(name));
    if (frames_.empty()) {
      if (element != Element::kPlist) return fail("the root element is not <plist>");
      frames_.push_back({Element::kPlist, false, 0});
      return;
    }
    Frame& top = frames_.back();
    if (element == Element::kPlist) return fail("<plist> inside <plist>");
    if (element == Element::kKey) {
      if (top.element != Element::kDict) return fail("<key> outside a dictionary");
      if (top.keyPending) return fail("key " + quoted(entries_.back().key) + " has no value");
    } else if (top.element == Element::kDict && !top.keyPending) {
      return fail("value without a key in a dictionary");
    } else if (top.element == Element::kPlist && root_) {
      return fail("more than one root value");
    }
    if (element == Element::kDict || element == Element::kArray) {
      if (frames_.size() > kMaxXmlNestingDepth)
        return fail("containers nested deeper than " + std::to_string(kMaxXmlNestingDepth) +
                    " levels");
      frames_.push_back({element, false,
                         element == Element::kDict ? entries_.size() : values_.size()});
      return;
    }
    leaf_ = element;
    text_.clear();
  }

  void endElement() {
    if (failed_) return;
    if (leaf_ != Element::kNone) {
      Element leaf = leaf_;
      leaf_ = Element::kNone;
      if (leaf == Element::kKey) {
        if (!spend(1, text_.size())) return;
        entries_.push_back({text_, nullptr});
        frames_.back().keyPending = true;
        return;
      }
      if (ValueRef value = leafValue(leaf)) addValue(std::move(value));
      return;
    }
    Frame frame = frames_.back();
    frames_.pop_back();
    switch (frame.element) {
      case Element::kPlist:
        if (!root_) fail("<plist> holds no value");
        return;
      case Element::kDict:
        if (frame.keyPending) return fail("key " + quoted(entries_.back().key) + " has no value");
        if (ValueRef dict = closeDictionary(frame.start)) addValue(std::move(dict));
        return;
      default:
        addValue(closeArray(frame.start));
        return;
    }
  }

  void characters(const char* text, std::size_t length) {
    if (failed_) return;
    if (leaf_ != Element::kNone) {
      text_.append(text, length);
      return;
    }
    for (std::size_t i = 0; i < length; ++i)
      if (!isXmlSpace(text[i])) return fail("text outside a value");
  }

  ValueRef leafValue(Element leaf) {
    bool mutableLeaf = mutability_ == Mutability::kMutableContainersAndLeaves;
    switch (leaf) {
      case Element::kString:
        if (mutableLeaf) return std::make_shared<MutableString>(text_);
        return std::make_shared<String>(text_);
      case Element::kInteger: {
        std::int64_t i;
        if (parseInteger(trimmed(text_), &i)) return std::make_shared<Integer>(i);
        fail("integer " + quoted(text_) + " is not a 64-bit integer");
        return nullptr;
      }
      case Element::kReal: {
        double d;
        if (parseReal(trimmed(text_), &d)) return std::make_shared<Real>(d);
        fail("real " + quoted(text_) + " is not a number");
        return nullptr;
      }
      case Element::kDate: {
        double d;
        if (parseDate(trimmed(text_), &d)) return std::make_shared<Date>(d);
        fail("date " + quoted(text_) + " is not YYYY-MM-DDTHH:MM:SSZ");
        return nullptr;
      }
      case Element::kData: {
        std::vector<std::uint8_t> bytes;
        if (!decodeBase64(text_, &bytes)) {
          fail("data is not valid base64");
          return nullptr;
        }
        if (mutableLeaf) return std::make_shared<MutableData>(std::move(bytes));
        return std::make_shared<Data>(std::move(bytes));
      }
      default: {  // true, false
        if (!text_.empty()) {
          fail("<true/> and <false/> hold no text");
          return nullptr;
        }
        // Booleans are never mutable, so two of them can be one object.
        static const ValueRef kTrue = std::make_shared<Boolean>(true);
        static const ValueRef kFalse = std::make_shared<Boolean>(false);
        return leaf == Element::kTrue ? kTrue : kFalse;
      }
    }
  }

  ValueRef closeDictionary(std::size_t start) {
    auto first = entries_.begin() + static_cast<std::ptrdiff_t>(start);
    std::size_t count = entries_.size() - start;
    ValueRef result;
    std::size_t kept;
    if (mutability_ == Mutability::kImmutable) {
      std::vector<Dictionary::Entry> entries(std::make_move_iterator(first),
                                             std::make_move_iterator(entries_.end()));
      auto dict = std::make_shared<Dictionary>(std::move(entries));
      kept = dict->count();
      result = std::move(dict);
    } else {
      auto dict = std::make_shared<MutableDictionary>();
      dict->reserve(count);
      for (auto it = first; it != entries_.end(); ++it)
        dict->setObject(std::move(it->value), std::move(it->key));
      kept = dict->count();
      result = std::move(dict);
    }
    entries_.erase(first, entries_.end());
    if (kept != count) {
      fail("a key appears twice in one dictionary");
      return nullptr;
    }
    return result;
  }

  ValueRef closeArray(std::size_t start) {
    auto first = values_.begin() + static_cast<std::ptrdiff_t>(start);
    std::vector<ValueRef> objects(std::make_move_iterator(first),
                                  std::make_move_iterator(values_.end()));
    values_.erase(first, values_.end());
    if (mutability_ == Mutability::kImmutable)
      return std::make_shared<Array>(std::move(objects));
    return std::make_shared<MutableArray>(std::move(objects));
  }

  bool spend(std::uint64_t objects, std::uint64_t bytes) {
    const char* reason;
    if (budget_.spend(objects, bytes, &reason)) return true;
    fail(reason);
    return false;
  }

  void addValue(ValueRef value) {
    if (!spend(1, ReadBudget::textBytesOf(*value))) return;
    Frame& top = frames_.back();
    switch (top.element) {
      case Element::kPlist:
        root_ = std::move(value);
        return;
      case Element::kDict:
        entries_.back().value = std::move(value);
        top.keyPending = false;
        return;
      default:
        values_.push_back(std::move(value));
        return;
    }
  }

  XML_Parser expat_;
  Mutability mutability_;
  std::vector<Frame> frames_;  // <plist> and the open containers
  std::vector<ValueRef> values_;
  std::vector<Dictionary::Entry> entries_;
  Element leaf_ = Element::kNone;  // the open element that holds text
  std::string text_;               // its text so far; one buffer for all
  ValueRef root_;
  ReadBudget budget_{0};  // grows as input is fed
  bool failed_ = false;
  std::string error_;
};

XmlPropertyListReader::XmlPropertyListReader(Mutability mutability)
    : parser_(std::make_unique<Parser>(mutability)) {}

XmlPropertyListReader::~XmlPropertyListReader() = default;

bool XmlPropertyListReader::feed(std::string_view chunk, std::string* error) {
  return parser_->feed(chunk, error);
}

ValueRef XmlPropertyListReader::finish(std::string* error) {
  return parser_->finish(error);
}

ValueRef readXMLPropertyList(std::string_view bytes, Mutability mutability,
                             std::string* error) {
  XmlPropertyListReader reader(mutability);
  if (!reader.feed(bytes, error)) return nullptr;
  return reader.finish(error);
}

bool looksLikeXMLPropertyList(std::string_view head) {
  if (head.substr(0, 3) == "\xEF\xBB\xBF") head.remove_prefix(3);
  while (!head.empty() && isXmlSpace(head.front())) head.remove_prefix(1);
  return head.substr(0, 5) == "<?xml" || head.substr(0, 2) == "<!" ||
         head.substr(0, 6) == "<plist";
}

// Writing

namespace {

enum class TextFault { kNone, kNotUtf8, kNotXmlChar };

// Length of the UTF-8 sequence at p, or 0 when it is malformed or encodes a
// surrogate; *xmlChar tells whether XML 1.0 can carry the character.
std::size_t utf8Sequence(const unsigned char* p, const unsigned char* end, bool* xmlChar) {
  unsigned char c = p[0];
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (static_cast<std::size_t>(end - p) < length || p[1] < low || p[1] > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  // U+FFFE and U+FFFF are EF BF BE and EF BF BF.
  *xmlChar = !(c == 0xEF && p[1] == 0xBF && p[2] >= 0xBE);
  return length;
}

// Appends text as element content: & < > escaped, and CR as a character
// reference, since a reader turns a literal one into LF.
TextFault appendText(std::string_view text, std::string* out) {
  auto* p = reinterpret_cast<const unsigned char*>(text.data());
  auto* end = p + text.size();
  auto* run = p;
  while (p < end) {
    unsigned char c = *p;
    if ((c >= 0x20 && c < 0x80 && c != '&' && c != '<' && c != '>') || c == '\t' ||
        c == '\n') {
      ++p;
      continue;
    }
    if (c >= 0x80) {
      bool xmlChar = true;
      std::size_t length = utf8Sequence(p, end, &xmlChar);
      if (length == 0) return TextFault::kNotUtf8;
      if (!xmlChar) return TextFault::kNotXmlChar;
      p += length;
      continue;
    }
    const char* escape;
    switch (c) {
      case '&': escape = "&amp;"; break;
      case '<': escape = "&lt;"; break;
      case '>': escape = "&gt;"; break;
      case '\r': escape = "&#13;"; break;
      default: return TextFault::kNotXmlChar;
    }
    out->append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
    out->append(escape);
    run = ++p;
  }
  out->append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
  return TextFault::kNone;
}

void appendBase64(const std::vector<std::uint8_t>& bytes, std::size_t depth, std::string* out) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  constexpr std::size_t kLineLength = 76;
  std::string encoded;
  encoded.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    std::uint32_t v = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    encoded += {kAlphabet[v >> 18], kAlphabet[v >> 12 & 63], kAlphabet[v >> 6 & 63],
                kAlphabet[v & 63]};
  }
  if (i < bytes.size()) {
    std::uint32_t v = bytes[i] << 16 | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0);
    encoded += {kAlphabet[v >> 18], kAlphabet[v >> 12 & 63],
                i + 1 < bytes.size() ? kAlphabet[v >> 6 & 63] : '=', '='};
  }
  if (encoded.size() <= kLineLength) {
    out->append("<data>").append(encoded).append("</data>\n");
    return;
  }
  // Long data as lines of its own at the element's indentation.
  out->append("<data>\n");
  for (std::size_t at = 0; at < encoded.size(); at += kLineLength) {
    out->append(depth, '\t');
    out->append(encoded, at, kLineLength).push_back('\n');
  }
  out->append(depth, '\t').append("</data>\n");
}

void appendReal(double d, std::string* out) {
  if (std::isnan(d)) {
    out->append("nan");
  } else if (std::isinf(d)) {
    out->append(d > 0 ? "inf" : "-inf");
  } else {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, d);
    out->append(buffer, result.ptr);
  }
}

// "YYYY-MM-DDTHH:MM:SSZ": whole seconds, the fraction cut off toward the
// earlier second, as the other writers of the format do and as some readers
// insist.
bool appendDate(double seconds, std::string* out) {
  CivilTime t;
  if (!civilTimeOf(seconds, &t)) return false;
  char date[32];
  std::snprintf(date, sizeof date, "%04d-%02u-%02uT%02u:%02u:%02u", t.year, t.month,
                t.day, t.hour, t.minute, t.second);
  out->append("<date>").append(date).append("Z</date>\n");
  return true;
}

class Writer {
 public:
  explicit Writer(std::string* out) : out_(out) {}

  bool write(const ValueRef& root, std::string* error) {
    if (!root) return failWith("there is no value to write", error);
    out_->append(kXmlPropertyListProlog).append("<plist version=\"1.0\">\n");
    if (!writeValue(*root)) return failWith(error_, error);
    while (!stack_.empty()) {
      Frame& frame = stack_.back();
      std::size_t depth = stack_.size();
      if (frame.dictionary) {
        const auto& entries = frame.dictionary->entries();
        if (frame.next == entries.size()) {
          stack_.pop_back();
          out_->append(depth - 1, '\t').append("</dict>\n");
          continue;
        }
        const auto& entry = entries[frame.next++];
        out_->append(depth, '\t').append("<key>");
        if (!writeText(entry.key, "key")) return failWith(error_, error);
        out_->append("</key>\n");
        if (!writeValue(*entry.value)) return failWith(error_, error);
      } else {
        const auto& objects = frame.array->objects();
        if (frame.next == objects.size()) {
          stack_.pop_back();
          out_->append(depth - 1, '\t').append("</array>\n");
          continue;
        }
        if (!writeValue(*objects[frame.next++])) return failWith(error_, error);
      }
    }
    out_->append("</plist>\n");
    return true;
  }

 private:
  struct Frame {
    const Dictionary* dictionary;  // one of the two is set
    const Array* array;
    std::size_t next;
  };

  static bool failWith(const std::string& reason, std::string* error) {
    if (error) *error = reason;
    return false;
  }

  bool fail(std::string reason) {
    error_ = std::move(reason);
    return false;
  }

  bool writeText(const std::string& text, const char* what) {
    switch (appendText(text, out_)) {
      case TextFault::kNone: return true;
      case TextFault::kNotUtf8: return fail(std::string(what) + " is not valid UTF-8");
      case TextFault::kNotXmlChar:
        return fail(std::string(what) + " holds a character that XML 1.0 cannot carry");
    }
    return false;
  }

  // Writes a leaf whole, or opens a container and leaves its members to the
  // loop in write().
  bool writeValue(const Value& value) {
    std::size_t depth = stack_.size();
    out_->append(depth, '\t');
    switch (value.kind()) {
      case ValueKind::kDictionary:
      case ValueKind::kArray: {
        bool isDictionary = value.kind() == ValueKind::kDictionary;
        const char* name = isDictionary ? "dict" : "array";
        std::size_t count = isDictionary ? static_cast<const Dictionary&>(value).count()
                                         : static_cast<const Array&>(value).count();
        // The reader counts an empty container as a level too.
        if (depth == kMaxXmlNestingDepth)
          return fail("containers nested deeper than " + std::to_string(kMaxXmlNestingDepth) +
                      " levels (or a container holds itself)");
        if (count == 0) {
          out_->append("<").append(name).append("/>\n");
          return true;
        }
        out_->append("<").append(name).append(">\n");
        stack_.push_back({isDictionary ? static_cast<const Dictionary*>(&value) : nullptr,
                          isDictionary ? nullptr : static_cast<const Array*>(&value), 0});
        return true;
      }
      case ValueKind::kString:
        out_->append("<string>");
        if (!writeText(static_cast<const String&>(value).str(), "string")) return false;
        out_->append("</string>\n");
        return true;
      case ValueKind::kInteger: {
        char buffer[24];
        auto result = std::to_chars(buffer, buffer + sizeof buffer,
                                    static_cast<const Integer&>(value).value());
        out_->append("<integer>").append(buffer, result.ptr).append("</integer>\n");
        return true;
      }
      case ValueKind::kReal:
        out_->append("<real>");
        appendReal(static_cast<const Real&>(value).value(), out_);
        out_->append("</real>\n");
        return true;
      case ValueKind::kBoolean:
        out_->append(static_cast<const Boolean&>(value).value() ? "<true/>\n" : "<false/>\n");
        return true;
      case ValueKind::kData:
        appendBase64(static_cast<const Data&>(value).bytes(), depth, out_);
        return true;
      case ValueKind::kDate:
        if (appendDate(static_cast<const Date&>(value).secondsSinceReference(), out_))
          return true;
        return fail("date is outside the years 0000 to 9999");
      case ValueKind::kForeign:
        return fail("not a property value: " +
                    static_cast<const ForeignValue&>(value).description());
    }
    return fail("unknown kind of value");
  }

  std::string* out_;
  std::vector<Frame> stack_;  // the open containers
  std::string error_;
};

}  // namespace

bool writeXMLPropertyList(const ValueRef& root, std::string* out, std::string* error) {
  std::string text;
  if (!Writer(&text).write(root, error)) return false;
  *out = std::move(text);
  return true;
}

}  // namespace steward
