#include "platform/BinaryPropertyList.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/ReadBudget.h"
#include "platform/TextEncoding.h"

namespace steward {
namespace {

constexpr std::string_view kMagic = "bplist00";
constexpr std::uint64_t kHeaderSize = 8;
constexpr std::uint64_t kTrailerSize = 32;

// Object markers: the high nibble is the kind, the low one a size or count.
enum Marker : unsigned {
  kFalse = 0x08,
  kTrue = 0x09,
  kInt = 0x1,
  kReal = 0x2,
  kDate = 0x33,
  kData = 0x4,
  kASCII = 0x5,
  kUTF16 = 0x6,
  kArray = 0xA,
  kDict = 0xD,
};

std::uint64_t bigEndian(const unsigned char* p, std::size_t size) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < size; ++i) v = (v << 8) | p[i];
  return v;
}

bool isValidIntSize(unsigned size) {
  return size == 1 || size == 2 || size == 4 || size == 8;
}

class Reader {
 public:
  Reader(std::string_view bytes, Mutability mutability)
      : data_(reinterpret_cast<const unsigned char*>(bytes.data())),
        size_(bytes.size()),
        mutability_(mutability),
        budget_(bytes.size()) {}

  ValueRef read(std::string* error);

 private:
  std::nullptr_t fail(const char* reason) {
    if (error_.empty()) error_ = reason;
    return nullptr;
  }
  bool failed(const char* reason) {
    fail(reason);
    return false;
  }
  bool readTrailer();
  ValueRef object(std::uint64_t ref, int depth);
  ValueRef leaf(unsigned marker, std::uint64_t pos);
  ValueRef container(unsigned marker, std::uint64_t pos, int depth);
  bool spend(std::uint64_t objects, std::uint64_t bytes) {
    const char* reason;
    return budget_.spend(objects, bytes, &reason) || failed(reason);
  }
  // The count of a data, string or container object: the low nibble, or
  // for 0xF an integer object following the marker. Advances *pos.
  bool count(unsigned marker, std::uint64_t* pos, std::uint64_t* n);
  // Whether [pos, pos + length) lies inside the object area.
  bool fits(std::uint64_t pos, std::uint64_t length) const {
    return pos <= tableOffset_ && length <= tableOffset_ - pos;
  }
  std::uint64_t refAt(std::uint64_t pos) const {
    return bigEndian(data_ + pos, refSize_);
  }
  ValueRef makeString(std::string text) const;
  bool sharesLeaves() const {
    return mutability_ != Mutability::kMutableContainersAndLeaves;
  }

  const unsigned char* data_;
  std::uint64_t size_;
  Mutability mutability_;
  ReadBudget budget_;
  std::string error_;
  int height_ = 0;  // of the object last returned: its levels of containers

  unsigned offsetSize_ = 0;
  unsigned refSize_ = 0;
  std::uint64_t objectCount_ = 0;
  std::uint64_t topObject_ = 0;
  std::uint64_t tableOffset_ = 0;
  // What a shared object costs each place that takes it.
  struct Weight {
    std::uint64_t objects;
    std::uint64_t bytes;
    int height;
  };
  std::vector<ValueRef> decoded_;     // shareable results, by object
  std::vector<Weight> weights_;       // theirs
  std::vector<std::uint8_t> onPath_;  // containers being decoded
};

ValueRef Reader::read(std::string* error) {
  ValueRef root;
  if (readTrailer()) {
    decoded_.resize(objectCount_);
    weights_.resize(objectCount_);
    onPath_.resize(objectCount_);
    root = object(topObject_, 0);
  }
  if (!root && error) *error = error_;
  return root;
}

bool Reader::readTrailer() {
  if (size_ < kHeaderSize ||
      std::memcmp(data_, kMagic.data(), kMagic.size()) != 0)
    return failed("not a binary property list (bplist00)");
  if (size_ < kHeaderSize + kTrailerSize)
    return failed("truncated binary property list");
  const unsigned char* t = data_ + size_ - kTrailerSize;
  offsetSize_ = t[6];
  refSize_ = t[7];
  objectCount_ = bigEndian(t + 8, 8);
  topObject_ = bigEndian(t + 16, 8);
  tableOffset_ = bigEndian(t + 24, 8);
  if (!isValidIntSize(offsetSize_) || !isValidIntSize(refSize_))
    return failed("bad integer size in binary property list trailer");
  if (objectCount_ == 0 || topObject_ >= objectCount_)
    return failed("bad object count in binary property list trailer");
  const std::uint64_t tableEnd = size_ - kTrailerSize;
  if (tableOffset_ < kHeaderSize || tableOffset_ > tableEnd ||
      objectCount_ > (tableEnd - tableOffset_) / offsetSize_)
    return failed("offset table outside the binary property list");
  return true;
}

