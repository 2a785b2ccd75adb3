#include "CommonLib/NestedContainerAdditions.h"

#include <cctype>
#include <cstdint>
#include <limits>
#include <span>
#include <unordered_set>
#include <vector>

#include "CommonLib/KeyedContainer.h"
#include "CommonLib/StringComponentAdditions.h"

namespace steward {

namespace {

// Key paths are split once; the operations then pass on the components, so
// that cutting a path into head and rest costs nothing.
using Path = std::span<const std::string>;

constexpr std::string_view kNewIdMarker = "_newid_";
constexpr std::string_view kObsoleteIdMarker = "_obsoleteid_";

std::vector<std::string> splitKeyPath(std::string_view keyPath) {
  return splitEscapedComponents(keyPath, kKeyPathSeparator);
}

KeyedContainer keyedView(const ValueRef& container) {
  return *KeyedContainer::of(container);
}

bool isRecordArray(const ValueRef& value) {
  auto container = KeyedContainer::of(value);
  return container && container->isRecordArray();
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool isMarkerSet(const Dictionary& record, std::string_view marker) {
  ValueRef value = record.objectForKey(marker);
  if (auto flag = as<Boolean>(value)) return flag->value();
  if (auto number = as<Integer>(value)) return number->value() != 0;
  if (auto number = as<Real>(value)) return number->value() != 0;
  if (auto text = as<String>(value))
    return equalsIgnoringCase(text->str(), "YES") ||
           equalsIgnoringCase(text->str(), "TRUE") || text->str() == "1";
  return false;
}

// The leading decimal integer of a component, 0 when it has none; very long
// numbers saturate (they are out of range either way).
std::int64_t leadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+'))
    negative = text[i++] == '-';
  std::int64_t value = 0;
  constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / 10;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]));
       ++i)
    value = value >= kLimit ? kLimit : value * 10 + (text[i] - '0');
  return negative ? -value : value;
}

ValueRef walk(ValueRef current, Path path) {
  for (const auto& component : path) {
    if (!current) break;
    auto container = KeyedContainer::of(current);
    current = container ? container->objectForKey(component) : nullptr;
  }
  return current;
}

bool extract(const KeyedContainer& source, Path path, KeyedContainer& target);

// Extracts the rest of a path from `value` into the target's entry `key`,
// which is made, empty and of the value's kind, when absent.
bool extractBelow(const ValueRef& value, Path rest, KeyedContainer& target,
                  const std::string& key) {
  auto child = KeyedContainer::of(value);
  if (!child) return false;  // a leaf has nothing below it
  ValueRef slot = target.objectForKey(key);
  if (!slot) {
    slot = child->isArray() ? ValueRef(makeMutableArray())
                            : ValueRef(makeMutableDictionary());
    target.setObject(slot, key);
  }
  auto childTarget = KeyedContainer::of(slot);
  if (!childTarget) return false;
  return extract(*child, rest, *childTarget);
}

bool extract(const KeyedContainer& source, Path path, KeyedContainer& target) {
  if (path.empty() || !target.isMutable() ||
      source.isArray() != target.isArray())
    return false;
  if (source.isArray() && !source.isRecordArray()) return false;
  const std::string& head = path.front();
  Path rest = path.subspan(1);
  if (head == "*") {
    // Every record of the source meets the target: look records up by table.
    auto entries = source.entries();
    if (target.isArray()) target.indexRecords(entries.size());
    bool placed = false;
    for (const auto& [key, value] : entries) {
      if (rest.empty()) {
        target.setObject(value, key);
        placed = true;
      } else if (extractBelow(value, rest, target, key)) {
        placed = true;
      }
    }
    return placed;
  }
  ValueRef value = source.objectForKey(head);
  if (!value) return false;
  if (rest.empty()) {
    target.setObject(value, head);
    return true;
  }
  return extractBelow(value, rest, target, head);
}

bool store(const MutableDictionaryRef& receiver, const ValueRef& value,
           Path path, bool replace);

