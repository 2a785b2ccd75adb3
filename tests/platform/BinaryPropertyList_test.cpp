#include "platform/BinaryPropertyList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

using namespace std::string_literals;
using Objects = std::vector<std::string>;
constexpr Mutability kAllMutabilities[] = {Mutability::kImmutable, Mutability::kMutableContainers,
                                           Mutability::kMutableContainersAndLeaves};

std::string bigEndian(std::uint64_t v, int width) {
  std::string out;
  for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<char>(v >> (8 * i)));
  return out;
}

std::string trailer(int offsetSize, int refSize, std::uint64_t count, std::uint64_t top,
                    std::uint64_t table) {
  return std::string(6, '\0') + static_cast<char>(offsetSize) + static_cast<char>(refSize) +
         bigEndian(count, 8) + bigEndian(top, 8) + bigEndian(table, 8);
}

// A file of raw objects (marker and payload each), with offsets and
// references of `width` bytes.
std::string bplist(const Objects& objects, std::uint64_t top = 0, int width = 1) {
  std::string out = "bplist00", table;
  for (const auto& o : objects) {
    table += bigEndian(out.size(), width);
    out += o;
  }
  return out + table + trailer(width, width, objects.size(), top, out.size());
}

std::string readError(const std::string& bytes, Mutability m = Mutability::kImmutable) {
  std::string error;
  EXPECT_FALSE(readBinaryPropertyList(bytes, m, &error));
  return error;
}

std::string writeError(const ValueRef& tree) {
  std::string bytes = "untouched", error;
  EXPECT_FALSE(writeBinaryPropertyList(tree, &bytes, &error));
  EXPECT_EQ(bytes, "untouched");
  return error;
}

ValueRef nest(int levels, ValueRef v = makeInteger(1)) {
  for (int i = 0; i < levels; ++i) v = arrayOf({v});
  return v;
}

TEST(BinaryPropertyList, WritesTheExpectedBytes) {
  std::string bytes, error;
  ASSERT_TRUE(writeBinaryPropertyList(dictionaryOf({{"a", makeInteger(1)}}), &bytes, &error));
  // dict {key ref 1: value ref 2}, "a", 1-byte integer; offsets 8, 11, 13.
  EXPECT_EQ(bytes, "bplist00\xD1\x01\x02\x51" "a\x10\x01\x08\x0B\x0D"s + trailer(1, 1, 3, 0, 15));
  // Another writer's forms: a 16-byte integer that fits, a float, a count
  // in a wider integer.
  auto other = as<Array>(readBinaryPropertyList(
      bplist({"\xA3\x01\x02\x03"s, "\x14" + std::string(15, '\xFF') + "\xFB"s, "\x22\x3F\xC0\x00\x00"s,
              "\x5F\x11\x00\x03" "abc"s}),
      Mutability::kImmutable, &error));
  ASSERT_TRUE(other) << error;
  EXPECT_TRUE(isEqual(other, arrayOf({makeInteger(-5), makeReal(1.5), makeString("abc")})));
}

// One file for each check the reader makes.
TEST(BinaryPropertyList, RejectsBrokenFilesAndObjects) {
  const std::string good = bplist({"\xA1\x01"s, "\x10\x07"s});
  const std::string body = good.substr(0, good.size() - 32);
  const std::size_t table = body.size() - 2;
  std::string offsetAtTable = good;
  offsetAtTable[table] = static_cast<char>(table);
  const std::pair<std::string, std::string> cases[] = {
      {"bplist01" + good.substr(8), "not a binary property list (bplist00)"},
      {good.substr(0, 39), "truncated binary property list"},
      {body + trailer(3, 1, 2, 0, table), "bad integer size in binary property list trailer"},
      {body + trailer(1, 1, 2, 2, table), "bad object count in binary property list trailer"},
      // A table size that overflows when multiplied out.
      {body + trailer(8, 1, 1ull << 61, 0, table), "offset table outside the binary property list"},
      {offsetAtTable, "object offset out of range"},
      {bplist({"\xA1\x05"s, "\x10\x07"s}), "object reference out of range"},
      {bplist({"\xA1\x00"s}), "binary property list refers to itself"},
      {bplist({"\x15\x01"s}), "bad integer in binary property list"},
      {bplist({"\x14" + std::string(7, '\0') + "\x01" + std::string(8, '\0')}),
       "integer does not fit in 64 bits"},
      {bplist({"\x61\xD8\x3D"s}), "invalid UTF-16 string"},
      {bplist({"\x52\x41\xE9"s}), "ASCII string holds a byte above 127"},
      {bplist({"\xD1\x01\x01"s, "\x10\x01"s}), "dictionary key is not a string"},
      {bplist({"\x4F\x10\xF0" "abc"s}), "object extends beyond its area"},
      {bplist({"\xAF\x13\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF"s}), "object extends beyond its area"},
      {bplist({"\x4F\x21"s}), "bad count in binary property list"},
      {bplist({"\x81\x01"s}), "unsupported object kind in binary property list"},  // a keyed-archive UID
      {bplist({"\x21\x3F\xF8"s}), "bad real number in binary property list"},
      {bplist({"\x33\x7F\xF8\x00\x00\x00\x00\x00\x00"s}), "date is not a finite number"},
  };
  for (const auto& [bytes, reason] : cases) EXPECT_EQ(readError(bytes), reason) << reason;
  // Mutable containers build dictionaries their own way.
  EXPECT_EQ(readError(bplist({"\xD2\x01\x01\x02\x02"s, "\x51k"s, "\x10\x01"s}),
                      Mutability::kMutableContainers),
            "duplicate dictionary key");
}

