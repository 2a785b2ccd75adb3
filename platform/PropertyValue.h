// Property values: the tree model of requests, replies, contexts and most
// library files. Values are shared objects with identity: a container holds
// the very object placed into it, and copies are always explicit. "None" is
// an empty handle (nullptr); containers never hold none.
//
// Containers and text come in a fixed and a mutable flavour; the mutable one
// is a subclass, so a function that changes a tree says so in its types.
//
// Equality (isEqual, hash) is by value, as set membership uses it:
//   - integers and reals compare by numeric value (1 == 1.0);
//   - booleans equal only booleans: true is not the integer 1, so a value
//     read back from a file keeps its kind in every comparison;
//   - reals: -0.0 equals 0.0, and NaN equals NaN;
//   - dictionaries compare entries regardless of key order;
//   - foreign values equal only themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace steward {

enum class ValueKind {
  kDictionary,
  kArray,
  kString,
  kInteger,
  kReal,
  kBoolean,
  kData,
  kDate,
  kForeign,  // not a property value: writers refuse it
};

class Value;
class Dictionary;
class MutableDictionary;
class Array;
class MutableArray;
class String;
class MutableString;
class Integer;
class Real;
class Boolean;
class Data;
class MutableData;
class Date;

using ValueRef = std::shared_ptr<Value>;
using DictionaryRef = std::shared_ptr<Dictionary>;
using MutableDictionaryRef = std::shared_ptr<MutableDictionary>;
using ArrayRef = std::shared_ptr<Array>;
using MutableArrayRef = std::shared_ptr<MutableArray>;
using StringRef = std::shared_ptr<String>;
using MutableStringRef = std::shared_ptr<MutableString>;
using IntegerRef = std::shared_ptr<Integer>;
using RealRef = std::shared_ptr<Real>;
using BooleanRef = std::shared_ptr<Boolean>;
using DataRef = std::shared_ptr<Data>;
using MutableDataRef = std::shared_ptr<MutableData>;
using DateRef = std::shared_ptr<Date>;

class Value {
 public:
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  virtual ~Value() = default;

  virtual ValueKind kind() const = 0;
  virtual bool isMutable() const { return false; }
  virtual bool isEqual(const Value& other) const = 0;
  virtual std::size_t hash() const = 0;
  // A new fixed value equal to this one.
  virtual ValueRef copy() const = 0;

 protected:
  Value() = default;
};

// The downcast of a handle; none when the value is of another class.
// as<Dictionary> accepts both flavours, as<MutableDictionary> only the
// mutable one.
template <class T>
std::shared_ptr<T> as(const ValueRef& value) {
  return std::dynamic_pointer_cast<T>(value);
}

// Equality of two handles; two nones are equal, none and a value are not.
bool isEqual(const ValueRef& a, const ValueRef& b);

// Hashing and equality functors, for sets and maps keyed by value.
struct ValueHash {
  std::size_t operator()(const ValueRef& v) const { return v ? v->hash() : 0; }
};
struct ValueEqual {
  bool operator()(const ValueRef& a, const ValueRef& b) const {
    return isEqual(a, b);
  }
};

// The "%@" text: a string as itself, a number in decimal, a boolean as 1 or
// 0, anything else as its description; none as "(null)".
std::string textOf(const ValueRef& value);

// A readable, multi-line description of any tree, in the old text form of
// property lists; dictionary keys are sorted, so equal trees describe alike.
// Indentation stops growing 64 levels down, so the text of any tree costs
// time and space linear in the tree. Dates outside the years 0000 to 9999
// are shown by their seconds since the reference date.
std::string describe(const ValueRef& value);

// The hash of dictionary keys in a dictionary's index, keyed by a random
// seed drawn once per process: keys cannot be chosen to collide.
std::size_t dictionaryKeyHash(std::string_view key);

class String : public Value {
 public:
  explicit String(std::string utf8 = {}) : value_(std::move(utf8)) {}

