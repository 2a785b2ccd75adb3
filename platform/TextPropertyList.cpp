#include "platform/TextPropertyList.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "platform/ReadBudget.h"
#include "platform/TextEncoding.h"

namespace steward {
namespace {

bool isUnquotedChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '+' ||
         c == '/' || c == ':' || c == '.' || c == '-';
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' ||
         c == '\v';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class Parser {
 public:
  Parser(std::string_view text, std::size_t inputSize, Mutability mutability)
      : text_(text), mutability_(mutability), budget_(inputSize) {}

  ValueRef parse(std::string* error);

 private:
  bool atEnd() const { return pos_ >= text_.size(); }
  char peek() const { return text_[pos_]; }
  std::nullptr_t fail(const std::string& reason);
  bool failed(const std::string& reason) {
    fail(reason);
    return false;
  }
  // Skips white space and comments; false on an unterminated comment.
  bool skipSpace();
  bool expect(char c, const char* what);
  ValueRef value(int depth);
  ValueRef dictionary(int depth);
  ValueRef stringsFile();
  ValueRef array(int depth);
  ValueRef data();
  // A quoted or unquoted string at the current position.
  bool string(std::string* out);
  bool quoted(std::string* out);
  bool escape(std::string* out);
  bool hexUnit(char32_t* unit);
  // Charges values to the budget; false, having failed, past it.
  bool spend(std::uint64_t objects, std::uint64_t bytes);
  ValueRef makeString(std::string text);
  ValueRef makeDictionary(std::vector<Dictionary::Entry> entries);

  std::string_view text_;
  Mutability mutability_;
  ReadBudget budget_;
  std::size_t pos_ = 0;
  std::string error_;
};

bool Parser::spend(std::uint64_t objects, std::uint64_t bytes) {
  const char* reason;
  return budget_.spend(objects, bytes, &reason) || failed(reason);
}

std::nullptr_t Parser::fail(const std::string& reason) {
  if (error_.empty()) {
    std::size_t end = std::min(pos_, text_.size());
    auto line = 1 + std::count(text_.begin(), text_.begin() + end, '\n');
    error_ = "line " + std::to_string(line) + ": " + reason;
  }
  return nullptr;
}

ValueRef Parser::parse(std::string* error) {
  ValueRef root;
  if (skipSpace()) {
    if (atEnd()) {
      root = makeDictionary({});
    } else {
      const std::size_t start = pos_;
      const bool startsWithString = peek() == '"' || isUnquotedChar(peek());
      root = value(0);
      if (root && !skipSpace()) {
        root = nullptr;
      } else if (root && !atEnd()) {
        if (startsWithString && (peek() == '=' || peek() == ';')) {
          pos_ = start;
          root = stringsFile();
        } else {
          root = fail("unexpected text after the property list");
        }
      }
    }
  }
  if (!root && error) *error = error_;
  return root;
}

bool Parser::skipSpace() {
  while (!atEnd()) {
    if (isSpace(peek())) {
      ++pos_;
    } else if (text_.substr(pos_, 2) == "//") {
      std::size_t end = text_.find('\n', pos_);
      pos_ = end == std::string_view::npos ? text_.size() : end + 1;
    } else if (text_.substr(pos_, 2) == "/*") {
      std::size_t end = text_.find("*/", pos_ + 2);
      if (end == std::string_view::npos) return failed("unterminated comment");
      pos_ = end + 2;
    } else {
      break;
    }
  }
  return true;
}

bool Parser::expect(char c, const char* what) {
  if (!skipSpace()) return false;
  if (atEnd() || peek() != c) return failed(std::string("expected ") + what);
  ++pos_;
  return true;
}

ValueRef Parser::value(int depth) {
  if (atEnd()) return fail("expected a value");
  char c = peek();
  if (c == '{' || c == '(') {
    if (depth >= kMaxTextDepth) return fail("property list nested too deeply");
    return c == '{' ? dictionary(depth) : array(depth);
  }
  if (c == '<') return data();
  std::string s;
  if (!string(&s)) return nullptr;
  return makeString(std::move(s));
}

ValueRef Parser::dictionary(int depth) {
  ++pos_;  // '{'
  std::vector<Dictionary::Entry> entries;
  for (;;) {
    if (!skipSpace()) return nullptr;
    if (atEnd()) return fail("unterminated dictionary");
    if (peek() == '}') break;
    std::string key;
    if (!string(&key) || !expect('=', "'=' after the key") || !skipSpace())
      return nullptr;
    ValueRef v = value(depth + 1);
    if (!v || !expect(';', "';' after the value")) return nullptr;
    entries.push_back({std::move(key), std::move(v)});
  }
  ++pos_;  // '}'
  return makeDictionary(std::move(entries));
}

ValueRef Parser::stringsFile() {
  std::vector<Dictionary::Entry> entries;
  for (;;) {
    if (!skipSpace()) return nullptr;
    if (atEnd()) break;
    std::string key, text;
    if (!string(&key) || !skipSpace()) return nullptr;
    if (!atEnd() && peek() == ';') {
      text = key;
    } else if (!expect('=', "'=' or ';' after the key") || !skipSpace() ||
               !string(&text)) {
      return nullptr;
    }
    if (!expect(';', "';' after the value")) return nullptr;
    ValueRef value = makeString(std::move(text));
    if (!value) return nullptr;
    entries.push_back({std::move(key), std::move(value)});
  }
  return makeDictionary(std::move(entries));
}

ValueRef Parser::array(int depth) {
  ++pos_;  // '('
  std::vector<ValueRef> items;
  for (;;) {
    if (!skipSpace()) return nullptr;
    if (atEnd()) return fail("unterminated array");
    if (peek() == ')') break;
    ValueRef v = value(depth + 1);
    if (!v || !skipSpace()) return nullptr;
    items.push_back(std::move(v));
    if (atEnd()) return fail("unterminated array");
    if (peek() == ',') {
      ++pos_;
    } else if (peek() != ')') {
      return fail("expected ',' or ')' in the array");
    }
  }
  ++pos_;  // ')'
  if (!spend(1, 0)) return nullptr;
  if (mutability_ == Mutability::kImmutable)
    return std::make_shared<Array>(std::move(items));
  return std::make_shared<MutableArray>(std::move(items));
}

ValueRef Parser::data() {
  ++pos_;  // '<'
  std::string bytes;
  int high = -1;
  for (;; ++pos_) {
    if (atEnd()) return fail("unterminated data");
    char c = peek();
    if (c == '>') break;
    if (isSpace(c)) continue;
    int digit = hexValue(c);
    if (digit < 0) return fail("bad character in data");
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<char>(high << 4 | digit));
      high = -1;
    }
  }
  if (high >= 0) return fail("odd number of hex digits in data");
  ++pos_;  // '>'
  if (!spend(1, bytes.size())) return nullptr;
  if (mutability_ == Mutability::kMutableContainersAndLeaves)
    return std::make_shared<MutableData>(std::string_view(bytes));
  return std::make_shared<Data>(std::string_view(bytes));
}

