#include "platform/Format.h"

#include <cstdio>

namespace steward {

namespace {

// Printing of one conversion through snprintf, with the directive rebuilt so
// that the length modifier matches the 64-bit argument.
template <class T>
void printOne(std::string directive, char conversion, const char* length, T arg,
              std::string* out) {
  directive += length;
  directive += conversion;
  int n = std::snprintf(nullptr, 0, directive.c_str(), arg);
  if (n <= 0) return;
  std::string buffer(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(buffer.data(), buffer.size(), directive.c_str(), arg);
  buffer.resize(static_cast<std::size_t>(n));
  out->append(buffer);
}

void printArg(const std::string& directive, char conversion, const FormatArg& arg,
              std::string* out) {
  using Type = FormatArg::Type;
  switch (conversion) {
    case 'd':
    case 'i':
      if (arg.type == Type::kSigned) return printOne(directive, 'd', "ll", static_cast<long long>(arg.i), out);
      if (arg.type == Type::kUnsigned) return printOne(directive, 'd', "ll", static_cast<long long>(arg.u), out);
      break;
    case 'u':
    case 'x':
    case 'X':
    case 'o':
      if (arg.type == Type::kUnsigned) return printOne(directive, conversion, "ll", static_cast<unsigned long long>(arg.u), out);
      if (arg.type == Type::kSigned) return printOne(directive, conversion, "ll", static_cast<unsigned long long>(arg.i), out);
      break;
    case 'c':
      if (arg.type == Type::kSigned || arg.type == Type::kUnsigned)
        return printOne(directive, 'c', "", static_cast<int>(arg.type == Type::kSigned ? arg.i : static_cast<std::int64_t>(arg.u)), out);
      break;
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
      if (arg.type == Type::kDouble) return printOne(directive, conversion, "", arg.d, out);
      break;
    case 's':
      if (arg.type == Type::kText)
        return printOne(directive, 's', "", std::string(arg.text).c_str(), out);
      break;
    case 'p':
      if (arg.type == Type::kPointer) return printOne(directive, 'p', "", arg.pointer, out);
      break;
    case '@':
      if (arg.type == Type::kValue) {
        out->append(textOf(arg.value));
        return;
      }
      if (arg.type == Type::kText) {
        out->append(arg.text);
        return;
      }
      break;
  }
  out->append("(?)");
}

bool isLengthModifier(char c) {
  return c == 'h' || c == 'l' || c == 'q' || c == 'z' || c == 'j' || c == 't' || c == 'L';
}

}  // namespace

std::string formatWithArgs(std::string_view format,
                           const std::vector<FormatArg>& args) {
  std::string out;
  out.reserve(format.size() + 16 * args.size());
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%') {
      out.push_back(c);
      continue;
    }
    std::size_t start = i++;
    if (i < format.size() && format[i] == '%') {
      out.push_back('%');
      continue;
    }
    // Flags, width and precision are passed on; '*' is not supported.
    while (i < format.size() && std::string_view("-+ #0123456789.").find(format[i]) != std::string_view::npos) ++i;
    std::string directive(format.substr(start, i - start));
    while (i < format.size() && isLengthModifier(format[i])) ++i;
    if (i >= format.size()) {
      out.append(format.substr(start));
      break;
    }
    if (next < args.size())
      printArg(directive, format[i], args[next++], &out);
    else
      out.append("(?)");
  }
  return out;
}

}  // namespace steward
