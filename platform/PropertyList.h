// Reading and writing property lists in their file formats. The readers are
// strict: anything that is not a property list fails with a one-line reason
// in *error, and nothing is guessed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/PropertyValue.h"

namespace steward {

// What a read may build from n bytes of input, counting each value once
// per place it takes in the tree (an object shared by k places counts k
// times, as anyone walking the tree meets it k times) and each dictionary
// key as a value: at most readObjectLimit(n) values, holding at most
// readByteLimit(n) bytes of strings, keys and data. Every reader refuses,
// with a one-line reason, input that would build more, so no small input
// becomes a large tree; every writer refuses a tree its reader would refuse.
inline constexpr std::uint64_t kReadValuesPerInputByte = 2;
inline constexpr std::uint64_t kReadValueFloor = 4096;
inline constexpr std::uint64_t kReadTextBytesPerInputByte = 8;
inline constexpr std::uint64_t kReadTextByteFloor = 1 << 20;
constexpr std::uint64_t readObjectLimit(std::uint64_t inputBytes) {
  return kReadValuesPerInputByte * inputBytes + kReadValueFloor;
}
constexpr std::uint64_t readByteLimit(std::uint64_t inputBytes) {
  return kReadTextBytesPerInputByte * inputBytes + kReadTextByteFloor;
}

// Whether a tree lies within the read bound for `inputBytes` bytes: the
// check a fuzzer makes of every reader's result. Stops counting early, so
// it costs at most the bound.
bool fitsReadBound(const ValueRef& root, std::uint64_t inputBytes);

enum class PropertyListFormat {
  kXML,
  kBinary,   // bplist00
  kOpenStep, // the old text form, strings-file form included (read only)
};

// Which parts of a tree read from bytes come out mutable.
enum class Mutability {
  kImmutable,
  kMutableContainers,
  kMutableContainersAndLeaves,  // strings and data too
};

// Reads any supported format, recognized by its bytes: "bplist" starts a
// binary list; "<?xml", "<!" or "<plist" after an optional byte order mark
// and white space an XML one; anything else is the old text form. On
// success *format (when given) names the format read. Zero bytes fail
// ("empty input"); text of only white space and comments is an empty
// strings file.
[[nodiscard]] ValueRef propertyListFromData(std::string_view bytes,
                                            Mutability mutability,
                                            PropertyListFormat* format,
                                            std::string* error);

// Reads a whole file; XML is parsed as it streams in, so a large file is
// never held twice. Errors begin with the path: "PATH: reason".
[[nodiscard]] ValueRef propertyListFromFile(const std::string& path,
                                            Mutability mutability,
                                            PropertyListFormat* format,
                                            std::string* error);

// Writes XML or binary; kOpenStep always fails. Fails on a tree holding
// anything that format cannot carry (a foreign value, text that is not
// UTF-8, for XML characters that XML 1.0 cannot carry).
[[nodiscard]] bool propertyListToData(const ValueRef& root,
                                      PropertyListFormat format,
                                      std::string* out, std::string* error);

}  // namespace steward
