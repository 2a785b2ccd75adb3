// printf-style formatting with one addition, "%@", which inserts the text
// form of a value (textOf). Format strings are written as the messages
// read, so each one can be checked against its wording by eye:
//   stringWithFormat("[%d] error in get_and_lock_context: %d (errno=%d)\n",
//                    getpid(), rc, errno);
// Arguments are type-checked at run time: a conversion given an argument of
// the wrong family (a string for %d, say) prints "(?)" instead of reading
// garbage. "%@" takes a ValueRef, a std::string or a C string.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/PropertyValue.h"

namespace steward {

// One formatting argument, of whichever family it was given in.
struct FormatArg {
  enum class Type { kSigned, kUnsigned, kDouble, kText, kValue, kPointer };
  Type type;
  std::int64_t i = 0;
  std::uint64_t u = 0;
  double d = 0;
  std::string_view text;
  ValueRef value;
  const void* pointer = nullptr;

  template <class T>
  FormatArg(const T& arg) {  // NOLINT: implicit on purpose
    if constexpr (std::is_same_v<T, bool>) {
      type = Type::kSigned, i = arg;
    } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
      type = Type::kSigned, i = arg;
    } else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
      type = Type::kUnsigned, u = static_cast<std::uint64_t>(arg);
    } else if constexpr (std::is_floating_point_v<T>) {
      type = Type::kDouble, d = arg;
    } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
      type = Type::kText, text = std::string_view(arg);
    } else if constexpr (std::is_convertible_v<const T&, ValueRef>) {
      type = Type::kValue, value = arg;
    } else {
      static_assert(std::is_pointer_v<T>, "unsupported format argument");
      type = Type::kPointer, pointer = arg;
    }
  }
  FormatArg(const char* arg)  // NOLINT
      : type(Type::kText), text(arg ? std::string_view(arg) : "(null)") {}
  FormatArg(char* arg) : FormatArg(static_cast<const char*>(arg)) {}  // NOLINT
};

std::string formatWithArgs(std::string_view format,
                           const std::vector<FormatArg>& args);

template <class... Args>
std::string stringWithFormat(std::string_view format, const Args&... args) {
  return formatWithArgs(format, {FormatArg(args)...});
}

}  // namespace steward