bool mergeDictionary(const ValueRef& existing, const Dictionary& updates) {
  auto target = as<MutableDictionary>(existing);
  if (!target) return false;
  // A copy of the entries: the target may hold, or be, the updates.
  std::vector<Dictionary::Entry> entries = updates.entries();
  for (const auto& entry : entries)
    if (!store(target, entry.value, splitKeyPath(entry.key), false))
      return false;
  return true;
}

// Every record is applied; the merge fails when any record failed.
bool mergeRecords(const ValueRef& existing, const Array& records) {
  auto target = as<MutableArray>(existing);
  if (!target || (target->count() > 0 && !isRecordArray(target))) return false;
  std::vector<ValueRef> elements = records.objects();
  bool allApplied = true;
  for (const auto& element : elements) {
    auto record = as<Dictionary>(element);
    if (!updateDictionary(target, record, record->objectForKey(kRecordIdKey),
                          false))
      allApplied = false;
  }
  return allApplied;
}

// An array without records is addressed by position.
bool storeAtIndex(MutableArray& array, const ValueRef& value,
                  std::string_view component) {
  std::int64_t index = leadingInteger(component);
  if (index < 0 || static_cast<std::uint64_t>(index) >= array.count())
    return false;
  auto position = static_cast<std::size_t>(index);
  if (value)
    array.replaceObjectAtIndex(position, value);
  else
    array.removeObjectAtIndex(position);
  return true;
}

bool plainStore(const MutableDictionaryRef& receiver, const ValueRef& value,
                Path path) {
  if (path.empty()) return false;
  ValueRef parent = path.size() == 1
                        ? ValueRef(receiver)
                        : walk(receiver, path.first(path.size() - 1));
  auto container = KeyedContainer::of(parent);
  if (!container || !container->isMutable()) return false;
  if (container->isArray() && !container->isRecordArray())
    return storeAtIndex(*as<MutableArray>(parent), value, path.back());
  container->setObject(value, path.back());
  return true;
}

bool store(const MutableDictionaryRef& receiver, const ValueRef& value,
           Path path, bool replace) {
  // Dictionaries merge into dictionaries and record arrays into arrays (into
  // nothing else); any other pair is replaced, a leaf by a dictionary too.
  if (!replace) {
    ValueRef existing = walk(receiver, path);
    auto updates = as<Dictionary>(value);
    if (updates && as<Dictionary>(existing))
      return mergeDictionary(existing, *updates);
    // Records go only into an array; nothing else is lost to them.
    if (isRecordArray(value) && existing)
      return mergeRecords(existing, *as<Array>(value));
  }
  return plainStore(receiver, value, path);
}

}  // namespace

bool isArrayOfDictionaries(const ArrayRef& array) {
  return array && keyedView(array).isRecordArray();
}

ArrayRef allKeys(const ArrayRef& array) {
  if (!array) return nullptr;
  std::vector<ValueRef> ids;
  for (const auto& element : array->objects())
    if (auto record = as<Dictionary>(element))
      if (ValueRef id = record->objectForKey(kRecordIdKey)) ids.push_back(id);
  return std::make_shared<Array>(std::move(ids));
}

ArrayRef allValues(const ArrayRef& array) { return array; }

DictionaryRef dictionaryRepresentation(const ArrayRef& array) {
  if (!array) return nullptr;
  std::vector<Dictionary::Entry> entries;
  for (auto& [id, record] : keyedView(array).entries())
    entries.push_back({std::move(id), std::move(record)});
  return std::make_shared<Dictionary>(std::move(entries));
}

ValueRef objectForKey(const ArrayRef& array, std::string_view id) {
  return array ? keyedView(array).objectForKey(id) : nullptr;
}

void setObject(const MutableArrayRef& array, const ValueRef& value,
               std::string_view id) {
  if (!array) return;
  KeyedContainer records = keyedView(array);
  records.setObject(value, id);
}

void removeObjectForKey(const MutableArrayRef& array, std::string_view id) {
  if (!array) return;
  KeyedContainer records = keyedView(array);
  records.removeObjectForKey(id);
}