// Every placement of an object is charged to the budget and checked for
// depth, a shared one too: the tree as built is what must stay bounded.
ValueRef Reader::object(std::uint64_t ref, int depth) {
  if (ref >= objectCount_) return fail("object reference out of range");
  if (decoded_[ref]) {
    const Weight& w = weights_[ref];
    if (depth + w.height > kMaxBinaryDepth)
      return fail("property list nested too deeply");
    if (!spend(w.objects, w.bytes)) return nullptr;
    height_ = w.height;
    return decoded_[ref];
  }
  if (onPath_[ref]) return fail("binary property list refers to itself");
  std::uint64_t offset =
      bigEndian(data_ + tableOffset_ + ref * offsetSize_, offsetSize_);
  if (offset < kHeaderSize || offset >= tableOffset_)
    return fail("object offset out of range");
  unsigned marker = data_[offset];
  unsigned kind = marker >> 4;
  if (kind == kArray || kind == kDict) {
    if (depth >= kMaxBinaryDepth)
      return fail("property list nested too deeply");
    const std::uint64_t objectsBefore = budget_.objectsSpent();
    const std::uint64_t bytesBefore = budget_.bytesSpent();
    if (!spend(1, 0)) return nullptr;
    onPath_[ref] = 1;
    ValueRef value = container(marker, offset + 1, depth);
    onPath_[ref] = 0;
    if (value && mutability_ == Mutability::kImmutable) {
      decoded_[ref] = value;
      weights_[ref] = {budget_.objectsSpent() - objectsBefore,
                       budget_.bytesSpent() - bytesBefore, height_};
    }
    return value;
  }
  ValueRef value = leaf(marker, offset + 1);
  if (!value) return nullptr;
  const std::uint64_t bytes = ReadBudget::textBytesOf(*value);
  if (!spend(1, bytes)) return nullptr;
  height_ = 0;
  bool mutableLeaf =
      (kind == kASCII || kind == kUTF16 || kind == kData) && !sharesLeaves();
  if (!mutableLeaf) {
    decoded_[ref] = value;
    weights_[ref] = {1, bytes, 0};
  }
  return value;
}

bool Reader::count(unsigned marker, std::uint64_t* pos, std::uint64_t* n) {
  if ((marker & 0xF) != 0xF) {
    *n = marker & 0xF;
    return true;
  }
  if (!fits(*pos, 1)) return failed("object extends beyond its area");
  unsigned intMarker = data_[*pos];
  unsigned width = 1u << (intMarker & 0xF);
  if (intMarker >> 4 != kInt || width > 8)
    return failed("bad count in binary property list");
  if (!fits(*pos + 1, width)) return failed("object extends beyond its area");
  *n = bigEndian(data_ + *pos + 1, width);
  *pos += 1 + width;
  return true;
}

ValueRef Reader::makeString(std::string text) const {
  if (sharesLeaves()) return std::make_shared<String>(std::move(text));
  return std::make_shared<MutableString>(std::move(text));
}

