#include "CommonLib/StringComponentAdditions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "CommonLib/WholeFile.h"
#include "platform/AtomicFile.h"
#include "platform/Format.h"

namespace steward {

namespace {

constexpr char32_t kBackslash = U'\\';
// A byte that is not part of a UTF-8 sequence travels as this plus its value,
// outside the range of code points, so it never matches and round trips.
constexpr char32_t kRawByteBase = 0x110000;

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Length of the UTF-8 sequence at text[i], its code point in *cp; 0 when the
// bytes there are not UTF-8. Encoded surrogates are accepted only when asked,
// so that text cut between two code units reads back as it was cut.
std::size_t decodeOne(std::string_view text, std::size_t i, char32_t* cp,
                      bool allowSurrogates) {
  auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) {
    *cp = lead;
    return 1;
  }
  std::size_t length;
  char32_t c;
  char32_t smallest;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, c = lead & 0x1F, smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, c = lead & 0x0F, smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, c = lead & 0x07, smallest = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b & 0x3F);
  }
  if (c < smallest || c > 0x10FFFF) return 0;
  if (isSurrogate(c) && !allowSurrogates) return 0;
  *cp = c;
  return length;
}

bool isValidUTF8(std::string_view text) {
  char32_t c;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n = decodeOne(text, i, &c, false);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

void appendUTF8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Text as a sequence of units: code points, or with `codeUnits` 16-bit code
// units (needed only when a surrogate is the separator or escape target).
std::u32string toUnits(std::string_view text, bool codeUnits) {
  std::u32string units;
  units.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c;
    std::size_t n = decodeOne(text, i, &c, true);
    if (n == 0) {
      units.push_back(kRawByteBase + static_cast<unsigned char>(text[i]));
      ++i;
      continue;
    }
    if (codeUnits && c >= 0x10000) {
      c -= 0x10000;
      units.push_back(0xD800 + (c >> 10));
      units.push_back(0xDC00 + (c & 0x3FF));
    } else {
      units.push_back(c);
    }
    i += n;
  }
  return units;
}

std::string fromUnits(std::u32string_view units) {
  std::string text;
  text.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= kRawByteBase) {
      text.push_back(static_cast<char>(c - kRawByteBase));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() &&
        units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    appendUTF8(text, c);
  }
  return text;
}

// Whether the text holds an encoded surrogate, as text cut between the two
// code units of a character does.
bool hasEncodedSurrogates(std::string_view text) {
  char32_t c;
  for (std::size_t i = 0; i + 2 < text.size(); ++i)
    if (static_cast<unsigned char>(text[i]) == 0xED &&
        decodeOne(text, i, &c, true) == 3 && isSurrogate(c))
      return true;
  return false;
}

// Two halves of a character that came together again become that character.
std::string paired(std::string text) {
  if (!hasEncodedSurrogates(text)) return text;
  return fromUnits(toUnits(text, false));
}

// Bytes serve as units when the character looked for is ASCII (no byte of a
// longer UTF-8 sequence equals one) and no halves of characters are about.
bool bytesSuffice(std::string_view text, char16_t character) {
  return character < 0x80 && !hasEncodedSurrogates(text);
}

char32_t unitValue(char c) { return static_cast<unsigned char>(c); }
char32_t unitValue(char32_t c) { return c; }

template <class CharT>
std::basic_string<CharT> escapeUnits(std::basic_string_view<CharT> in,
                                     char32_t character, bool* hasSpaces) {
  std::basic_string<CharT> out;
  out.reserve(in.size() + in.size() / 8);
  for (CharT unit : in) {
    char32_t c = unitValue(unit);
    if (c == kBackslash || c == character) {
      out.push_back(static_cast<CharT>(kBackslash));
    } else if (c == U' ' && hasSpaces) {
      *hasSpaces = true;
    }
    out.push_back(unit);
  }
  return out;
}

template <class CharT>
std::vector<std::basic_string<CharT>> splitUnits(
    std::basic_string_view<CharT> in, char32_t separator) {
  std::vector<std::basic_string<CharT>> components;
  if (in.empty()) return components;
  std::basic_string<CharT> current;
  for (std::size_t i = 0; i < in.size(); ++i) {
    char32_t c = unitValue(in[i]);
    if (c == kBackslash) {
      if (++i == in.size()) break;
      current.push_back(in[i]);
    } else if (c == separator) {
      components.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(in[i]);
    }
  }
  components.push_back(std::move(current));
  return components;
}

std::string escapeText(std::string_view text, char16_t character,
                       bool* hasSpaces) {
  if (bytesSuffice(text, character))
    return escapeUnits(text, character, hasSpaces);
  std::u32string units = toUnits(text, isSurrogate(character));
  return fromUnits(
      escapeUnits(std::u32string_view(units), character, hasSpaces));
}

bool isWhiteSpace(char32_t c) {
  return (c >= 9 && c <= 13) || c == 0x20 || c == 0x85 || c == 0xA0 ||
         c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
         c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool writeInPlace(const std::string& path, std::string_view bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = writeAll(fd, bytes);
  return ::close(fd) == 0 && ok;
}

}  // namespace

