#include "platform/PropertyList.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

using namespace std::string_literals;

ValueRef sampleTree() {
  return dictionaryOf({{"name", makeString("caf\xC3\xA9")},
                       {"items", arrayOf({makeInteger(-7), makeReal(2.5), makeBoolean(true),
                                          makeData("\x01\x02"), makeDate(86400)})}});
}

std::string encoded(PropertyListFormat format) {
  std::string bytes, error;
  EXPECT_TRUE(propertyListToData(sampleTree(), format, &bytes, &error)) << error;
  return bytes;
}

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
  const std::string xml = encoded(PropertyListFormat::kXML);
  const std::string binary = encoded(PropertyListFormat::kBinary);
  // The densest files each writer makes: a value per byte or two.
  std::string denseStrings, denseBinary, error;
  for (int i = 0; i < 5000; ++i) denseStrings += "k" + std::to_string(i) + ";";
  auto trues = makeMutableArray();
  for (int i = 0; i < 60000; ++i) trues->addObject(makeBoolean(true));
  EXPECT_TRUE(propertyListToData(trues, PropertyListFormat::kBinary, &denseBinary, &error));
  const std::pair<std::string, std::string> cases[] = {
      {xml, "xml"},
      {binary, "binary"},
      {" \n<plist version=\"1.0\"><integer>3</integer></plist>", "xml"},
      {"{ a = b; }", "text"},
      {"\xFF\xFE\"\0k\0\"\0;\0"s, "text"},  // UTF-16 strings file
      {"<0fbd>", "text"},
      {denseStrings, "text"},
      {denseBinary, "binary"},
      {"bplist01" + binary.substr(8), "error: not a binary property list (bplist00)"},
      {"", "error: empty input"},
      {"{ a = b;", "error: line 1: unterminated dictionary"},
  };
  for (const auto& [bytes, expected] : cases) EXPECT_EQ(formatOf(bytes), expected) << bytes;
  for (const std::string& bytes : {xml, binary}) EXPECT_TRUE(isEqual(parsed(bytes), sampleTree()));
  std::string out = "untouched";
  EXPECT_FALSE(propertyListToData(makeString("x"), PropertyListFormat::kOpenStep, &out, &error));
  EXPECT_EQ(error, "the old text form can be read but not written");
  EXPECT_EQ(out, "untouched");
}

TEST(PropertyList, TheReadBoundCountsEveryPlaceAValueTakes) {
  ValueRef tree = makeString(std::string(100, 'x'));
  for (int i = 0; i < 12; ++i) tree = arrayOf({tree, tree});  // 4096 strings
  EXPECT_FALSE(fitsReadBound(tree, 0));
  EXPECT_TRUE(fitsReadBound(tree, 8192));
  EXPECT_FALSE(fitsReadBound(dictionaryOf({{std::string(readByteLimit(10), 'k').c_str(), tree}}), 10));
  EXPECT_EQ(readObjectLimit(1000), kReadValuesPerInputByte * 1000 + kReadValueFloor);
}

class PropertyListFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "plist_test.XXXXXX").string();
    ASSERT_TRUE(::mkdtemp(pattern.data()));
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& bytes) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  // The tree read from a file, or "PATH: reason" in *error.
  ValueRef read(const std::string& path, PropertyListFormat* format, std::string* error) {
    return propertyListFromFile(path, Mutability::kMutableContainers, format, error);
  }

  std::filesystem::path dir_;
};

TEST_F(PropertyListFileTest, ReadsEachFormatFromFilesAndNamesTheFileInErrors) {
  // Larger than several read chunks, so XML arrives in pieces.
  auto big = makeMutableArray();
  for (int i = 0; i < 20000; ++i) big->addObject(makeString("entry number " + std::to_string(i)));
  std::string xml = xmlOf(big), binary, error, text;
  ASSERT_TRUE(propertyListToData(big, PropertyListFormat::kBinary, &binary, &error));
  for (int i = 0; i < 10000; ++i) text += "\"key" + std::to_string(i) + "\" = \"value\";\n";
  const std::pair<std::string, PropertyListFormat> files[] = {
      {write("big.plist", xml), PropertyListFormat::kXML},
      {write("big.bin", binary), PropertyListFormat::kBinary},
      {write("types.strings", text), PropertyListFormat::kOpenStep}};
  for (const auto& [path, expected] : files) {
    PropertyListFormat format;
    ValueRef v = read(path, &format, &error);
    ASSERT_TRUE(v && v->isMutable()) << error;
    EXPECT_EQ(format, expected);
    EXPECT_TRUE(expected == PropertyListFormat::kOpenStep ? as<Dictionary>(v)->count() == 10000
                                                          : isEqual(v, big));
  }
  const std::string missing = (dir_ / "missing.plist").string(), bad = write("bad.strings", "\"a\" = \"b\"\n"),
                    empty = write("empty.plist", ""), broken = write("broken.plist", "<plist><dict>");
  const std::pair<std::string, std::string> failures[] = {
      {missing, missing + ": No such file or directory"},
      {dir_.string(), dir_.string() + ": Is a directory"},
      {bad, bad + ": line 2: expected ';' after the value"},
      {empty, empty + ": empty input"},
      {broken, broken + ": line 1, column 14: no element found"}};
  for (const auto& [path, reason] : failures) {
    EXPECT_FALSE(read(path, nullptr, &error));
    EXPECT_EQ(error, reason);
  }
}

}  // namespace
}  // namespace steward
