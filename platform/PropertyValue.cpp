#include "platform/PropertyValue.h"

#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <stdexcept>

#include "platform/CivilTime.h"

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
  CivilTime t;
  if (!civilTimeOf(secondsSinceReference, &t))
    return realText(secondsSinceReference) + " seconds after 2001-01-01 00:00:00 +0000";
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u %02u:%02u:%02u", t.year,
                t.month, t.day, t.hour, t.minute, t.second);
  std::string text = buffer;
  double fraction = secondsSinceReference - std::floor(secondsSinceReference);
  if (fraction > 0) text += realText(fraction).substr(1);  // "0.25" -> ".25"
  return text + " +0000";
}

// Deeper levels are described at this indentation.
constexpr std::size_t kDeepestIndent = 64;

void appendIndent(std::size_t depth, std::string* out) {
  out->append(4 * std::min(depth, kDeepestIndent), ' ');
}

void describeLeaf(const Value& value, std::string* out) {
  static const char kHex[] = "0123456789abcdef";
  switch (value.kind()) {
    case ValueKind::kString:
      describeString(static_cast<const String&>(value).str(), out);
      break;
    case ValueKind::kData: {
      const auto& bytes = static_cast<const Data&>(value).bytes();
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
      out->append(dateText(static_cast<const Date&>(value).secondsSinceReference()));
      out->push_back('"');
      break;
    case ValueKind::kForeign:
      out->push_back('<');
      out->append(static_cast<const ForeignValue&>(value).description());
      out->push_back('>');
      break;
    case ValueKind::kInteger:
      out->append(std::to_string(static_cast<const Integer&>(value).value()));
      break;
    case ValueKind::kReal:
      out->append(realText(static_cast<const Real&>(value).value()));
      break;
    case ValueKind::kBoolean:
      out->push_back(static_cast<const Boolean&>(value).value() ? '1' : '0');
      break;
    case ValueKind::kArray:
    case ValueKind::kDictionary:
      break;  // describeInto's
  }
}

// Depth first with an explicit stack, so no tree exhausts the call stack.
void describeInto(const Value& root, std::string* out) {
  struct Frame {
    const Value* container;
    std::vector<const Dictionary::Entry*> sorted;  // dictionaries only
    std::size_t next;
    std::size_t count;
    std::size_t depth;
  };
  std::vector<Frame> stack;
  auto open = [&](const Value& value, std::size_t depth) {
    if (value.kind() == ValueKind::kDictionary) {
      Frame frame{&value, {}, 0, 0, depth};
      for (const auto& e : static_cast<const Dictionary&>(value).entries())
        frame.sorted.push_back(&e);
      std::sort(frame.sorted.begin(), frame.sorted.end(),
                [](auto* a, auto* b) { return a->key < b->key; });
      frame.count = frame.sorted.size();
      out->append("{\n");
      stack.push_back(std::move(frame));
    } else if (value.kind() == ValueKind::kArray) {
      out->append("(\n");
      stack.push_back({&value, {}, 0, static_cast<const Array&>(value).count(), depth});
    } else {
      describeLeaf(value, out);
    }
  };
  open(root, 0);
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const bool isDictionary = frame.container->kind() == ValueKind::kDictionary;
    if (frame.next > 0)
      out->append(isDictionary ? ";\n" : frame.next < frame.count ? ",\n" : "\n");
    if (frame.next == frame.count) {
      appendIndent(frame.depth, out);
      out->push_back(isDictionary ? '}' : ')');
      stack.pop_back();
      continue;
    }
    appendIndent(frame.depth + 1, out);
    const Value* member;
    if (isDictionary) {
      const Dictionary::Entry* entry = frame.sorted[frame.next];
      describeString(entry->key, out);
      out->append(" = ");
      member = entry->value.get();
    } else {
      member = static_cast<const Array*>(frame.container)->objects()[frame.next].get();
    }
    ++frame.next;
    open(*member, frame.depth + 1);  // may move `frame`
  }
}

// Containers being freed by the loop in releaseMembers on this thread.
thread_local std::vector<ValueRef>* tPendingRelease = nullptr;

bool isLastReferenceToContainer(const ValueRef& value) {
  return value && value.use_count() == 1 &&
         (value->kind() == ValueKind::kArray ||
          value->kind() == ValueKind::kDictionary);
}