// Reader and writer agree on the limit, however the deep part is reached.
TEST(BinaryPropertyList, NestingLimitHoldsForSharedContainers) {
  std::string bytes, error;
  ASSERT_TRUE(writeBinaryPropertyList(nest(kMaxBinaryDepth), &bytes, &error));
  EXPECT_TRUE(readBinaryPropertyList(bytes, Mutability::kImmutable, &error)) << error;
  EXPECT_EQ(writeError(nest(kMaxBinaryDepth + 1)), "property list nested too deeply");
  auto deep = nest(kMaxBinaryDepth - 1);
  EXPECT_EQ(writeError(arrayOf({deep, arrayOf({deep})})), "property list nested too deeply");

  Objects chain;  // each array holds the next; the last holds an integer
  for (int i = 0; i <= kMaxBinaryDepth; ++i) chain.push_back("\xA1" + bigEndian(i + 1, 2));
  chain.push_back("\x10\x01"s);
  EXPECT_EQ(readError(bplist(chain, 0, 2)), "property list nested too deeply");
  EXPECT_TRUE(readBinaryPropertyList(bplist(chain, 1, 2), Mutability::kImmutable, &error)) << error;

  // Two chains of 300: the second ends in the first, decoded (and cached)
  // before it, so the first's arrays are placed 600 deep.
  const int n = 300;
  Objects twoChains = {"\xA2" + bigEndian(1, 2) + bigEndian(n + 1, 2)};
  for (int i = 1; i <= 2 * n; ++i)
    twoChains.push_back(i == n ? "\xA0"s : "\xA1" + bigEndian(i == 2 * n ? 1 : i + 1, 2));
  for (Mutability m : kAllMutabilities)
    EXPECT_EQ(readError(bplist(twoChains, 0, 2), m), "property list nested too deeply");
}

// Arrays that each hold the previous one twice: 2^k values to whoever walks
// the tree, and to a mutable read that builds them all.
TEST(BinaryPropertyList, SharingCannotOutgrowTheInput) {
  auto bomb = [](int levels) {
    Objects objects = {"\x10\x01"s};
    for (int i = 1; i <= levels; ++i) objects.push_back("\xA2"s + char(i - 1) + char(i - 1));
    return bplist(objects, levels);
  };
  for (int levels : {19, 40})
    for (Mutability m : kAllMutabilities)
      EXPECT_EQ(readError(bomb(levels), m), "property list holds more values than its size allows");
  // Text counts too: a long string placed many times.
  Objects strings = {"\x5F\x12\x00\x02\x00\x00"s + std::string(1 << 17, 'x'),
                     "\xAF\x10\x40" + std::string(256, '\0')};
  EXPECT_EQ(readError(bplist(strings, 1, 4), Mutability::kMutableContainersAndLeaves),
            "property list holds more text and data than its size allows");

  // A little sharing is fine: one object when immutable, copies otherwise.
  const std::string twice = bplist({"\xA2\x01\x01"s, "\xA1\x02"s, "\x10\x01"s});
  std::string error;
  auto shared = as<Array>(readBinaryPropertyList(twice, Mutability::kImmutable, &error));
  ASSERT_TRUE(shared) << error;
  EXPECT_EQ(shared->objects()[0], shared->objects()[1]);
  auto copies = as<Array>(readBinaryPropertyList(twice, Mutability::kMutableContainers, &error));
  ASSERT_TRUE(copies) << error;
  EXPECT_NE(copies->objects()[0], copies->objects()[1]);
  EXPECT_TRUE(isEqual(copies->objects()[0], copies->objects()[1]));
}

TEST(BinaryPropertyList, WriterRefusesWhatItsReaderWould) {
  EXPECT_EQ(writeError(arrayOf({std::make_shared<ForeignValue>("socket")})),
            "cannot write a value that is not a property value");
  EXPECT_EQ(writeError(makeString("\xFF")), "string is not UTF-8");
  EXPECT_EQ(writeError(dictionaryOf({{"\xED\xA0\x80", makeInteger(1)}})), "dictionary key is not UTF-8");
  EXPECT_EQ(writeError(arrayOf({makeDate(NAN)})), "date is not a finite number");
  auto loop = makeMutableArray();
  auto inner = dictionaryOf({{"back", loop}});
  loop->addObject(inner);
  EXPECT_EQ(writeError(loop), "a container holds itself");
  inner->removeAllObjects();  // break the reference cycle

  // The same container in two places is written once...
  std::string bytes, error;
  auto shared = arrayOf({makeString("x")});
  ASSERT_TRUE(writeBinaryPropertyList(arrayOf({shared, shared}), &bytes, &error));
  EXPECT_EQ(bytes[bytes.size() - 17], 3);  // root, shared array, "x"
  // ...but not so often that the reader would refuse to expand it.
  ValueRef wide = arrayOf({});
  for (int i = 0; i < 16; ++i) wide = arrayOf({wide, wide});
  EXPECT_EQ(writeError(wide), "property list holds more values than its size allows");
}

}  // namespace
}  // namespace steward
