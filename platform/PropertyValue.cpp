#include "platform/PropertyValue.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>
#include <functional>
#include <stdexcept>

namespace steward {

namespace {

// Dictionaries up to this size are searched by scanning; cheaper than a map.
constexpr std::size_t kIndexThreshold = 12;

bool isIntegral(double d, std::int64_t* out) {
  // 2^63 is the first double above the int64 range.
  if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return false;
  auto i = static_cast<std::int64_t>(d);
  if (static_cast<double>(i) != d) return false;
  *out = i;
  return true;
}

std::size_t hashInteger(std::int64_t i) { return std::hash<std::int64_t>()(i); }

bool numbersEqual(const Value& a, const Value& b) {
  if (a.kind() == ValueKind::kInteger && b.kind() == ValueKind::kInteger)
    return static_cast<const Integer&>(a).value() ==
           static_cast<const Integer&>(b).value();
  if (a.kind() == ValueKind::kReal && b.kind() == ValueKind::kReal) {
    double x = static_cast<const Real&>(a).value();
    double y = static_cast<const Real&>(b).value();
    return x == y || (std::isnan(x) && std::isnan(y));
  }
  const Value& integer = a.kind() == ValueKind::kInteger ? a : b;
  const Value& real = a.kind() == ValueKind::kReal ? a : b;
  if (integer.kind() != ValueKind::kInteger || real.kind() != ValueKind::kReal)
    return false;
  std::int64_t r;
  return isIntegral(static_cast<const Real&>(real).value(), &r) &&
         r == static_cast<const Integer&>(integer).value();
}

std::string realText(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, d);
  return std::string(buffer, result.ptr);
}

bool needsQuotes(const std::string& s) {
  if (s.empty()) return true;
  for (unsigned char c : s) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                 (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '.' ||
                 c == '/' || c == ':' || c == '-';
    if (!plain) return true;
  }
  return false;
}

void describeString(const std::string& s, std::string* out) {
  if (!needsQuotes(s)) {
    out->append(s);
    return;
  }
  out->push_back('"');
  for (char c : s) {
    switch (c) {
      case '"': out->append("\\\""); break;
      case '\\': out->append("\\\\"); break;
      case '\n': out->append("\\n"); break;
      case '\t': out->append("\\t"); break;
      case '\r': out->append("\\r"); break;
      default: out->push_back(c);
    }
  }
  out->push_back('"');
}

std::string dateText(double secondsSinceReference) {
  double unix = secondsSinceReference + Date::kUnixEpochOffset;
  std::time_t whole = static_cast<std::time_t>(std::floor(unix));
  std::tm tm{};
  gmtime_r(&whole, &tm);
  char buffer[64];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &tm);
  std::string text = buffer;
  double fraction = unix - std::floor(unix);
  if (fraction > 0) {
    std::string f = realText(fraction);  // "0.25"
    text += f.substr(1);
  }
  return text + " +0000";
}

void describeInto(const ValueRef& value, int depth, std::string* out) {
  static const char kHex[] = "0123456789abcdef";
  std::string indent(4 * (depth + 1), ' ');
  std::string closing(4 * depth, ' ');
  if (!value) {
    out->append("(null)");
    return;
  }
  switch (value->kind()) {
    case ValueKind::kDictionary: {
      const auto& dict = static_cast<const Dictionary&>(*value);
      std::vector<const Dictionary::Entry*> sorted;
      for (const auto& e : dict.entries()) sorted.push_back(&e);
      std::sort(sorted.begin(), sorted.end(),
                [](auto* a, auto* b) { return a->key < b->key; });
      out->append("{\n");
      for (const auto* e : sorted) {
        out->append(indent);
        describeString(e->key, out);
        out->append(" = ");
        describeInto(e->value, depth + 1, out);
        out->append(";\n");
      }
      out->append(closing).push_back('}');
      break;
    }
    case ValueKind::kArray: {
      const auto& objects = static_cast<const Array&>(*value).objects();
      out->append("(\n");
      for (std::size_t i = 0; i < objects.size(); ++i) {
        out->append(indent);
        describeInto(objects[i], depth + 1, out);
        out->append(i + 1 < objects.size() ? ",\n" : "\n");
      }
      out->append(closing).push_back(')');
      break;
    }
    case ValueKind::kString:
      describeString(static_cast<const String&>(*value).str(), out);
      break;
    case ValueKind::kData: {
      const auto& bytes = static_cast<const Data&>(*value).bytes();
      out->push_back('<');
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0 && i % 4 == 0) out->push_back(' ');
        out->push_back(kHex[bytes[i] >> 4]);
        out->push_back(kHex[bytes[i] & 15]);
      }
      out->push_back('>');
      break;
    }
    case ValueKind::kDate:
      out->push_back('"');
      out->append(dateText(static_cast<const Date&>(*value).secondsSinceReference()));
      out->push_back('"');
      break;
    case ValueKind::kForeign:
      out->push_back('<');
      out->append(static_cast<const ForeignValue&>(*value).description());
      out->push_back('>');
      break;
    case ValueKind::kInteger:
    case ValueKind::kReal:
    case ValueKind::kBoolean:
      out->append(textOf(value));
      break;
  }
}

}  // namespace