ValueRef Reader::leaf(unsigned marker, std::uint64_t pos) {
  const unsigned kind = marker >> 4, info = marker & 0xF;
  if (marker == kFalse || marker == kTrue)
    return std::make_shared<Boolean>(marker == kTrue);
  if (kind == kInt) {
    if (info > 4 || !fits(pos, 1u << info))
      return fail("bad integer in binary property list");
    if (info < 4) {
      std::uint64_t v = bigEndian(data_ + pos, 1u << info);
      return std::make_shared<Integer>(static_cast<std::int64_t>(v));
    }
    // 128 bits, signed: kept only when the high half merely extends the sign.
    std::uint64_t high = bigEndian(data_ + pos, 8);
    std::uint64_t low = bigEndian(data_ + pos + 8, 8);
    if (high != ((low >> 63) ? ~std::uint64_t{0} : 0))
      return fail("integer does not fit in 64 bits");
    return std::make_shared<Integer>(static_cast<std::int64_t>(low));
  }
  if (kind == kReal || marker == kDate) {
    unsigned width = marker == kDate ? 8 : 1u << info;
    if ((width != 4 && width != 8) || !fits(pos, width))
      return fail("bad real number in binary property list");
    std::uint64_t bits = bigEndian(data_ + pos, width);
    double v = width == 4 ? static_cast<double>(std::bit_cast<float>(
                                static_cast<std::uint32_t>(bits)))
                          : std::bit_cast<double>(bits);
    if (marker != kDate) return std::make_shared<Real>(v);
    if (!std::isfinite(v)) return fail("date is not a finite number");
    return std::make_shared<Date>(v);
  }
  std::uint64_t n;
  if ((kind == kData || kind == kASCII || kind == kUTF16) &&
      !count(marker, &pos, &n))
    return nullptr;
  auto text = [&](std::uint64_t length) {
    return std::string_view(reinterpret_cast<const char*>(data_ + pos), length);
  };
  switch (kind) {
    case kData:
      if (!fits(pos, n)) return fail("object extends beyond its area");
      if (sharesLeaves()) return std::make_shared<Data>(text(n));
      return std::make_shared<MutableData>(text(n));
    case kASCII:
      if (!fits(pos, n)) return fail("object extends beyond its area");
      for (char c : text(n))
        if (static_cast<unsigned char>(c) >= 0x80)
          return fail("ASCII string holds a byte above 127");
      return makeString(std::string(text(n)));
    case kUTF16: {
      if (n > tableOffset_ / 2 || !fits(pos, 2 * n))
        return fail("object extends beyond its area");
      std::string utf8;
      if (!unicode::utf16ToUTF8(text(2 * n), true, &utf8))
        return fail("invalid UTF-16 string");
      return makeString(std::move(utf8));
    }
    default:
      return fail("unsupported object kind in binary property list");
  }
}

ValueRef Reader::container(unsigned marker, std::uint64_t pos, int depth) {
  const bool isDict = marker >> 4 == kDict;
  std::uint64_t n;
  if (!count(marker, &pos, &n)) return nullptr;
  const std::uint64_t refsPerEntry = isDict ? 2 : 1;
  if (n > tableOffset_ / (refSize_ * refsPerEntry) ||
      !fits(pos, n * refSize_ * refsPerEntry))
    return fail("object extends beyond its area");
  const bool isMutable = mutability_ != Mutability::kImmutable;

  std::vector<ValueRef> values;
  values.reserve(n);
  const std::uint64_t valuesPos = pos + (isDict ? n * refSize_ : 0);
  int height = 1;
  for (std::uint64_t i = 0; i < n; ++i) {
    ValueRef v = object(refAt(valuesPos + i * refSize_), depth + 1);
    if (!v) return nullptr;
    height = std::max(height, height_ + 1);
    values.push_back(std::move(v));
  }
  if (!isDict) {
    height_ = height;
    if (isMutable) return std::make_shared<MutableArray>(std::move(values));
    return std::make_shared<Array>(std::move(values));
  }

  std::vector<Dictionary::Entry> entries;
  entries.reserve(n);
  for (std::uint64_t i = 0; i < n; ++i) {
    auto key = as<String>(object(refAt(pos + i * refSize_), depth + 1));
    if (!key) return fail("dictionary key is not a string");
    entries.push_back({key->str(), std::move(values[i])});
  }
  std::shared_ptr<Dictionary> dict;
  if (isMutable) {
    auto changeable = makeMutableDictionary();
    changeable->reserve(entries.size());
    for (auto& e : entries)
      changeable->setObject(std::move(e.value), std::move(e.key));
    dict = changeable;
  } else {
    dict = std::make_shared<Dictionary>(std::move(entries));
  }
  // Which of two values for one key was meant cannot be known.
  if (dict->count() != n) return fail("duplicate dictionary key");
  height_ = height;
  return dict;
}

