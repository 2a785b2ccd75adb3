#include "stewardctl/JsonWriter.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/CivilTime.h"

namespace steward::ctl {
namespace {

std::string base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    unsigned n = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8 |
                 (unsigned char)bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) out += kDigits[(n >> shift) & 63];
  }
  if (i < bytes.size()) {
    unsigned n = (unsigned char)bytes[i] << 16;
    if (i + 1 < bytes.size()) n |= (unsigned char)bytes[i + 1] << 8;
    out += kDigits[n >> 18];
    out += kDigits[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string tagged(const char* tag, std::string_view text) {
  return std::string("{\"") + tag + "\":" + jsonString(text) + "}";
}

std::string realText(double value) {
  if (std::isnan(value)) return tagged("$real", "nan");
  if (std::isinf(value)) return tagged("$real", value > 0 ? "inf" : "-inf");
  // The shortest text that reads back as the same double.
  char buffer[40];
  auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  std::string text(buffer, end);
  if (text.find_first_of(".eE") == std::string::npos) text += ".0";
  return text;
}

std::string dateText(const Date& date) {
  CivilTime t;
  if (!civilTimeOf(date.secondsSinceReference(), &t)) return tagged("$real", "nan");
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02u:%02u:%02uZ", t.year, t.month,
                t.day, t.hour, t.minute, t.second);
  return tagged("$date", buffer);
}

void append(const ValueRef& value, std::string* out) {
  if (!value) {
    *out += "null";
    return;
  }
  switch (value->kind()) {
    case ValueKind::kDictionary: {
      *out += '{';
      const char* separator = "";
      for (const auto& entry : as<Dictionary>(value)->entries()) {
        *out += separator;
        *out += jsonString(entry.key);
        *out += ':';
        append(entry.value, out);
        separator = ",";
      }
      *out += '}';
      return;
    }
    case ValueKind::kArray: {
      *out += '[';
      const char* separator = "";
      for (const auto& item : as<Array>(value)->objects()) {
        *out += separator;
        append(item, out);
        separator = ",";
      }
      *out += ']';
      return;
    }
    case ValueKind::kString: *out += jsonString(as<String>(value)->str()); return;
    case ValueKind::kInteger: *out += std::to_string(as<Integer>(value)->value()); return;
    case ValueKind::kReal: *out += realText(as<Real>(value)->value()); return;
    case ValueKind::kBoolean: *out += as<Boolean>(value)->value() ? "true" : "false"; return;
    case ValueKind::kData: *out += tagged("$data", base64(as<Data>(value)->view())); return;
    case ValueKind::kDate: *out += dateText(*as<Date>(value)); return;
    case ValueKind::kForeign: *out += "null"; return;
  }
}

}  // namespace

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + '"';
}

std::string jsonOf(const ValueRef& value) {
  std::string out;
  append(value, &out);
  return out;
}

}  // namespace steward::ctl