bool Parser::string(std::string* out) {
  if (atEnd()) return failed("expected a string");
  if (peek() == '"') return quoted(out);
  std::size_t start = pos_;
  while (!atEnd() && isUnquotedChar(peek())) ++pos_;
  if (pos_ == start) {
    std::string shown = static_cast<unsigned char>(peek()) < 0x80
                            ? "'" + std::string(1, peek()) + "'"
                            : "non-ASCII character";
    return failed("unexpected " + shown);
  }
  out->assign(text_.substr(start, pos_ - start));
  return true;
}

bool Parser::quoted(std::string* out) {
  const std::size_t start = pos_++;
  for (;;) {
    std::size_t stop = text_.find_first_of("\"\\", pos_);
    if (stop == std::string_view::npos) {
      pos_ = start;  // report the line where the string began
      return failed("unterminated string");
    }
    out->append(text_.substr(pos_, stop - pos_));
    pos_ = stop + 1;
    if (text_[stop] == '"') return true;
    if (!escape(out)) return false;
  }
}

bool Parser::hexUnit(char32_t* unit) {
  *unit = 0;
  for (int i = 0; i < 4; ++i, ++pos_) {
    int digit = atEnd() ? -1 : hexValue(peek());
    if (digit < 0) return failed("\\U needs four hex digits");
    *unit = *unit << 4 | static_cast<char32_t>(digit);
  }
  return true;
}

