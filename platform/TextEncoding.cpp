#include "platform/TextEncoding.h"

namespace steward::unicode {
namespace {

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Decodes one code point of valid UTF-8 starting at *pos and advances it.
char32_t nextCodePoint(std::string_view utf8, std::size_t* pos) {
  auto byte = [&](std::size_t i) {
    return static_cast<char32_t>(static_cast<unsigned char>(utf8[i]));
  };
  char32_t lead = byte(*pos);
  int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
  char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
  for (int i = 1; i <= extra; ++i) c = (c << 6) | (byte(*pos + i) & 0x3F);
  *pos += static_cast<std::size_t>(extra) + 1;
  return c;
}

}  // namespace

namespace {

// The length of the well-formed UTF-8 sequence at bytes[i], with its code
// point in *c; 0 when none starts there.
std::size_t sequenceAt(std::string_view bytes, std::size_t i, char32_t* c) {
  unsigned char lead = static_cast<unsigned char>(bytes[i]);
  if (lead < 0x80) {
    *c = lead;
    return 1;
  }
  std::size_t extra;
  char32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3, min = 0x10000;
  } else {
    return 0;
  }
  if (bytes.size() - i <= extra) return 0;
  *c = lead & (0x3F >> extra);
  for (std::size_t k = 1; k <= extra; ++k) {
    unsigned char b = static_cast<unsigned char>(bytes[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    *c = (*c << 6) | (b & 0x3F);
  }
  if (*c < min || *c > 0x10FFFF || isSurrogate(*c)) return 0;
  return extra + 1;
}

}  // namespace

bool isValidUTF8(std::string_view bytes) {
  char32_t c;
  for (std::size_t i = 0, n; i < bytes.size(); i += n) {
    if ((n = sequenceAt(bytes, i, &c)) == 0) return false;
  }
  return true;
}

std::string replacingCharacters(std::string_view bytes, bool (*keep)(char32_t),
                                std::string_view replacement) {
  std::string out;
  out.reserve(bytes.size());
  char32_t c;
  for (std::size_t i = 0, n; i < bytes.size(); i += n) {
    n = sequenceAt(bytes, i, &c);
    if (n == 0) {
      n = 1;
      out.append(replacement);
    } else if (keep(c)) {
      out.append(bytes.substr(i, n));
    } else {
      out.append(replacement);
    }
  }
  return out;
}

void appendUTF8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool utf16ToUTF8(std::string_view bytes, bool bigEndian, std::string* out) {
  if (bytes.size() % 2 != 0) return false;
  auto unit = [&](std::size_t i) {
    auto hi = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
    auto lo = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
    return static_cast<char32_t>((hi << 8) | lo);
  };
  out->reserve(out->size() + bytes.size());
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    char32_t c = unit(i);
    if (c >= 0xDC00 && c <= 0xDFFF) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 2 >= bytes.size()) return false;
      char32_t low = unit(i + 2);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    appendUTF8(c, out);
  }
  return true;
}

std::uint64_t appendUTF16BE(std::string_view utf8, std::string* out) {
  std::uint64_t units = 0;
  auto put = [&](char32_t u) {
    out->push_back(static_cast<char>(u >> 8));
    out->push_back(static_cast<char>(u & 0xFF));
    ++units;
  };
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t c = nextCodePoint(utf8, &pos);
    if (c < 0x10000) {
      put(c);
    } else {
      c -= 0x10000;
      put(0xD800 + (c >> 10));
      put(0xDC00 + (c & 0x3FF));
    }
  }
  return units;
}

}  // namespace steward::unicode