  ValueKind kind() const override { return ValueKind::kString; }
  bool isEqual(const Value& other) const override;
  std::size_t hash() const override;
  ValueRef copy() const override;
  MutableStringRef mutableCopy() const;

  const std::string& str() const { return value_; }

 protected:
  std::string value_;
};

class MutableString final : public String {
 public:
  using String::String;
  bool isMutable() const override { return true; }

  void setString(std::string utf8) { value_ = std::move(utf8); }
  void appendString(std::string_view utf8) { value_.append(utf8); }
  // Direct access for editors that work on the bytes in place.
  std::string& mutableStr() { return value_; }
};

class Integer final : public Value {
 public:
  explicit Integer(std::int64_t value) : value_(value) {}

  ValueKind kind() const override { return ValueKind::kInteger; }
  bool isEqual(const Value& other) const override;
  std::size_t hash() const override;
  ValueRef copy() const override;

  std::int64_t value() const { return value_; }

 private:
  std::int64_t value_;
};

class Real final : public Value {
 public:
  explicit Real(double value) : value_(value) {}

  ValueKind kind() const override { return ValueKind::kReal; }
  bool isEqual(const Value& other) const override;
  std::size_t hash() const override;
  ValueRef copy() const override;

  double value() const { return value_; }

 private:
  double value_;
};

class Boolean final : public Value {
 public:
  explicit Boolean(bool value) : value_(value) {}

  ValueKind kind() const override { return ValueKind::kBoolean; }
  bool isEqual(const Value& other) const override;
  std::size_t hash() const override;
  ValueRef copy() const override;

  bool value() const { return value_; }

 private:
  bool value_;
};

class Data : public Value {
 public:
  Data() = default;
  explicit Data(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  explicit Data(std::string_view bytes) : bytes_(bytes.begin(), bytes.end()) {}

  ValueKind kind() const override { return ValueKind::kData; }
  bool isEqual(const Value& other) const override;
  std::size_t hash() const override;
  ValueRef copy() const override;
  MutableDataRef mutableCopy() const;

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  std::string_view view() const {
    return {reinterpret_cast<const char*>(bytes_.data()), bytes_.size()};
  }

 protected:
  std::vector<std::uint8_t> bytes_;
};

class MutableData final : public Data {
 public:
  using Data::Data;
  bool isMutable() const override { return true; }

  std::vector<std::uint8_t>& mutableBytes() { return bytes_; }
};

// A point in time: seconds since 2001-01-01T00:00:00Z, the reference date
// of the property-list formats; fractions of a second are kept.
class Date final : public Value {
 public:
  static constexpr double kUnixEpochOffset = 978307200.0;

  explicit Date(double secondsSinceReference) : seconds_(secondsSinceReference) {}
  static DateRef fromUnixTime(double seconds) {
    return std::make_shared<Date>(seconds - kUnixEpochOffset);
  }

  ValueKind kind() const override { return ValueKind::kDate; }
  bool isEqual(const Value& other) const override;
  std::size_t hash() const override;
  ValueRef copy() const override;

  double secondsSinceReference() const { return seconds_; }
  double unixTime() const { return seconds_ + kUnixEpochOffset; }

 private:
  double seconds_;
};

// A container dropping its last reference frees the containers below it
// one after the other, not by recursion, however deep the tree.
class Array : public Value {
 public:
  Array() = default;
  explicit Array(std::vector<ValueRef> objects);
  ~Array() override;

  ValueKind kind() const override { return ValueKind::kArray; }
  bool isEqual(const Value& other) const override;
  std::size_t hash() const override;
  ValueRef copy() const override;
  MutableArrayRef mutableCopy() const;

  std::size_t count() const { return objects_.size(); }
  // None when the index is out of range.
  ValueRef objectAtIndex(std::size_t index) const;
  const std::vector<ValueRef>& objects() const { return objects_; }
  bool containsObject(const ValueRef& value) const;