bool isEqual(const ValueRef& a, const ValueRef& b) {
  if (a == b) return true;
  if (!a || !b) return false;
  return a->isEqual(*b);
}

std::string textOf(const ValueRef& value) {
  if (!value) return "(null)";
  switch (value->kind()) {
    case ValueKind::kString: return static_cast<const String&>(*value).str();
    case ValueKind::kInteger:
      return std::to_string(static_cast<const Integer&>(*value).value());
    case ValueKind::kReal: return realText(static_cast<const Real&>(*value).value());
    case ValueKind::kBoolean:
      return static_cast<const Boolean&>(*value).value() ? "1" : "0";
    case ValueKind::kDate:
      return dateText(static_cast<const Date&>(*value).secondsSinceReference());
    default: return describe(value);
  }
}

std::string describe(const ValueRef& value) {
  std::string out;
  describeInto(value, 0, &out);
  return out;
}

// String

bool String::isEqual(const Value& other) const {
  return other.kind() == ValueKind::kString &&
         static_cast<const String&>(other).value_ == value_;
}
std::size_t String::hash() const { return std::hash<std::string>()(value_); }
ValueRef String::copy() const { return std::make_shared<String>(value_); }
MutableStringRef String::mutableCopy() const {
  return std::make_shared<MutableString>(value_);
}

// Numbers

bool Integer::isEqual(const Value& other) const { return numbersEqual(*this, other); }
std::size_t Integer::hash() const { return hashInteger(value_); }
ValueRef Integer::copy() const { return std::make_shared<Integer>(value_); }

bool Real::isEqual(const Value& other) const { return numbersEqual(*this, other); }
std::size_t Real::hash() const {
  std::int64_t i;
  if (isIntegral(value_, &i)) return hashInteger(i);  // -0.0 lands here too
  if (std::isnan(value_)) return 0x7ff8;
  return std::hash<double>()(value_);
}
ValueRef Real::copy() const { return std::make_shared<Real>(value_); }

bool Boolean::isEqual(const Value& other) const {
  return other.kind() == ValueKind::kBoolean &&
         static_cast<const Boolean&>(other).value_ == value_;
}
std::size_t Boolean::hash() const { return value_ ? 0x9e3779b9u : 0x85ebca6bu; }
ValueRef Boolean::copy() const { return std::make_shared<Boolean>(value_); }

// Data

bool Data::isEqual(const Value& other) const {
  return other.kind() == ValueKind::kData &&
         static_cast<const Data&>(other).bytes_ == bytes_;
}
std::size_t Data::hash() const { return std::hash<std::string_view>()(view()); }
ValueRef Data::copy() const { return std::make_shared<Data>(bytes_); }
MutableDataRef Data::mutableCopy() const {
  return std::make_shared<MutableData>(bytes_);
}

// Date

bool Date::isEqual(const Value& other) const {
  return other.kind() == ValueKind::kDate &&
         static_cast<const Date&>(other).seconds_ == seconds_;
}
std::size_t Date::hash() const { return std::hash<double>()(seconds_ + 0.0); }
ValueRef Date::copy() const { return std::make_shared<Date>(seconds_); }

// Foreign

std::size_t ForeignValue::hash() const {
  return std::hash<const void*>()(this);
}
ValueRef ForeignValue::copy() const {
  return std::make_shared<ForeignValue>(description_);
}

// Array

Array::Array(std::vector<ValueRef> objects) : objects_(std::move(objects)) {
  for (const auto& o : objects_)
    if (!o) throw std::invalid_argument("attempt to insert nil object");
}

bool Array::isEqual(const Value& other) const {
  if (other.kind() != ValueKind::kArray) return false;
  const auto& theirs = static_cast<const Array&>(other).objects_;
  if (theirs.size() != objects_.size()) return false;
  for (std::size_t i = 0; i < objects_.size(); ++i)
    if (!steward::isEqual(objects_[i], theirs[i])) return false;
  return true;
}
std::size_t Array::hash() const { return objects_.size(); }
ValueRef Array::copy() const { return std::make_shared<Array>(objects_); }
MutableArrayRef Array::mutableCopy() const {
  return std::make_shared<MutableArray>(objects_);
}

ValueRef Array::objectAtIndex(std::size_t index) const {
  return index < objects_.size() ? objects_[index] : nullptr;
}

bool Array::containsObject(const ValueRef& value) const {
  for (const auto& o : objects_)
    if (steward::isEqual(o, value)) return true;
  return false;
}