// ---------------------------------------------------------------- writing

// The smallest of 1, 2, 4 and 8 bytes for numbers below `count`.
unsigned widthFor(std::uint64_t count) {
  if (count < (1ull << 8)) return 1;
  if (count < (1ull << 16)) return 2;
  if (count < (1ull << 32)) return 4;
  return 8;
}

void putBigEndian(std::uint64_t v, unsigned width, std::string* out) {
  for (unsigned i = width; i-- > 0;)
    out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

class Writer {
 public:
  bool write(const ValueRef& root, std::string* out, std::string* error);

 private:
  // One object of the file: a value, or a dictionary key.
  struct Object {
    const Value* value;
    std::string_view key;
    std::vector<std::uint64_t> refs;  // containers: keys, then values
  };
  // A value's cost to the reader's bound, as every place it takes counts.
  struct Weight {
    std::uint64_t objects = 0;
    std::uint64_t bytes = 0;
    void add(std::uint64_t moreObjects, std::uint64_t moreBytes) {
      constexpr std::uint64_t kCap = std::uint64_t{1} << 62;  // no overflow
      objects = std::min(objects + moreObjects, kCap);
      bytes = std::min(bytes + moreBytes, kCap);
    }
  };
  struct Frame {
    const Value* container;
    std::uint64_t index;
    std::size_t next;
    std::uint64_t childHeight;  // of the tallest container below so far
    Weight weight;
  };

  bool flatten(const Value& root);
  // The object index of a value, adding it when it is new; *isNew reports a
  // container that still needs its children visited.
  bool add(const Value* value, std::uint64_t* index, bool* isNew);
  std::uint64_t addString(std::string_view text, const Value* value);
  template <class Map, class Key>
  std::uint64_t addLeaf(Map* map, Key key, const Value* value);
  void emit(const Object& object, unsigned refSize, std::string* out) const;
  static Weight leafWeight(const Value& value) {
    return {1, ReadBudget::textBytesOf(value)};
  }
  static void emitCount(unsigned kind, std::uint64_t n, std::string* out);

  std::vector<Object> objects_;
  std::vector<std::uint8_t> onPath_;    // containers being visited
  std::vector<std::uint64_t> heights_;  // of finished containers
  std::vector<Weight> weights_;         // theirs
  Weight rootWeight_;
  std::unordered_map<const Value*, std::uint64_t> containers_;
  std::unordered_map<std::string_view, std::uint64_t> strings_;
  std::unordered_map<std::string_view, std::uint64_t> datas_;
  std::unordered_map<std::int64_t, std::uint64_t> integers_;
  std::unordered_map<std::uint64_t, std::uint64_t> reals_;  // by bits
  std::unordered_map<std::uint64_t, std::uint64_t> dates_;  // by bits
  std::unordered_map<bool, std::uint64_t> booleans_;
  bool failed(const char* reason) {
    error_ = reason;
    return false;
  }

  std::string error_;
};

template <class Map, class Key>
std::uint64_t Writer::addLeaf(Map* map, Key key, const Value* value) {
  auto [it, inserted] = map->try_emplace(key, objects_.size());
  if (inserted) objects_.push_back({value, {}, {}});
  return it->second;
}

std::uint64_t Writer::addString(std::string_view text, const Value* value) {
  auto [it, inserted] = strings_.try_emplace(text, objects_.size());
  if (inserted) objects_.push_back({value, text, {}});
  return it->second;
}

bool Writer::add(const Value* value, std::uint64_t* index, bool* isNew) {
  *isNew = false;
  if (!value) return failed("a container holds no value");
  switch (value->kind()) {
    case ValueKind::kDictionary:
    case ValueKind::kArray: {
      auto [it, inserted] = containers_.try_emplace(value, objects_.size());
      *index = it->second;
      if (!inserted) {
        if (onPath_[*index]) return failed("a container holds itself");
        return true;
      }
      objects_.push_back({value, {}, {}});
      onPath_.resize(objects_.size());
      heights_.resize(objects_.size());
      weights_.resize(objects_.size());
      onPath_[*index] = 1;
      *isNew = true;
      return true;
    }
    case ValueKind::kString: {
      const std::string& s = static_cast<const String*>(value)->str();
      if (!unicode::isValidUTF8(s)) return failed("string is not UTF-8");
      *index = addString(s, value);
      return true;
    }
    case ValueKind::kInteger:
      *index = addLeaf(&integers_, static_cast<const Integer*>(value)->value(),
                       value);
      return true;
    case ValueKind::kReal:
      *index = addLeaf(&reals_,
                       std::bit_cast<std::uint64_t>(
                           static_cast<const Real*>(value)->value()),
                       value);
      return true;
    case ValueKind::kBoolean:
      *index = addLeaf(&booleans_, static_cast<const Boolean*>(value)->value(),
                       value);
      return true;
    case ValueKind::kData:
      *index = addLeaf(&datas_, static_cast<const Data*>(value)->view(), value);
      return true;
    case ValueKind::kDate:
      // The reader refuses these; so does the writer, then.
      if (!std::isfinite(static_cast<const Date*>(value)->secondsSinceReference()))
        return failed("date is not a finite number");
      *index =
          addLeaf(&dates_,
                  std::bit_cast<std::uint64_t>(
                      static_cast<const Date*>(value)->secondsSinceReference()),
                  value);
      return true;
    case ValueKind::kForeign:
      break;
  }
  return failed("cannot write a value that is not a property value");
}

// Depth first and in order, as other writers of the format number objects;
// an explicit stack, so a deep tree cannot exhaust the call stack. Trees
// taller than the reader accepts are refused rather than written unreadable.
bool Writer::flatten(const Value& root) {
  std::uint64_t index;
  bool isNew;
  if (!add(&root, &index, &isNew)) return false;
  std::vector<Frame> stack;
  if (isNew) stack.push_back({&root, index, 0, 0, {}});
  rootWeight_ = leafWeight(root);
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const Value* child = nullptr;
    std::string_view key;
    bool isKey = false, done = false;
    if (frame.container->kind() == ValueKind::kArray) {
      const auto& items = static_cast<const Array*>(frame.container)->objects();
      done = frame.next == items.size();
      if (!done) child = items[frame.next].get();
    } else {
      const auto& entries =
          static_cast<const Dictionary*>(frame.container)->entries();
      done = frame.next == 2 * entries.size();
      isKey = frame.next < entries.size();
      if (isKey) {
        key = entries[frame.next].key;
      } else if (!done) {
        child = entries[frame.next - entries.size()].value.get();
      }
    }
    if (done) {
      const std::uint64_t height = frame.childHeight + 1;
      if (height > kMaxBinaryDepth)
        return failed("property list nested too deeply");
      heights_[frame.index] = height;
      frame.weight.add(1, 0);
      weights_[frame.index] = frame.weight;
      rootWeight_ = frame.weight;  // the last container finished is the root
      onPath_[frame.index] = 0;
      stack.pop_back();
      if (!stack.empty()) {
        stack.back().childHeight = std::max(stack.back().childHeight, height);
        stack.back().weight.add(rootWeight_.objects, rootWeight_.bytes);
      }
      continue;
    }
    ++frame.next;
    if (isKey) {
      if (!unicode::isValidUTF8(key))
        return failed("dictionary key is not UTF-8");
      const std::uint64_t keyIndex =
          addString(key, nullptr);  // may grow objects_
      objects_[frame.index].refs.push_back(keyIndex);
      frame.weight.add(1, key.size());
      continue;
    }
    if (!add(child, &index, &isNew)) return false;
    objects_[frame.index].refs.push_back(index);
    if (isNew) {
      stack.push_back({child, index, 0, 0, {}});  // invalidates `frame`
    } else if (child->kind() == ValueKind::kArray ||
               child->kind() == ValueKind::kDictionary) {
      frame.childHeight = std::max(frame.childHeight, heights_[index]);
      frame.weight.add(weights_[index].objects, weights_[index].bytes);
    } else {
      const Weight w = leafWeight(*child);
      frame.weight.add(w.objects, w.bytes);
    }
  }
  return true;
}

