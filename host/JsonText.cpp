#include "host/JsonText.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/CivilTime.h"
#include "platform/TextEncoding.h"

namespace steward {

namespace {

void appendString(std::string_view text, std::string* out) {
  *out += '"';
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      *out += '\\';
      *out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      *out += escaped;
    } else {
      *out += static_cast<char>(c);
    }
  }
  *out += '"';
}

void appendValue(const ValueRef& value, std::string* out) {
  if (auto string = as<String>(value)) return appendString(string->str(), out);
  if (auto integer = as<Integer>(value)) {
    *out += std::to_string(integer->value());
  } else if (auto real = as<Real>(value)) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", real->value());
    *out += std::isfinite(real->value()) ? text : "null";
  } else if (auto boolean = as<Boolean>(value)) {
    *out += boolean->value() ? "true" : "false";
  } else if (auto date = as<Date>(value)) {
    appendString(isoTime(date->unixTime()), out);
  } else if (auto data = as<Data>(value)) {
    appendString("<" + std::to_string(data->bytes().size()) + " bytes>", out);
  } else if (auto array = as<Array>(value)) {
    *out += '[';
    for (std::size_t i = 0; i < array->count(); ++i) {
      if (i) *out += ',';
      appendValue(array->objectAtIndex(i), out);
    }
    *out += ']';
  } else if (auto dictionary = as<Dictionary>(value)) {
    *out += '{';
    for (std::size_t i = 0; i < dictionary->entries().size(); ++i) {
      if (i) *out += ',';
      appendString(dictionary->entries()[i].key, out);
      *out += ':';
      appendValue(dictionary->entries()[i].value, out);
    }
    *out += '}';
  } else {
    *out += "null";
  }
}

// A recursive reader; `ok` turns false at the first fault.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  ValueRef document() {
    ValueRef value = next(0);
    skipBlanks();
    return ok_ && position_ == text_.size() ? value : nullptr;
  }

 private:
  static constexpr int kMaximumDepth = 256;

  void skipBlanks() {
    while (position_ < text_.size() && std::string_view(" \t\r\n").find(text_[position_]) !=
                                           std::string_view::npos) {
      ++position_;
    }
  }
  bool take(char c) {
    skipBlanks();
    if (position_ < text_.size() && text_[position_] == c) return ++position_, true;
    return false;
  }
  bool takeWord(std::string_view word) {
    if (text_.substr(position_, word.size()) != word) return false;
    position_ += word.size();
    return true;
  }
  ValueRef fail() {
    ok_ = false;
    return nullptr;
  }

  ValueRef next(int depth) {
    skipBlanks();
    if (!ok_ || position_ >= text_.size() || depth > kMaximumDepth) return fail();
    char c = text_[position_];
    if (c == '{') return object(depth);
    if (c == '[') return array(depth);
    if (c == '"') {
      std::string text;
      return string(&text) ? makeString(std::move(text)) : fail();
    }
    if (takeWord("true")) return makeBoolean(true);
    if (takeWord("false")) return makeBoolean(false);
    if (takeWord("null")) return nullptr;
    return number();
  }

  ValueRef object(int depth) {
    ++position_;
    auto dictionary = makeMutableDictionary();
    if (take('}')) return dictionary;
    do {
      std::string key;
      skipBlanks();
      if (!string(&key) || !take(':')) return fail();
      if (ValueRef value = next(depth + 1)) dictionary->setObject(value, key);
    } while (ok_ && take(','));
    return ok_ && take('}') ? dictionary : fail();
  }

  ValueRef array(int depth) {
    ++position_;
    auto values = makeMutableArray();
    if (take(']')) return values;
    do {
      if (ValueRef value = next(depth + 1)) values->addObject(value);
    } while (ok_ && take(','));
    return ok_ && take(']') ? values : fail();
  }

  bool hex4(char32_t* out) {
    if (position_ + 4 > text_.size()) return false;
    std::string digits(text_.substr(position_, 4));
    char* end = nullptr;
    *out = static_cast<char32_t>(std::strtoul(digits.c_str(), &end, 16));
    position_ += 4;
    return end == digits.c_str() + 4;
  }

  bool string(std::string* out) {
    if (position_ >= text_.size() || text_[position_] != '"') return false;
    for (++position_; position_ < text_.size();) {
      char c = text_[position_++];
      if (c == '"') return unicode::isValidUTF8(*out);
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (position_ >= text_.size()) return false;
      char escape = text_[position_++];
      static constexpr std::string_view kFrom = "\"\\/bfnrt", kTo = "\"\\/\b\f\n\r\t";
      if (std::size_t at = kFrom.find(escape); at != std::string_view::npos) {
        *out += kTo[at];
        continue;
      }
      char32_t code = 0, low = 0;
      if (escape != 'u' || !hex4(&code)) return false;
      if (code >= 0xD800 && code < 0xDC00 && takeWord("\\u") && hex4(&low) && low >= 0xDC00 &&
          low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      } else if (code >= 0xD800 && code < 0xE000) {
        return false;
      }
      unicode::appendUTF8(code, out);
    }
    return false;
  }

  ValueRef number() {
    std::size_t start = position_;
    while (position_ < text_.size() &&
           std::string_view("+-0123456789.eE").find(text_[position_]) != std::string_view::npos) {
      ++position_;
    }
    std::string digits(text_.substr(start, position_ - start));
    char* end = nullptr;
    if (digits.find_first_of(".eE") == std::string::npos) {
      long long integer = std::strtoll(digits.c_str(), &end, 10);
      if (!digits.empty() && end == digits.c_str() + digits.size()) return makeInteger(integer);
    } else {
      double real = std::strtod(digits.c_str(), &end);
      if (end == digits.c_str() + digits.size()) return makeReal(real);
    }
    return fail();
  }

  std::string_view text_;
  std::size_t position_ = 0;
  bool ok_ = true;
};

}  // namespace

std::string jsonText(const ValueRef& value) {
  std::string out;
  appendValue(value, &out);
  return out;
}

ValueRef valueOfJson(std::string_view text) { return Reader(text).document(); }

std::string isoTime(double unixTime) {
  CivilTime civil;
  if (!civilTimeOf(unixTime - Date::kUnixEpochOffset, &civil)) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02u:%02u:%02uZ", civil.year, civil.month,
                civil.day, civil.hour, civil.minute, civil.second);
  return text;
}

}  // namespace steward
