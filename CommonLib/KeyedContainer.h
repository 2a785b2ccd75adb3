// One keyed interface over dictionaries and arrays, so that every key-path
// operation is written once for both. A dictionary answers by its keys; an
// array answers through its records, the dictionaries in it that carry an
// "_id_" entry, keyed by that id. Record ids are strings: a record whose id
// is of another kind matches no key.
//
// A KeyedContainer is a small handle: copies refer to the same container.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/PropertyValue.h"

namespace steward {

// The id entry of a record.
inline constexpr std::string_view kRecordIdKey = "_id_";

class KeyedContainer {
 public:
  // None for a value that is neither a dictionary nor an array.
  static std::optional<KeyedContainer> of(const ValueRef& value);

  const ValueRef& value() const { return value_; }
  bool isArray() const { return array_ != nullptr; }
  bool isMutable() const { return value_->isMutable(); }

  // A non-empty array whose every element is a dictionary with an "_id_".
  bool isRecordArray() const;

  // A dictionary's value for the key. An array's last record with that id;
  // none when any element of the array is not a record.
  ValueRef objectForKey(std::string_view key) const;

  // Changes mutable containers only. A dictionary stores the value under
  // the key, or removes the key for none. An array takes only a mutable
  // dictionary: the record with that id goes, the value's own "_id_" is set
  // to the key and the value is appended.
  void setObject(const ValueRef& value, std::string_view key);

  // A dictionary loses the key; a record array its first record with that
  // id (a repeated id thus is looked up last and removed first).
  void removeObjectForKey(std::string_view key);

  // Keys with their values in order: every entry of a dictionary, every
  // record of an array whose id is a string (repeated ids each time).
  std::vector<std::pair<std::string, ValueRef>> entries() const;

  // From now on an array keeps a table of its record ids, so that lookups
  // and stores cost constant time instead of a scan. The array must then
  // change only through this handle (and its copies) while it is used.
  // `expectedRecords` sizes the table for records still to come.
  void indexRecords(std::size_t expectedRecords = 0);

 private:
  struct RecordIndex {
    bool allRecords = true;  // every element is a dictionary with "_id_"
    struct TextHash {
      using is_transparent = void;
      std::size_t operator()(std::string_view text) const {
        return std::hash<std::string_view>{}(text);
      }
    };
    // First and last position of each string id.
    std::unordered_map<std::string, std::pair<std::size_t, std::size_t>,
                       TextHash, std::equal_to<>>
        positions;
  };

  explicit KeyedContainer(ValueRef value);

  void rebuildIndex(std::size_t expectedRecords = 0);
  // Position of the first record with that id in a record array, or -1.
  std::ptrdiff_t firstRecordPosition(std::string_view key) const;

  ValueRef value_;
  DictionaryRef dictionary_;  // exactly one of these two is set
  ArrayRef array_;
  std::shared_ptr<RecordIndex> index_;
};

// The id of a record as text; none when the value is not a record or its id
// is not a string.
const std::string* recordIdOf(const ValueRef& element);

}  // namespace steward