bool Parser::escape(std::string* out) {
  if (atEnd()) return failed("unterminated string");
  char e = text_[pos_++];
  switch (e) {
    case 'n':
      out->push_back('\n');
      return true;
    case 't':
      out->push_back('\t');
      return true;
    case 'r':
      out->push_back('\r');
      return true;
    case '"':
      out->push_back('"');
      return true;
    case '\\':
      out->push_back('\\');
      return true;
    case 'a':
      out->push_back('\a');
      return true;
    case 'b':
      out->push_back('\b');
      return true;
    case 'f':
      out->push_back('\f');
      return true;
    case 'v':
      out->push_back('\v');
      return true;
    case 'U': {
      char32_t c;
      if (!hexUnit(&c)) return false;
      if (c >= 0xDC00 && c <= 0xDFFF) return failed("unpaired surrogate");
      if (c >= 0xD800 && c <= 0xDBFF) {
        char32_t low;
        if (text_.substr(pos_, 2) != "\\U") return failed("unpaired surrogate");
        pos_ += 2;
        if (!hexUnit(&low)) return false;
        if (low < 0xDC00 || low > 0xDFFF) return failed("unpaired surrogate");
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      }
      unicode::appendUTF8(c, out);
      return true;
    }
    default:
      break;
  }
  if (e < '0' || e > '7') return failed(std::string("unknown escape \\") + e);
  char32_t c = static_cast<char32_t>(e - '0');
  for (int i = 1; i < 3 && !atEnd() && peek() >= '0' && peek() <= '7'; ++i)
    c = c << 3 | static_cast<char32_t>(text_[pos_++] - '0');
  if (c > 0377) return failed("octal escape above \\377");
  unicode::appendUTF8(c, out);
  return true;
}

ValueRef Parser::makeString(std::string text) {
  if (!spend(1, text.size())) return nullptr;
  if (mutability_ == Mutability::kMutableContainersAndLeaves)
    return std::make_shared<MutableString>(std::move(text));
  return std::make_shared<String>(std::move(text));
}

ValueRef Parser::makeDictionary(std::vector<Dictionary::Entry> entries) {
  std::uint64_t keyBytes = 0;
  for (const auto& e : entries) keyBytes += e.key.size();
  if (!spend(1 + entries.size(), keyBytes)) return nullptr;
  if (mutability_ == Mutability::kImmutable)
    return std::make_shared<Dictionary>(std::move(entries));
  auto dict = makeMutableDictionary();
  dict->reserve(entries.size());
  for (auto& e : entries) dict->setObject(std::move(e.value), std::move(e.key));
  return dict;
}

}  // namespace

ValueRef readOpenStepPropertyList(std::string_view text, Mutability mutability,
                                  std::string* error) {
  auto failWith = [&](const char* reason) -> ValueRef {
    if (error) *error = reason;
    return nullptr;
  };
  const std::size_t inputSize = text.size();
  std::string converted;
  if (text.starts_with("\xEF\xBB\xBF")) {
    text.remove_prefix(3);
  } else if (text.starts_with("\xFE\xFF") || text.starts_with("\xFF\xFE")) {
    if (!unicode::utf16ToUTF8(text.substr(2), text[0] == '\xFE', &converted))
      return failWith("text is not valid UTF-16");
    text = converted;
  }
  if (!unicode::isValidUTF8(text)) return failWith("text is not valid UTF-8");
  return Parser(text, inputSize, mutability).parse(error);
}

}  // namespace steward