StringRef UTF8StringWithContentsOfFile(const std::string& path) {
  std::string bytes;
  if (!readWholeFile(path, &bytes) || !isValidUTF8(bytes)) return nullptr;
  return makeString(std::move(bytes));
}

MutableStringRef UTF8MutableStringWithContentsOfFile(const std::string& path) {
  std::string bytes;
  if (!readWholeFile(path, &bytes) || !isValidUTF8(bytes)) return nullptr;
  return makeMutableString(std::move(bytes));
}

bool writeUTF8StringToFile(const StringRef& text, const std::string& path,
                           bool atomically, uid_t defaultUserID,
                           gid_t defaultGroupID) {
  // Text that is not UTF-8 cannot be encoded, so it is not written at all.
  if (!text || !isValidUTF8(text->str())) return false;
  uid_t owner = defaultUserID;
  gid_t group = defaultGroupID;
  struct stat old;
  if (::stat(path.c_str(), &old) == 0) {
    owner = old.st_uid;
    group = old.st_gid;
  }
  // A new file gets the mode an ordinary creation would give it.
  bool written = atomically ? writeFileAtomically(path, text->str(), nullptr, 0666)
                            : writeInPlace(path, text->str());
  if (!written) return false;
  if (::chown(path.c_str(), owner, group) != 0) {
    std::string message = stringWithFormat(
        "Error: Couldn't set the owner and group of file %@\n", path);
    std::fputs(message.c_str(), stderr);
    return false;
  }
  return true;
}

StringRef stringWithCompactedAndTrimmedWhiteSpace(const StringRef& text) {
  if (!text) return nullptr;
  std::string_view in = text->str();
  std::string out;
  out.reserve(in.size());
  bool afterWhiteSpace = true;
  for (std::size_t i = 0; i < in.size();) {
    char32_t c;
    std::size_t n = decodeOne(in, i, &c, true);
    if (n == 0) {
      c = kRawByteBase;  // a stray byte is kept as it is
      n = 1;
    }
    if (c == 0) break;
    if (!isWhiteSpace(c)) {
      out.append(in.substr(i, n));
      afterWhiteSpace = false;
    } else {
      if (!afterWhiteSpace) out.push_back(' ');
      afterWhiteSpace = true;
    }
    i += n;
  }
  if (!out.empty() && afterWhiteSpace) out.pop_back();
  return makeString(paired(std::move(out)));
}

MutableStringRef unescapedString(const StringRef& text) {
  if (!text) return nullptr;
  // Bytewise is exact: a backslash is ASCII, and the bytes of the character
  // after it are copied in any case.
  std::string_view in = text->str();
  std::string out;
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\\' && ++i == in.size()) break;
    out.push_back(in[i]);
  }
  return makeMutableString(paired(std::move(out)));
}

MutableStringRef escapedStringForCharacter(const StringRef& text,
                                           char16_t character,
                                           bool* hasSpaces) {
  if (hasSpaces) *hasSpaces = false;
  if (!text) return nullptr;
  return makeMutableString(escapeText(text->str(), character, hasSpaces));
}

ArrayRef componentsSeparatedByCharacter(const StringRef& text,
                                        char16_t separator) {
  if (!text) return nullptr;
  std::vector<std::string> components =
      splitEscapedComponents(text->str(), separator);
  if (components.empty()) return nullptr;
  std::vector<ValueRef> strings;
  strings.reserve(components.size());
  for (auto& component : components)
    strings.push_back(makeString(std::move(component)));
  return std::make_shared<Array>(std::move(strings));
}

std::vector<std::string> splitEscapedComponents(std::string_view text,
                                                char16_t separator) {
  if (bytesSuffice(text, separator)) return splitUnits(text, separator);
  std::u32string units = toUnits(text, isSurrogate(separator));
  std::vector<std::string> components;
  for (const auto& component :
       splitUnits(std::u32string_view(units), separator))
    components.push_back(fromUnits(component));
  return components;
}

std::string joinEscapedComponents(const std::vector<std::string>& components,
                                  char16_t separator) {
  bool bytes = separator < 0x80;
  for (const auto& component : components)
    bytes = bytes && !hasEncodedSurrogates(component);
  if (bytes) {
    std::string joined;
    for (std::size_t i = 0; i < components.size(); ++i) {
      if (i > 0) joined.push_back(static_cast<char>(separator));
      joined +=
          escapeUnits(std::string_view(components[i]), separator, nullptr);
    }
    return joined;
  }
  // Joined as units, so that a separator that is half of a character pairs
  // up with its neighbour again.
  bool codeUnits = isSurrogate(separator);
  std::u32string joined;
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (i > 0) joined.push_back(separator);
    std::u32string units = toUnits(components[i], codeUnits);
    joined += escapeUnits(std::u32string_view(units), separator, nullptr);
  }
  return fromUnits(joined);
}

}  // namespace steward