namespace {
void requireValue(const ValueRef& value) {
  if (!value) throw std::invalid_argument("attempt to insert nil object");
}
void requireIndex(std::size_t index, std::size_t limit) {
  if (index >= limit) throw std::out_of_range("index beyond bounds");
}
}  // namespace

void MutableArray::addObject(ValueRef value) {
  requireValue(value);
  objects_.push_back(std::move(value));
}
void MutableArray::insertObject(ValueRef value, std::size_t index) {
  requireValue(value);
  requireIndex(index, objects_.size() + 1);
  objects_.insert(objects_.begin() + static_cast<std::ptrdiff_t>(index),
                  std::move(value));
}
void MutableArray::replaceObjectAtIndex(std::size_t index, ValueRef value) {
  requireValue(value);
  requireIndex(index, objects_.size());
  objects_[index] = std::move(value);
}
void MutableArray::removeObjectAtIndex(std::size_t index) {
  requireIndex(index, objects_.size());
  objects_.erase(objects_.begin() + static_cast<std::ptrdiff_t>(index));
}
void MutableArray::removeLastObject() {
  requireIndex(0, objects_.size());
  objects_.pop_back();
}
void MutableArray::addObjectsFromArray(const Array& other) {
  objects_.insert(objects_.end(), other.objects().begin(), other.objects().end());
}

// Dictionary

Dictionary::Dictionary(std::vector<Entry> entries) {
  entries_.reserve(entries.size());
  for (auto& e : entries) {
    requireValue(e.value);
    std::ptrdiff_t at = find(e.key);
    if (at >= 0)
      entries_[static_cast<std::size_t>(at)].value = std::move(e.value);
    else
      append(std::move(e.key), std::move(e.value));
  }
}

bool Dictionary::isEqual(const Value& other) const {
  if (other.kind() != ValueKind::kDictionary) return false;
  const auto& theirs = static_cast<const Dictionary&>(other);
  if (theirs.count() != count()) return false;
  for (const auto& e : entries_)
    if (!steward::isEqual(e.value, theirs.objectForKey(e.key))) return false;
  return true;
}
std::size_t Dictionary::hash() const { return entries_.size(); }

ValueRef Dictionary::copy() const {
  return std::make_shared<Dictionary>(entries_);
}

MutableDictionaryRef Dictionary::mutableCopy() const {
  auto copy = std::make_shared<MutableDictionary>();
  copy->addEntriesFromDictionary(*this);
  return copy;
}

ValueRef Dictionary::objectForKey(std::string_view key) const {
  std::ptrdiff_t at = find(key);
  return at < 0 ? nullptr : entries_[static_cast<std::size_t>(at)].value;
}

std::vector<std::string> Dictionary::allKeys() const {
  std::vector<std::string> keys;
  keys.reserve(entries_.size());
  for (const auto& e : entries_) keys.push_back(e.key);
  return keys;
}

std::vector<ValueRef> Dictionary::allValues() const {
  std::vector<ValueRef> values;
  values.reserve(entries_.size());
  for (const auto& e : entries_) values.push_back(e.value);
  return values;
}

std::ptrdiff_t Dictionary::find(std::string_view key) const {
  if (index_) {
    auto it = index_->find(std::string(key));
    return it == index_->end() ? -1 : static_cast<std::ptrdiff_t>(it->second);
  }
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].key == key) return static_cast<std::ptrdiff_t>(i);
  return -1;
}

void Dictionary::append(std::string key, ValueRef value) {
  if (index_) {
    index_->emplace(key, entries_.size());
  } else if (entries_.size() + 1 > kIndexThreshold) {
    index_ = std::make_unique<std::unordered_map<std::string, std::size_t>>();
    index_->reserve(entries_.size() * 2);
    for (std::size_t i = 0; i < entries_.size(); ++i)
      index_->emplace(entries_[i].key, i);
    index_->emplace(key, entries_.size());
  }
  entries_.push_back({std::move(key), std::move(value)});
}

void Dictionary::eraseAt(std::size_t position) {
  if (index_) {
    index_->erase(entries_[position].key);
    for (std::size_t i = position + 1; i < entries_.size(); ++i)
      (*index_)[entries_[i].key] = i - 1;
  }
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(position));
}

void Dictionary::clear() {
  entries_.clear();
  index_.reset();
}

void MutableDictionary::setObject(ValueRef value, std::string key) {
  requireValue(value);
  std::ptrdiff_t at = find(key);
  if (at >= 0)
    entries_[static_cast<std::size_t>(at)].value = std::move(value);
  else
    append(std::move(key), std::move(value));
}

void MutableDictionary::removeObjectForKey(std::string_view key) {
  std::ptrdiff_t at = find(key);
  if (at >= 0) eraseAt(static_cast<std::size_t>(at));
}

void MutableDictionary::addEntriesFromDictionary(const Dictionary& other) {
  if (entries_.empty()) entries_.reserve(other.count());
  for (const auto& e : other.entries()) setObject(e.value, e.key);
}

}  // namespace steward
