#include "platform/BinaryPropertyList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace steward {
namespace {

using namespace std::string_literals;

void appendTrailer(std::string* out, int offsetSize, int refSize,
                   std::uint64_t count, std::uint64_t top,
                   std::uint64_t table) {
  out->append(6, '\0');
  out->push_back(static_cast<char>(offsetSize));
  out->push_back(static_cast<char>(refSize));
  for (std::uint64_t v : {count, top, table})
    for (int i = 7; i >= 0; --i)
      out->push_back(static_cast<char>(v >> (8 * i)));
}

std::string bigEndian(std::uint64_t v, int width) {
  std::string out;
  for (int i = width - 1; i >= 0; --i)
    out.push_back(static_cast<char>(v >> (8 * i)));
  return out;
}

// A file of raw objects (marker and payload each), with offsets and
// references of `width` bytes.
std::string bplist(const std::vector<std::string>& objects,
                   std::uint64_t top = 0, int width = 1) {
  std::string out = "bplist00";
  std::vector<std::size_t> offsets;
  for (const auto& o : objects) {
    offsets.push_back(out.size());
    out += o;
  }
  const std::size_t table = out.size();
  for (std::size_t offset : offsets) out += bigEndian(offset, width);
  appendTrailer(&out, width, width, objects.size(), top, table);
  return out;
}

std::string readError(const std::string& bytes,
                      Mutability m = Mutability::kImmutable) {
  std::string error;
  EXPECT_FALSE(readBinaryPropertyList(bytes, m, &error));
  return error;
}

ValueRef everyKind() {
  auto dict = makeMutableDictionary();
  dict->setObject(makeString("plain"), "ascii");
  dict->setObject(makeString("caf\xC3\xA9 \xF0\x9F\x98\x80"), "unicode");
  dict->setObject(makeString(""), "empty");
  dict->setObject(makeString("a\0b"s), "nul");
  auto ints = makeMutableArray();
  for (std::int64_t i :
       {std::int64_t{0}, std::int64_t{255}, std::int64_t{256},
        std::int64_t{65535}, std::int64_t{65536}, std::int64_t{4294967296},
        std::int64_t{-1}, std::numeric_limits<std::int64_t>::max(),
        std::numeric_limits<std::int64_t>::min()})
    ints->addObject(makeInteger(i));
  dict->setObject(ints, "ints");
  auto reals = makeMutableArray();
  for (double d : {0.5, -0.0, 1e308, std::numeric_limits<double>::infinity(),
                   std::nan("")})
    reals->addObject(makeReal(d));
  dict->setObject(reals, "reals");
  dict->setObject(makeBoolean(true), "yes");
  dict->setObject(makeBoolean(false), "no");
  dict->setObject(makeData(std::string(300, '\xAB')), "data");
  dict->setObject(makeData(""), "nodata");
  dict->setObject(makeDate(-123456.25), "date");
  dict->setObject(makeMutableDictionary(), "emptyDict");
  auto nested = makeMutableArray();
  for (int i = 0; i < 20; ++i) nested->addObject(makeMutableArray());
  dict->setObject(nested, "manyArrays");
  dict->setObject(makeString("\xC3\xA9t\xC3\xA9"), "k\xC3\xA9y");
  return dict;
}

TEST(BinaryPropertyList, EveryKindRoundTripsInEveryMutability) {
  ValueRef tree = everyKind();
  std::string bytes, error;
  ASSERT_TRUE(writeBinaryPropertyList(tree, &bytes, &error)) << error;

  for (Mutability m : {Mutability::kImmutable, Mutability::kMutableContainers,
                       Mutability::kMutableContainersAndLeaves}) {
    ValueRef back = readBinaryPropertyList(bytes, m, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_TRUE(isEqual(back, tree)) << describe(back);
    auto dict = as<Dictionary>(back);
    EXPECT_EQ(dict->isMutable(), m != Mutability::kImmutable);
    EXPECT_EQ(dict->objectForKey("ints")->isMutable(),
              m != Mutability::kImmutable);
    EXPECT_EQ(dict->objectForKey("ascii")->isMutable(),
              m == Mutability::kMutableContainersAndLeaves);
    EXPECT_EQ(dict->objectForKey("data")->isMutable(),
              m == Mutability::kMutableContainersAndLeaves);
    // -0.0 keeps its sign although it equals 0.0.
    auto reals = as<Array>(dict->objectForKey("reals"));
    EXPECT_TRUE(std::signbit(as<Real>(reals->objectAtIndex(1))->value()));
    EXPECT_EQ(dict->entries().front().key, "ascii");  // order kept
  }
}

TEST(BinaryPropertyList, WritesTheExpectedBytes) {
  std::string bytes, error;
  auto dict = makeMutableDictionary();
  dict->setObject(makeInteger(1), "a");
  ASSERT_TRUE(writeBinaryPropertyList(dict, &bytes, &error));
  // Dictionary {a = 1}: objects at 8, 11, 13; offset table at 15.
  std::string expected =
      "bplist00"
      "\xD1\x01\x02"  // dict, 1 entry: key ref 1, value ref 2
      "\x51"
      "a"         // ASCII string of 1
      "\x10\x01"  // 1-byte integer
      "\x08\x0B\x0D"s;
  appendTrailer(&expected, 1, 1, 3, 0, 15);
  EXPECT_EQ(bytes, expected);

  // Equal strings stored once, non-ASCII as UTF-16BE, a negative integer in
  // eight bytes, reals as doubles.
  auto array = makeMutableArray();
  array->addObject(makeString("\xC3\xA9"));
  array->addObject(makeString("\xC3\xA9"));
  array->addObject(makeInteger(-1));
  array->addObject(makeReal(1.5));
  array->addObject(makeBoolean(true));
  ASSERT_TRUE(writeBinaryPropertyList(array, &bytes, &error));
  expected =
      "bplist00"
      "\xA5\x01\x01\x02\x03\x04"
      "\x61\x00\xE9"
      "\x13\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"
      "\x23\x3F\xF8\x00\x00\x00\x00\x00\x00"
      "\x09"
      "\x08\x0E\x11\x1A\x23"s;
  appendTrailer(&expected, 1, 1, 5, 0, 0x24);
  EXPECT_EQ(bytes, expected);
}

TEST(BinaryPropertyList, WiderReferencesAndCounts) {
  auto array = makeMutableArray();
  for (int i = 0; i < 70000; ++i) array->addObject(makeInteger(i));
  std::string bytes, error;
  ASSERT_TRUE(writeBinaryPropertyList(array, &bytes, &error));
  EXPECT_EQ(bytes[bytes.size() - 25], 4);  // 70001 objects: 4-byte refs
  ValueRef back = readBinaryPropertyList(bytes, Mutability::kImmutable, &error);
  ASSERT_TRUE(back) << error;
  EXPECT_TRUE(isEqual(back, array));
}

TEST(BinaryPropertyList, RejectsBrokenFiles) {
  const std::string good = bplist({"\xA1\x01"s, "\x10\x07"s});
  ASSERT_TRUE(readBinaryPropertyList(good, Mutability::kImmutable, nullptr));

  EXPECT_EQ(readError("bplist01" + good.substr(8)),
            "not a binary property list (bplist00)");
  EXPECT_EQ(readError(good.substr(0, 39)), "truncated binary property list");
  // Cut short at the end, the trailer is read from the wrong place.
  EXPECT_EQ(readError(good.substr(0, good.size() - 1)),
            "bad integer size in binary property list trailer");

  const std::size_t table = good.size() - 32 - 2;
  auto withTrailer = [&](int offsetSize, int refSize, std::uint64_t count,
                         std::uint64_t top, std::uint64_t tableOffset) {
    std::string bytes = good.substr(0, good.size() - 32);
    appendTrailer(&bytes, offsetSize, refSize, count, top, tableOffset);
    return readError(bytes);
  };
  const std::string badSize =
      "bad integer size in binary property list trailer";
  EXPECT_EQ(withTrailer(3, 1, 2, 0, table), badSize);
  EXPECT_EQ(withTrailer(1, 0, 2, 0, table), badSize);
  EXPECT_EQ(withTrailer(1, 16, 2, 0, table), badSize);
  EXPECT_EQ(withTrailer(1, 1, 0, 0, table),
            "bad object count in binary property list trailer");
  EXPECT_EQ(withTrailer(1, 1, 2, 2, table),
            "bad object count in binary property list trailer");
  const std::string outside = "offset table outside the binary property list";
  EXPECT_EQ(withTrailer(1, 1, 3, 0, table), outside);
  EXPECT_EQ(withTrailer(8, 1, 1ull << 61, 0, table), outside);  // overflow
  EXPECT_EQ(withTrailer(1, 1, 2, 0, ~0ull), outside);
  EXPECT_EQ(withTrailer(1, 1, 2, 0, 4), outside);  // inside the header
  // Offsets pointing into the header or at the offset table itself.
  std::string bytes = good;
  bytes[table] = 2;
  EXPECT_EQ(readError(bytes), "object offset out of range");
  bytes[table] = static_cast<char>(table);
  EXPECT_EQ(readError(bytes), "object offset out of range");
}

TEST(BinaryPropertyList, RejectsBadObjects) {
  EXPECT_EQ(readError(bplist({"\xA1\x05"s, "\x10\x07"s})),
            "object reference out of range");
  EXPECT_EQ(readError(bplist({"\xA1\x00"s})),
            "binary property list refers to itself");
  EXPECT_EQ(readError(bplist({"\xA1\x01"s, "\xD1\x02\x00"s, "\x51k"s}),
                      Mutability::kMutableContainers),
            "binary property list refers to itself");
  EXPECT_EQ(readError(bplist({"\x15\x01"s})),
            "bad integer in binary property list");
  EXPECT_EQ(readError(bplist({"\x13\x01\x02"s})),  // 8-byte int cut short
            "bad integer in binary property list");
  EXPECT_EQ(readError(bplist({"\x14" + std::string(7, '\0') + "\x01" +
                              std::string(8, '\0')})),
            "integer does not fit in 64 bits");
  EXPECT_EQ(readError(bplist({"\x61\xD8\x3D"s})), "invalid UTF-16 string");
  EXPECT_EQ(readError(bplist({"\x62\xDE\x00\x00\x41"s})),
            "invalid UTF-16 string");
  EXPECT_EQ(readError(bplist({"\x52\x41\xE9"s})),
            "ASCII string holds a byte above 127");
  EXPECT_EQ(readError(bplist({"\xD1\x01\x01"s, "\x10\x01"s})),
            "dictionary key is not a string");
  EXPECT_EQ(readError(bplist({"\xD2\x01\x01\x02\x02"s, "\x51k"s, "\x10\x01"s}),
                      Mutability::kMutableContainers),
            "duplicate dictionary key");
  EXPECT_EQ(readError(bplist({"\x4F\x10\xF0"
                              "abc"s})),
            "object extends beyond its area");
  EXPECT_EQ(readError(bplist({"\xAF\x13\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF"s})),
            "object extends beyond its area");
  EXPECT_EQ(readError(bplist({"\x4F\x21"s})),
            "bad count in binary property list");
  EXPECT_EQ(readError(bplist({"\x00"s})),
            "unsupported object kind in binary property list");
  EXPECT_EQ(readError(bplist({"\x81\x01"s})),  // a keyed-archive UID
            "unsupported object kind in binary property list");
  EXPECT_EQ(readError(bplist({"\x21\x3F\xF8"s})),
            "bad real number in binary property list");
  EXPECT_EQ(readError(bplist({"\x33\x7F\xF8\x00\x00\x00\x00\x00\x00"s})),
            "date is not a finite number");
}

TEST(BinaryPropertyList, AcceptsOtherWritersForms) {
  std::string error;
  // A 16-byte integer that fits, a float, a long count in a wider integer.
  ValueRef v =
      readBinaryPropertyList(bplist({"\xA3\x01\x02\x03"s,
                                     "\x14" + std::string(8, '\xFF') +
                                         std::string(7, '\xFF') + "\xFB"s,
                                     "\x22\x3F\xC0\x00\x00"s,
                                     "\x5F\x11\x00\x03"
                                     "abc"s}),
                             Mutability::kImmutable, &error);
  ASSERT_TRUE(v) << error;
  auto array = as<Array>(v);
  EXPECT_EQ(as<Integer>(array->objectAtIndex(0))->value(), -5);
  EXPECT_EQ(as<Real>(array->objectAtIndex(1))->value(), 1.5);
  EXPECT_EQ(as<String>(array->objectAtIndex(2))->str(), "abc");
}

// Nested arrays up to the limit write and read back; one more level is
// refused by both sides.
TEST(BinaryPropertyList, NestingLimit) {
  auto nest = [](int levels) {
    ValueRef v = makeInteger(1);
    for (int i = 0; i < levels; ++i) {
      auto a = makeMutableArray();
      a->addObject(v);
      v = a;
    }
    return v;
  };
  std::string bytes, error;
  ASSERT_TRUE(writeBinaryPropertyList(nest(kMaxBinaryDepth), &bytes, &error));
  EXPECT_TRUE(readBinaryPropertyList(bytes, Mutability::kImmutable, &error))
      << error;
  EXPECT_FALSE(
      writeBinaryPropertyList(nest(kMaxBinaryDepth + 1), &bytes, &error));
  EXPECT_EQ(error, "property list nested too deeply");

  // Also when the deep part is shared and first met high up.
  auto deep = nest(kMaxBinaryDepth - 1);
  auto both = makeMutableArray();
  both->addObject(deep);
  auto wrapper = makeMutableArray();
  wrapper->addObject(deep);
  both->addObject(wrapper);
  EXPECT_FALSE(writeBinaryPropertyList(both, &bytes, &error));
  EXPECT_EQ(error, "property list nested too deeply");

  std::vector<std::string> objects;
  for (int i = 0; i <= kMaxBinaryDepth; ++i)
    objects.push_back("\xA1" + bigEndian(i + 1, 2));
  objects.push_back("\x10\x01"s);
  EXPECT_EQ(readError(bplist(objects, 0, 2)),
            "property list nested too deeply");
  objects.erase(objects.begin());
  EXPECT_TRUE(readBinaryPropertyList(bplist(objects, 0, 2),
                                     Mutability::kImmutable, &error))
      << error;
}

// Forty arrays, each holding the previous one twice: 2^40 leaves to anyone
// who walks the tree, in whatever form it is read.
TEST(BinaryPropertyList, SharedObjectsDoNotExplode) {
  std::vector<std::string> objects = {"\x10\x01"s};
  for (int i = 1; i <= 40; ++i) {
    char prev = static_cast<char>(i - 1);
    objects.push_back("\xA2"s + prev + prev);
  }
  const std::string bomb = bplist(objects, 40);
  EXPECT_EQ(readError(bomb), "binary property list expands too much");
  EXPECT_EQ(readError(bomb, Mutability::kMutableContainers),
            "binary property list expands too much");

  // A little sharing is fine: one object when immutable, separate mutable
  // ones otherwise.
  const std::string twice = bplist({"\xA2\x01\x01"s, "\xA1\x02"s, "\x10\x01"s});
  std::string error;
  auto shared =
      as<Array>(readBinaryPropertyList(twice, Mutability::kImmutable, &error));
  ASSERT_TRUE(shared) << error;
  EXPECT_EQ(shared->objectAtIndex(0), shared->objectAtIndex(1));
  auto separate = as<Array>(
      readBinaryPropertyList(twice, Mutability::kMutableContainers, &error));
  ASSERT_TRUE(separate) << error;
  EXPECT_NE(separate->objectAtIndex(0), separate->objectAtIndex(1));
  EXPECT_TRUE(isEqual(separate->objectAtIndex(0), separate->objectAtIndex(1)));
}

TEST(BinaryPropertyList, WriterRefusesWhatItCannotCarry) {
  std::string bytes = "untouched", error;
  auto array = makeMutableArray();
  array->addObject(std::make_shared<ForeignValue>("socket"));
  EXPECT_FALSE(writeBinaryPropertyList(array, &bytes, &error));
  EXPECT_EQ(error, "cannot write a value that is not a property value");
  EXPECT_EQ(bytes, "untouched");

  EXPECT_FALSE(writeBinaryPropertyList(makeString("\xFF"), &bytes, &error));
  EXPECT_EQ(error, "string is not UTF-8");
  auto dict = makeMutableDictionary();
  dict->setObject(makeInteger(1), "\xED\xA0\x80");  // an encoded surrogate
  EXPECT_FALSE(writeBinaryPropertyList(dict, &bytes, &error));
  EXPECT_EQ(error, "dictionary key is not UTF-8");
  EXPECT_FALSE(writeBinaryPropertyList(nullptr, &bytes, &error));
  EXPECT_EQ(error, "no value to write");

  auto loop = makeMutableArray();
  auto inner = makeMutableDictionary();
  loop->addObject(inner);
  inner->setObject(loop, "back");
  EXPECT_FALSE(writeBinaryPropertyList(loop, &bytes, &error));
  EXPECT_EQ(error, "a container holds itself");
  inner->removeAllObjects();  // break the reference cycle

  // The same container in two places is fine and written once.
  auto shared = makeMutableArray();
  shared->addObject(makeString("x"));
  auto twice = makeMutableArray();
  twice->addObject(shared);
  twice->addObject(shared);
  ASSERT_TRUE(writeBinaryPropertyList(twice, &bytes, &error));
  EXPECT_EQ(bytes[bytes.size() - 25], 1);
  EXPECT_EQ(bytes[bytes.size() - 17], 3);  // root, shared array, "x"
}

}  // namespace
}  // namespace steward