bool intersectsArray(const ArrayRef& array, const ArrayRef& other) {
  if (!array || !other) return false;
  std::unordered_set<ValueRef, ValueHash, ValueEqual> theirs(
      other->objects().begin(), other->objects().end());
  for (const auto& element : array->objects())
    if (theirs.count(element)) return true;
  return false;
}

MutableStringRef componentsJoinedByCharacter(const ArrayRef& array,
                                             char16_t separator) {
  if (!array) return nullptr;
  std::vector<std::string> components;
  components.reserve(array->count());
  for (const auto& element : array->objects())
    components.push_back(textOf(element));
  return makeMutableString(joinEscapedComponents(components, separator));
}

bool updateDictionary(const MutableArrayRef& array, const DictionaryRef& record,
                      const ValueRef& id, bool replace) {
  auto idText = as<String>(id);
  if (!array || !record || !idText) return false;
  const std::string& key = idText->str();
  KeyedContainer records = keyedView(array);
  ValueRef existing = records.objectForKey(key);
  if (existing && isMarkerSet(*record, kObsoleteIdMarker)) {
    records.removeObjectForKey(key);
    return true;
  }
  if (!existing && isMarkerSet(*record, kNewIdMarker)) {
    auto added = makeMutableDictionary();
    for (const auto& entry : record->entries())
      if (entry.key != kNewIdMarker) added->setObject(entry.value, entry.key);
    records.setObject(added, key);
    return true;
  }
  auto target = as<MutableDictionary>(existing);
  if (!target) return false;
  std::vector<Dictionary::Entry> entries = record->entries();
  for (const auto& entry : entries)
    if (!store(target, entry.value, splitKeyPath(entry.key), replace))
      return false;
  return true;
}

ValueRef nestedObjectForKey(const DictionaryRef& receiver,
                            std::string_view keyPath) {
  if (!receiver) return nullptr;
  return walk(receiver, splitKeyPath(keyPath));
}

bool objectForNestedKey(const DictionaryRef& receiver, std::string_view keyPath,
                        const MutableDictionaryRef& target) {
  if (!receiver || !target) return false;
  KeyedContainer into = keyedView(target);
  return extract(keyedView(receiver), splitKeyPath(keyPath), into);
}

bool objectForNestedKey(const ArrayRef& receiver, std::string_view keyPath,
                        const MutableArrayRef& target) {
  if (!receiver || !target) return false;
  KeyedContainer into = keyedView(target);
  return extract(keyedView(receiver), splitKeyPath(keyPath), into);
}

MutableDictionaryRef dictionaryForKeys(const DictionaryRef& receiver,
                                       const ArrayRef& keyPaths) {
  auto result = makeMutableDictionary();
  if (!receiver || !keyPaths) return result;
  KeyedContainer source = keyedView(receiver);
  KeyedContainer into = keyedView(result);
  for (const auto& element : keyPaths->objects())
    if (auto keyPath = as<String>(element))
      extract(source, splitKeyPath(keyPath->str()), into);
  return result;
}

bool setNestedObject(const MutableDictionaryRef& receiver,
                     const ValueRef& value, std::string_view keyPath,
                     bool replace) {
  if (!receiver) return false;
  return store(receiver, value, splitKeyPath(keyPath), replace);
}

bool updateWithDictionary(const MutableDictionaryRef& receiver,
                          const DictionaryRef& updates) {
  if (!updates) return true;
  if (!receiver) return false;
  std::vector<Dictionary::Entry> entries = updates->entries();
  for (const auto& entry : entries)
    if (!store(receiver, entry.value, splitKeyPath(entry.key), false))
      return false;
  return true;
}

void removeNestedObjectForKey(const MutableDictionaryRef& receiver,
                              std::string_view keyPath) {
  if (!receiver || receiver->count() == 0) return;
  std::vector<std::string> path = splitKeyPath(keyPath);
  if (path.empty()) return;
  if (path.size() == 1) {
    receiver->removeObjectForKey(path.front());
    return;
  }
  auto parent =
      KeyedContainer::of(walk(receiver, Path(path).first(path.size() - 1)));
  if (parent) parent->removeObjectForKey(path.back());
}

}  // namespace steward
