#include "platform/PropertyList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/support/ScratchDirectory.h"
#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

using namespace std::string_literals;

// The format found and whether the result lies within the read bound, or
// the error text.
std::string formatOf(std::string_view bytes) {
  PropertyListFormat format = PropertyListFormat::kXML;
  std::string error;
  ValueRef root = propertyListFromData(bytes, Mutability::kMutableContainersAndLeaves, &format, &error);
  if (!root) return "error: " + error;
  if (!fitsReadBound(root, bytes.size())) return "beyond the bound";
  const char* names[] = {"xml", "binary", "text"};
  return names[static_cast<int>(format)];
}

TEST(PropertyList, RecognizesTheFormatAndStaysWithinTheBound) {
  // The densest files each writer makes: a value per byte or two.
  std::string denseStrings, denseBinary, error;
  for (int i = 0; i < 5000; ++i) denseStrings += "k" + std::to_string(i) + ";";
  auto trues = makeMutableArray();
  for (int i = 0; i < 60000; ++i) trues->addObject(makeBoolean(true));
  EXPECT_TRUE(propertyListToData(trues, PropertyListFormat::kBinary, &denseBinary, &error));
  const std::pair<std::string, std::string> cases[] = {
      {" \n<plist version=\"1.0\"><integer>3</integer></plist>", "xml"},
      {"\xFF\xFE\"\0k\0\"\0;\0"s, "text"},  // UTF-16 strings file
      {"<0fbd>", "text"},
      {denseStrings, "text"},
      {denseBinary, "binary"},
      {"", "error: empty input"},
  };
  for (const auto& [bytes, expected] : cases) EXPECT_EQ(formatOf(bytes), expected) << bytes;
}

// Every reader makes containers, and leaves too, mutable as asked, and keeps
// kinds and reals whole: the sign of zero, NaN, infinities.
TEST(PropertyList, EveryReaderMakesWhatIsAsked) {
  auto tree = dictionaryOf({{"list", arrayOf({makeString("cr\r\nlf ]]> \x7f"), makeData("\x01")})},
                            {"reals", arrayOf({makeReal(-0.0), makeReal(NAN), makeReal(3.0),
                                               makeReal(HUGE_VAL), makeReal(-HUGE_VAL)})},
                            {"no", makeBoolean(false)}});
  std::string binary, error;
  ASSERT_TRUE(propertyListToData(tree, PropertyListFormat::kBinary, &binary, &error));
  const std::pair<std::string, ValueRef> cases[] = {
      {xmlOf(tree), tree}, {binary, tree},
      {"{ list = ( a, <01> ); }", dictionaryOf({{"list", arrayOf({makeString("a"), makeData("\x01")})}})}};
  for (const auto& [bytes, expected] : cases) {
    for (Mutability m : {Mutability::kImmutable, Mutability::kMutableContainers,
                         Mutability::kMutableContainersAndLeaves}) {
      auto dict = as<Dictionary>(propertyListFromData(bytes, m, nullptr, &error));
      ASSERT_TRUE(dict) << error;
      EXPECT_TRUE(isEqual(dict, expected)) << describe(dict);
      EXPECT_EQ(dict->entries().front().key, "list");
      auto list = as<Array>(dict->objectForKey("list"));
      EXPECT_EQ(list->isMutable(), m != Mutability::kImmutable);
      EXPECT_TRUE(as<MutableString>(list->objects()[0]) || m != Mutability::kMutableContainersAndLeaves);
      EXPECT_EQ(list->objects()[1]->isMutable(), m == Mutability::kMutableContainersAndLeaves);
      if (auto reals = as<Array>(dict->objectForKey("reals"))) {
        EXPECT_TRUE(std::signbit(as<Real>(reals->objects()[0])->value()));
        EXPECT_EQ(reals->objects()[2]->kind(), ValueKind::kReal);
      }
    }
  }
}

TEST(PropertyList, TheReadBoundCountsEveryPlaceAValueTakes) {
  ValueRef tree = makeString(std::string(100, 'x'));
  for (int i = 0; i < 12; ++i) tree = arrayOf({tree, tree});  // 4096 strings
  EXPECT_FALSE(fitsReadBound(tree, 0));
  EXPECT_TRUE(fitsReadBound(tree, 8192));
  EXPECT_FALSE(fitsReadBound(dictionaryOf({{std::string(readByteLimit(10), 'k').c_str(), tree}}), 10));
  EXPECT_EQ(readObjectLimit(1000), kReadValuesPerInputByte * 1000 + kReadValueFloor);
}

// XML is read from the file as it streams in, the other forms whole.
TEST(PropertyList, ReadsFilesAndNamesTheFileInErrors) {
  ScratchDirectory dir;
  auto tree = arrayOf({makeString("entry"), makeInteger(1)});
  dir.write("a.plist", xmlOf(tree));
  PropertyListFormat format = PropertyListFormat::kBinary;
  std::string error;
  ValueRef v = propertyListFromFile(dir.path("a.plist"), Mutability::kMutableContainers, &format, &error);
  ASSERT_TRUE(v && v->isMutable()) << error;
  EXPECT_EQ(format, PropertyListFormat::kXML);
  EXPECT_TRUE(isEqual(v, tree));
  dir.write("bad.strings", "\"a\" = \"b\"\n");
  dir.write("broken.plist", "<plist><dict>");
  const std::pair<const char*, std::string> failures[] = {
      {"missing.plist", "No such file or directory"},
      {"bad.strings", "line 2: expected ';' after the value"},
      {"broken.plist", "line 1, column 14: no element found"}};
  for (const auto& [name, reason] : failures) {
    EXPECT_FALSE(propertyListFromFile(dir.path(name), Mutability::kImmutable, nullptr, &error));
    EXPECT_EQ(error, dir.path(name) + ": " + reason);
  }
}

}  // namespace
}  // namespace steward