void Writer::emitCount(unsigned kind, std::uint64_t n, std::string* out) {
  if (n < 15) {
    out->push_back(static_cast<char>((kind << 4) | n));
    return;
  }
  out->push_back(static_cast<char>((kind << 4) | 0xF));
  unsigned width = widthFor(n);
  out->push_back(static_cast<char>((kInt << 4) | std::countr_zero(width)));
  putBigEndian(n, width, out);
}

void Writer::emit(const Object& object, unsigned refSize,
                  std::string* out) const {
  if (!object.value) {  // a dictionary key
    std::string_view s = object.key;
    bool ascii = true;
    for (char c : s) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
      emitCount(kASCII, s.size(), out);
      out->append(s);
      return;
    }
    std::string units;
    emitCount(kUTF16, unicode::appendUTF16BE(s, &units), out);
    out->append(units);
    return;
  }
  const Value& v = *object.value;
  switch (v.kind()) {
    case ValueKind::kDictionary:
    case ValueKind::kArray: {
      bool isDict = v.kind() == ValueKind::kDictionary;
      emitCount(isDict ? kDict : kArray,
                isDict ? object.refs.size() / 2 : object.refs.size(), out);
      for (std::uint64_t r : object.refs) putBigEndian(r, refSize, out);
      return;
    }
    case ValueKind::kString:
      emit({nullptr, static_cast<const String&>(v).str(), {}}, refSize, out);
      return;
    case ValueKind::kInteger: {
      std::int64_t i = static_cast<const Integer&>(v).value();
      unsigned width = i < 0 ? 8 : widthFor(static_cast<std::uint64_t>(i));
      out->push_back(static_cast<char>((kInt << 4) | std::countr_zero(width)));
      putBigEndian(static_cast<std::uint64_t>(i), width, out);
      return;
    }
    case ValueKind::kReal:
      out->push_back(static_cast<char>((kReal << 4) | 3));
      putBigEndian(
          std::bit_cast<std::uint64_t>(static_cast<const Real&>(v).value()), 8,
          out);
      return;
    case ValueKind::kDate:
      out->push_back(static_cast<char>(kDate));
      putBigEndian(std::bit_cast<std::uint64_t>(
                       static_cast<const Date&>(v).secondsSinceReference()),
                   8, out);
      return;
    case ValueKind::kBoolean:
      out->push_back(static_cast<char>(
          static_cast<const Boolean&>(v).value() ? kTrue : kFalse));
      return;
    case ValueKind::kData: {
      std::string_view bytes = static_cast<const Data&>(v).view();
      emitCount(kData, bytes.size(), out);
      out->append(bytes);
      return;
    }
    case ValueKind::kForeign:
      return;  // refused by add()
  }
}

