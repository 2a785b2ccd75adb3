#include "platform/PropertyList.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/BinaryPropertyList.h"

namespace steward {
namespace {

using namespace std::string_literals;

ValueRef sampleTree() {
  auto dict = makeMutableDictionary();
  dict->setObject(makeString("caf\xC3\xA9"), "name");
  auto array = makeMutableArray();
  array->addObject(makeInteger(-7));
  array->addObject(makeReal(2.5));
  array->addObject(makeBoolean(true));
  array->addObject(makeData("\x01\x02"));
  array->addObject(makeDate(86400));
  dict->setObject(array, "items");
  return dict;
}

// Reads bytes and returns the format found, or the error text.
std::string formatOf(std::string_view bytes) {
  PropertyListFormat format = PropertyListFormat::kXML;
  std::string error;
  if (!propertyListFromData(bytes, Mutability::kImmutable, &format, &error))
    return "error: " + error;
  switch (format) {
    case PropertyListFormat::kXML:
      return "xml";
    case PropertyListFormat::kBinary:
      return "binary";
    case PropertyListFormat::kOpenStep:
      return "text";
  }
  return "?";
}

TEST(PropertyList, RecognizesTheFormatByItsBytes) {
  std::string xml, binary, error;
  ASSERT_TRUE(
      propertyListToData(sampleTree(), PropertyListFormat::kXML, &xml, &error))
      << error;
  ASSERT_TRUE(propertyListToData(sampleTree(), PropertyListFormat::kBinary,
                                 &binary, &error))
      << error;
  EXPECT_EQ(formatOf(xml), "xml");
  EXPECT_EQ(formatOf(binary), "binary");
  EXPECT_EQ(formatOf(" \n<plist version=\"1.0\"><integer>3</integer></plist>"),
            "xml");
  EXPECT_EQ(formatOf("{ a = b; }"), "text");
  EXPECT_EQ(formatOf("\"key\" = \"value\";"), "text");
  EXPECT_EQ(formatOf("\xFF\xFE\"\0k\0\"\0;\0"s), "text");  // UTF-16 strings
  EXPECT_EQ(formatOf("<0fbd>"), "text");
  EXPECT_EQ(formatOf("bplist01" + binary.substr(8)),
            "error: not a binary property list (bplist00)");
  EXPECT_EQ(formatOf(""), "error: empty input");
  EXPECT_EQ(formatOf("{ a = b;"), "error: line 1: unterminated dictionary");

  for (const std::string& bytes : {xml, binary}) {
    ValueRef back =
        propertyListFromData(bytes, Mutability::kImmutable, nullptr, &error);
    EXPECT_TRUE(isEqual(back, sampleTree())) << error;
  }
}

TEST(PropertyList, TheTextFormCannotBeWritten) {
  std::string out = "untouched", error;
  EXPECT_FALSE(propertyListToData(makeString("x"),
                                  PropertyListFormat::kOpenStep, &out, &error));
  EXPECT_EQ(error, "the old text form can be read but not written");
  EXPECT_EQ(out, "untouched");
}

class PropertyListFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "plist_test.XXXXXX").string();
    ASSERT_TRUE(::mkdtemp(pattern.data()));
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& bytes) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  std::filesystem::path dir_;
};

TEST_F(PropertyListFileTest, ReadsEachFormatFromFiles) {
  // Larger than several read chunks, so XML arrives in pieces.
  auto big = makeMutableArray();
  for (int i = 0; i < 20000; ++i)
    big->addObject(makeString("entry number " + std::to_string(i)));
  std::string xml, binary, error;
  ASSERT_TRUE(propertyListToData(big, PropertyListFormat::kXML, &xml, &error));
  ASSERT_GT(xml.size(), 3u * 64 * 1024);
  ASSERT_TRUE(
      propertyListToData(big, PropertyListFormat::kBinary, &binary, &error));
  std::string text = "// many entries\n";
  for (int i = 0; i < 10000; ++i)
    text += "\"key" + std::to_string(i) + "\" = \"value\";\n";

  PropertyListFormat format;
  ValueRef v = propertyListFromFile(write("big.plist", xml),
                                    Mutability::kImmutable, &format, &error);
  EXPECT_TRUE(isEqual(v, big)) << error;
  EXPECT_EQ(format, PropertyListFormat::kXML);
  v = propertyListFromFile(write("big.bin", binary),
                           Mutability::kMutableContainers, &format, &error);
  EXPECT_TRUE(isEqual(v, big)) << error;
  EXPECT_TRUE(v && v->isMutable());
  EXPECT_EQ(format, PropertyListFormat::kBinary);
  v = propertyListFromFile(write("types.strings", text), Mutability::kImmutable,
                           &format, &error);
  ASSERT_TRUE(v) << error;
  EXPECT_EQ(as<Dictionary>(v)->count(), 10000u);
  EXPECT_EQ(format, PropertyListFormat::kOpenStep);
}

TEST_F(PropertyListFileTest, ErrorsNameTheFile) {
  std::string error;
  const std::string missing = (dir_ / "missing.plist").string();
  EXPECT_FALSE(
      propertyListFromFile(missing, Mutability::kImmutable, nullptr, &error));
  EXPECT_EQ(error, missing + ": No such file or directory");
  EXPECT_FALSE(propertyListFromFile(dir_.string(), Mutability::kImmutable,
                                    nullptr, &error));
  EXPECT_EQ(error, dir_.string() + ": Is a directory");
  const std::string bad = write("bad.strings", "\"a\" = \"b\"\n");
  EXPECT_FALSE(
      propertyListFromFile(bad, Mutability::kImmutable, nullptr, &error));
  EXPECT_EQ(error, bad + ": line 2: expected ';' after the value");
  const std::string empty = write("empty.plist", "");
  EXPECT_FALSE(
      propertyListFromFile(empty, Mutability::kImmutable, nullptr, &error));
  EXPECT_EQ(error, empty + ": empty input");
  const std::string brokenXML = write("broken.plist", "<plist><dict>");
  EXPECT_FALSE(
      propertyListFromFile(brokenXML, Mutability::kImmutable, nullptr, &error));
  EXPECT_EQ(error.rfind(brokenXML + ": ", 0), 0u) << error;
}

}  // namespace
}  // namespace steward
