// The share of the read bound (see PropertyList.h) that a reader has left,
// counted as values are built.
#pragma once

#include <cstdint>

#include "platform/PropertyList.h"

namespace steward {

class ReadBudget {
 public:
  explicit ReadBudget(std::uint64_t inputBytes) { addInput(inputBytes); }

  // More input has arrived (a reader fed in pieces).
  void addInput(std::uint64_t bytes) {
    input_ += bytes;
    objectLimit_ = readObjectLimit(input_);
    byteLimit_ = readByteLimit(input_);
  }
  // Accounts for `objects` values holding `bytes` bytes of text and data;
  // false, with *reason set, once the bound is passed.
  bool spend(std::uint64_t objects, std::uint64_t bytes, const char** reason) {
    objects_ += objects;
    bytes_ += bytes;
    if (objects_ > objectLimit_) {
      *reason = kTooManyValues;
    } else if (bytes_ > byteLimit_) {
      *reason = kTooMuchText;
    } else {
      return true;
    }
    return false;
  }
  // Accounts for one value, with the bytes of text or data it holds.
  bool spend(const Value& value, const char** reason) {
    return spend(1, textBytesOf(value), reason);
  }
  std::uint64_t objectsSpent() const { return objects_; }

  // The bytes a string or data value holds; 0 for every other kind.
  static std::uint64_t textBytesOf(const Value& value) {
    switch (value.kind()) {
      case ValueKind::kString: return static_cast<const String&>(value).str().size();
      case ValueKind::kData: return static_cast<const Data&>(value).bytes().size();
      default: return 0;
    }
  }
  std::uint64_t bytesSpent() const { return bytes_; }

  static constexpr const char* kTooManyValues =
      "property list holds more values than its size allows";
  static constexpr const char* kTooMuchText =
      "property list holds more text and data than its size allows";

 private:
  std::uint64_t input_ = 0;
  std::uint64_t objectLimit_ = 0;
  std::uint64_t byteLimit_ = 0;
  std::uint64_t objects_ = 0;
  std::uint64_t bytes_ = 0;
};

}  // namespace steward
