#include "CommonLib/KeyedContainer.h"

#include <algorithm>

namespace steward {

namespace {

// The "_id_" value of an element, without taking a reference to it: this
// is the inner loop of every record lookup. Records are small dictionaries,
// scanned faster than hashed.
const Value* idValueOf(const ValueRef& element) {
  if (!element || element->kind() != ValueKind::kDictionary) return nullptr;
  const auto& dictionary = static_cast<const Dictionary&>(*element);
  if (dictionary.count() > 16)
    return dictionary.objectForKey(kRecordIdKey).get();  // still held by it
  for (const auto& entry : dictionary.entries())
    if (entry.key == kRecordIdKey) return entry.value.get();
  return nullptr;
}

bool isRecord(const ValueRef& element) { return idValueOf(element) != nullptr; }

const std::string* idText(const Value* id) {
  if (!id || id->kind() != ValueKind::kString) return nullptr;
  return &static_cast<const String*>(id)->str();
}

}  // namespace

const std::string* recordIdOf(const ValueRef& element) {
  return idText(idValueOf(element));
}

std::optional<KeyedContainer> KeyedContainer::of(const ValueRef& value) {
  if (!value || (value->kind() != ValueKind::kDictionary &&
                 value->kind() != ValueKind::kArray))
    return std::nullopt;
  return KeyedContainer(value);
}

KeyedContainer::KeyedContainer(ValueRef value)
    : value_(std::move(value)),
      dictionary_(as<Dictionary>(value_)),
      array_(as<Array>(value_)) {}

bool KeyedContainer::isRecordArray() const {
  if (!array_ || array_->count() == 0) return false;
  if (index_) return index_->allRecords;
  for (const auto& element : array_->objects())
    if (!isRecord(element)) return false;
  return true;
}

ValueRef KeyedContainer::objectForKey(std::string_view key) const {
  if (dictionary_) return dictionary_->objectForKey(key);
  if (index_) {
    auto found = index_->positions.find(key);
    if (!index_->allRecords || found == index_->positions.end()) return nullptr;
    return array_->objects()[found->second.second];
  }
  ValueRef last;
  for (const auto& element : array_->objects()) {
    const Value* id = idValueOf(element);
    if (!id) return nullptr;
    const std::string* text = idText(id);
    if (text && *text == key) last = element;
  }
  return last;
}

std::ptrdiff_t KeyedContainer::firstRecordPosition(std::string_view key) const {
  if (!isRecordArray()) return -1;
  if (index_) {
    auto found = index_->positions.find(key);
    return found == index_->positions.end()
               ? -1
               : static_cast<std::ptrdiff_t>(found->second.first);
  }
  const auto& objects = array_->objects();
  for (std::size_t i = 0; i < objects.size(); ++i) {
    const std::string* id = recordIdOf(objects[i]);
    if (id && *id == key) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

void KeyedContainer::setObject(const ValueRef& value, std::string_view key) {
  if (dictionary_) {
    auto mutableDictionary = as<MutableDictionary>(value_);
    if (!mutableDictionary) return;
    if (value)
      mutableDictionary->setObject(value, std::string(key));
    else
      mutableDictionary->removeObjectForKey(key);
    return;
  }
  auto mutableArray = as<MutableArray>(value_);
  auto record = as<MutableDictionary>(value);
  if (!mutableArray || !record) return;
  removeObjectForKey(key);
  // A record that already carries this id keeps its own id object.
  const std::string* oldId = recordIdOf(record);
  bool renamed = oldId && *oldId != key;
  if (!oldId || renamed)
    record->setObject(makeString(std::string(key)), std::string(kRecordIdKey));
  mutableArray->addObject(record);
  if (!index_) return;
  if (renamed) {
    // The record may sit in the array under its old id as well.
    rebuildIndex();
    return;
  }
  std::size_t position = mutableArray->count() - 1;
  auto [entry, added] =
      index_->positions.try_emplace(std::string(key), position, position);
  if (!added) entry->second.second = position;
}

void KeyedContainer::removeObjectForKey(std::string_view key) {
  if (dictionary_) {
    if (auto mutableDictionary = as<MutableDictionary>(value_))
      mutableDictionary->removeObjectForKey(key);
    return;
  }
  auto mutableArray = as<MutableArray>(value_);
  if (!mutableArray) return;
  std::ptrdiff_t position = firstRecordPosition(key);
  if (position < 0) return;
  mutableArray->removeObjectAtIndex(static_cast<std::size_t>(position));
  if (index_) rebuildIndex();
}

std::vector<std::pair<std::string, ValueRef>> KeyedContainer::entries() const {
  std::vector<std::pair<std::string, ValueRef>> result;
  if (dictionary_) {
    result.reserve(dictionary_->count());
    for (const auto& entry : dictionary_->entries())
      result.emplace_back(entry.key, entry.value);
    return result;
  }
  result.reserve(array_->count());
  for (const auto& element : array_->objects())
    if (const std::string* id = recordIdOf(element))
      result.emplace_back(*id, element);
  return result;
}

void KeyedContainer::indexRecords(std::size_t expectedRecords) {
  if (array_ && !index_) rebuildIndex(expectedRecords);
}

void KeyedContainer::rebuildIndex(std::size_t expectedRecords) {
  // Rebuilt in place, so that copies of this handle see the new table too.
  if (!index_) index_ = std::make_shared<RecordIndex>();
  RecordIndex& index = *index_;
  index.allRecords = true;
  index.positions.clear();
  const auto& objects = array_->objects();
  index.positions.reserve(std::max(objects.size(), expectedRecords));
  for (std::size_t i = 0; i < objects.size(); ++i) {
    if (!isRecord(objects[i])) index.allRecords = false;
    const std::string* id = recordIdOf(objects[i]);
    if (!id) continue;
    auto [entry, added] = index.positions.try_emplace(*id, i, i);
    if (!added) entry->second.second = i;
  }
}

}  // namespace steward