bool Writer::write(const ValueRef& root, std::string* out, std::string* error) {
  if (!root) {
    if (error) *error = "no value to write";
    return false;
  }
  if (!flatten(*root)) {
    if (error) *error = error_;
    return false;
  }
  const unsigned refSize = widthFor(objects_.size());
  std::string bytes(kMagic);
  std::vector<std::uint64_t> offsets;
  offsets.reserve(objects_.size());
  for (const Object& object : objects_) {
    offsets.push_back(bytes.size());
    emit(object, refSize, &bytes);
  }
  const std::uint64_t tableOffset = bytes.size();
  const unsigned offsetSize = widthFor(tableOffset);
  for (std::uint64_t offset : offsets) putBigEndian(offset, offsetSize, &bytes);
  bytes.append(6, '\0');
  bytes.push_back(static_cast<char>(offsetSize));
  bytes.push_back(static_cast<char>(refSize));
  putBigEndian(objects_.size(), 8, &bytes);
  putBigEndian(0, 8, &bytes);  // the root is always the first object
  putBigEndian(tableOffset, 8, &bytes);
  // Containers written once and placed often can make a file its reader
  // refuses to expand.
  const char* reason;
  ReadBudget budget(bytes.size());
  if (!budget.spend(rootWeight_.objects, rootWeight_.bytes, &reason)) {
    if (error) *error = reason;
    return false;
  }
  *out = std::move(bytes);
  return true;
}

}  // namespace

ValueRef readBinaryPropertyList(std::string_view bytes, Mutability mutability,
                                std::string* error) {
  return Reader(bytes, mutability).read(error);
}

bool writeBinaryPropertyList(const ValueRef& root, std::string* out,
                             std::string* error) {
  return Writer().write(root, out, error);
}

}  // namespace steward