// Takes the containers that only `members` keep alive out of them, and
// frees them in a loop where a freed container adds its own to the list;
// inside that loop it only adds them. Members that are leaves or shared
// are left to the caller, and cost no look at the thread's list.
template <class Members, class ValueOf>
void releaseMembers(Members& members, ValueOf valueOf) {
  std::vector<ValueRef> local;
  std::vector<ValueRef>* pending = nullptr;
  for (auto& member : members) {
    ValueRef& value = valueOf(member);
    if (!isLastReferenceToContainer(value)) continue;
    if (!pending) pending = tPendingRelease ? tPendingRelease : &local;
    pending->push_back(std::move(value));
  }
  if (pending != &local) return;
  tPendingRelease = &local;
  while (!local.empty()) {
    ValueRef last = std::move(local.back());
    local.pop_back();
    last.reset();
  }
  tPendingRelease = nullptr;
}

void sipRound(std::uint64_t v[4]) {
  v[0] += v[1]; v[1] = std::rotl(v[1], 13); v[1] ^= v[0]; v[0] = std::rotl(v[0], 32);
  v[2] += v[3]; v[3] = std::rotl(v[3], 16); v[3] ^= v[2];
  v[0] += v[3]; v[3] = std::rotl(v[3], 21); v[3] ^= v[0];
  v[2] += v[1]; v[1] = std::rotl(v[1], 17); v[1] ^= v[2]; v[2] = std::rotl(v[2], 32);
}

// SipHash-1-3 of the key under a 128-bit key.
std::uint64_t sipHash13(std::string_view data, std::uint64_t k0, std::uint64_t k1) {
  std::uint64_t v[4] = {k0 ^ 0x736f6d6570736575ull, k1 ^ 0x646f72616e646f6dull,
                        k0 ^ 0x6c7967656e657261ull, k1 ^ 0x7465646279746573ull};
  const std::size_t whole = data.size() / 8 * 8;
  for (std::size_t i = 0; i < whole; i += 8) {
    std::uint64_t m;
    std::memcpy(&m, data.data() + i, 8);
    v[3] ^= m;
    sipRound(v);
    v[0] ^= m;
  }
  std::uint64_t last = static_cast<std::uint64_t>(data.size()) << 56;
  for (std::size_t i = whole; i < data.size(); ++i)
    last |= static_cast<std::uint64_t>(static_cast<unsigned char>(data[i])) << (8 * (i - whole));
  v[3] ^= last;
  sipRound(v);
  v[0] ^= last;
  v[2] ^= 0xff;
  for (int i = 0; i < 3; ++i) sipRound(v);
  return v[0] ^ v[1] ^ v[2] ^ v[3];
}

struct HashSeed {
  std::uint64_t k0, k1;
};

// Drawn once, at first use, from the kernel; when that fails, from what
// differs between runs anyway (time, addresses, process id).
HashSeed drawSeed() {
  HashSeed seed{};
  if (::getrandom(&seed, sizeof seed, 0) == static_cast<ssize_t>(sizeof seed)) return seed;
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  seed.k0 = static_cast<std::uint64_t>(now.tv_nsec) ^
            (static_cast<std::uint64_t>(now.tv_sec) << 32) ^
            reinterpret_cast<std::uintptr_t>(&seed);
  seed.k1 = static_cast<std::uint64_t>(::getpid()) * 0x9e3779b97f4a7c15ull ^
            reinterpret_cast<std::uintptr_t>(&drawSeed);
  return seed;
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
    case ValueKind::kDate:
      return dateText(static_cast<const Date&>(*value).secondsSinceReference());
    default: return describe(value);
  }
}

std::string describe(const ValueRef& value) {
  std::string out;
  if (value)
    describeInto(*value, &out);
  else
    out = "(null)";
  return out;
}

std::size_t dictionaryKeyHash(std::string_view key) {
  static const HashSeed seed = drawSeed();
  return static_cast<std::size_t>(sipHash13(key, seed.k0, seed.k1));
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

Array::~Array() {
  releaseMembers(objects_, [](ValueRef& v) -> ValueRef& { return v; });
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

Dictionary::~Dictionary() {
  releaseMembers(entries_, [](Entry& e) -> ValueRef& { return e.value; });
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
    auto it = index_->find(key);
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
    index_ = std::make_unique<decltype(index_)::element_type>();
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