 protected:
  std::vector<ValueRef> objects_;
};

// Mutating operations throw std::invalid_argument for a none value and
// std::out_of_range for a bad index, as the platform's containers raise.
class MutableArray final : public Array {
 public:
  using Array::Array;
  bool isMutable() const override { return true; }

  void reserve(std::size_t capacity) { objects_.reserve(capacity); }
  void addObject(ValueRef value);
  void insertObject(ValueRef value, std::size_t index);
  void replaceObjectAtIndex(std::size_t index, ValueRef value);
  void removeObjectAtIndex(std::size_t index);
  void removeLastObject();
  void removeAllObjects() { objects_.clear(); }
  void addObjectsFromArray(const Array& other);
};

// String keys in insertion order: the dictionary's own key order. Replacing
// the value of a key keeps its place.
class Dictionary : public Value {
 public:
  struct Entry {
    std::string key;
    ValueRef value;
  };

  Dictionary() = default;
  // A later entry of a repeated key replaces the earlier one's value.
  explicit Dictionary(std::vector<Entry> entries);
  ~Dictionary() override;

  ValueKind kind() const override { return ValueKind::kDictionary; }
  bool isEqual(const Value& other) const override;
  std::size_t hash() const override;
  ValueRef copy() const override;
  MutableDictionaryRef mutableCopy() const;

  std::size_t count() const { return entries_.size(); }
  ValueRef objectForKey(std::string_view key) const;
  const std::vector<Entry>& entries() const { return entries_; }
  std::vector<std::string> allKeys() const;
  std::vector<ValueRef> allValues() const;

 protected:
  // Position of the key in entries_, or -1.
  std::ptrdiff_t find(std::string_view key) const;
  void append(std::string key, ValueRef value);
  void eraseAt(std::size_t position);
  void clear();

  std::vector<Entry> entries_;

 private:
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const {
      return dictionaryKeyHash(key);
    }
  };
  // Built once a dictionary grows past a few keys; small ones scan.
  std::unique_ptr<
      std::unordered_map<std::string, std::size_t, KeyHash, std::equal_to<>>>
      index_;
};

class MutableDictionary final : public Dictionary {
 public:
  bool isMutable() const override { return true; }

  void reserve(std::size_t capacity) { entries_.reserve(capacity); }
  // Throws std::invalid_argument for a none value.
  void setObject(ValueRef value, std::string key);
  void removeObjectForKey(std::string_view key);
  void removeAllObjects() { clear(); }
  void addEntriesFromDictionary(const Dictionary& other);
};

// Something that is not a property value, as a plug-in's reply may hold;
// containers take it, writers refuse it.
class ForeignValue final : public Value {
 public:
  explicit ForeignValue(std::string description)
      : description_(std::move(description)) {}

  ValueKind kind() const override { return ValueKind::kForeign; }
  bool isEqual(const Value& other) const override { return &other == this; }
  std::size_t hash() const override;
  ValueRef copy() const override;

  const std::string& description() const { return description_; }

 private:
  std::string description_;
};

// Short factories for the common cases.
inline StringRef makeString(std::string utf8) {
  return std::make_shared<String>(std::move(utf8));
}
inline MutableStringRef makeMutableString(std::string utf8 = {}) {
  return std::make_shared<MutableString>(std::move(utf8));
}
inline IntegerRef makeInteger(std::int64_t value) {
  return std::make_shared<Integer>(value);
}
inline RealRef makeReal(double value) { return std::make_shared<Real>(value); }
inline BooleanRef makeBoolean(bool value) {
  return std::make_shared<Boolean>(value);
}
inline DataRef makeData(std::string_view bytes) {
  return std::make_shared<Data>(bytes);
}
inline DateRef makeDate(double secondsSinceReference) {
  return std::make_shared<Date>(secondsSinceReference);
}
inline MutableDictionaryRef makeMutableDictionary() {
  return std::make_shared<MutableDictionary>();
}
inline MutableArrayRef makeMutableArray() {
  return std::make_shared<MutableArray>();
}

}  // namespace steward
