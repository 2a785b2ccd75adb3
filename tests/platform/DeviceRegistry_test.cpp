#include "platform/DeviceRegistry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace steward {
namespace {

namespace fs = std::filesystem;

class DeviceRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/registry.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }

  void makeEntry(const std::string& relative) { fs::create_directories(root_ + "/" + relative); }
  void writeFile(const std::string& relative, const std::string& text) {
    std::ofstream(root_ + "/" + relative, std::ios::binary) << text;
  }
  std::string readFile(const std::string& relative) {
    std::stringstream text;
    text << std::ifstream(root_ + "/" + relative, std::ios::binary).rdbuf();
    return text.str();
  }

  std::string root_;
};

TEST_F(DeviceRegistryTest, WalksDepthFirstInByteOrderWithoutFollowingLinks) {
  for (const char* entry : {"P/b", "P/a/y", "P/a/x/deep", "P/B", "Other/z"}) makeEntry(entry);
  writeFile("P/a/prop", "1\n");                      // a property, not an entry
  fs::create_directory_symlink(root_ + "/P", root_ + "/P/a/loop");
  std::string longName(140, 'n');
  makeEntry("P/b/" + longName);

  DeviceRegistry registry(root_);
  auto iterator = registry.createIterator("P");
  ASSERT_TRUE(iterator);
  std::vector<std::string> names;
  while (auto entry = iterator->next()) names.push_back(entry->name());
  EXPECT_EQ(names, (std::vector<std::string>{"B", "a", "x", "deep", "y", "b",
                                              std::string(127, 'n')}));
  EXPECT_FALSE(iterator->next());

  EXPECT_FALSE(registry.createIterator("Missing"));
  EXPECT_FALSE(registry.createIterator(".."));
  makeEntry("Empty");
  EXPECT_FALSE(registry.createIterator("Empty")->next());
}

TEST_F(DeviceRegistryTest, FindsEntriesByPathOnly) {
  makeEntry("IODeviceTree/options");
  makeEntry("IOService/secret");
  writeFile("IODeviceTree/file", "");
  DeviceRegistry registry(root_ + "/");  // a trailing "/" is fine

  auto options = registry.entryFromPath("IODeviceTree:/options");
  ASSERT_TRUE(options);
  EXPECT_EQ(options->name(), "options");
  EXPECT_EQ(options->directory(), root_ + "/IODeviceTree/options");
  EXPECT_TRUE(registry.entryFromPath("IODeviceTree://options/"));
  EXPECT_TRUE(registry.entryFromPath("IODeviceTree:/"));

  for (const char* bad : {"IODeviceTree:/missing", "IODeviceTree:options", "IODeviceTree/options",
                          ":/options", "IODeviceTree:/file", "IODeviceTree:/../IOService/secret",
                          "IODeviceTree:/./options", "Missing:/"}) {
    EXPECT_FALSE(registry.entryFromPath(bad)) << bad;
  }
}

TEST_F(DeviceRegistryTest, PropertiesAreTextFilesWithoutTheirLastLineFeed) {
  makeEntry("D/options/sub");
  const std::pair<const char*, const char*> files[] = {{"boot-device", "enet:10.0.0.1,\"x\" y\n"},
                                                       {"two-lines", "a\n\n"}, {"empty", ""},
                                                       {"utf8", "caf\xc3\xa9"}, {"latin1", "caf\xe9"}};
  for (const auto& [name, text] : files) writeFile(std::string("D/options/") + name, text);
  auto entry = DeviceRegistry(root_).entryFromPath("D:/options");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->copyProperty("boot-device")->str(), "enet:10.0.0.1,\"x\" y");
  EXPECT_EQ(entry->copyProperty("two-lines")->str(), "a\n");
  EXPECT_EQ(entry->copyProperty("empty")->str(), "");
  EXPECT_EQ(entry->copyProperty("utf8")->str(), "caf\xc3\xa9");
  // Not UTF-8, missing, a child entry, a path.
  for (const char* none : {"latin1", "missing", "sub", "../options/boot-device"})
    EXPECT_FALSE(entry->copyProperty(none)) << none;
}

TEST_F(DeviceRegistryTest, SettingWritesTextFormThroughLinks) {
  makeEntry("S/button");
  writeFile("brightness", "255\n");
  fs::create_symlink(root_ + "/brightness", root_ + "/S/button/LED");
  auto entry = DeviceRegistry(root_).entryFromPath("S:/button");
  ASSERT_TRUE(entry);
  std::string error;
  ASSERT_TRUE(entry->setProperty("LED", makeInteger(0), &error)) << error;
  EXPECT_TRUE(fs::is_symlink(root_ + "/S/button/LED"));
  EXPECT_EQ(readFile("brightness"), "0\n");
  ASSERT_TRUE(entry->setProperty("Name", makeString("front"), &error)) << error;
  EXPECT_EQ(readFile("S/button/Name"), "front\n");
  EXPECT_FALSE(entry->setProperty("a/b", makeInteger(1), &error));
  fs::remove_all(root_ + "/S");
  EXPECT_FALSE(entry->setProperty("LED", makeInteger(1), &error));
  EXPECT_EQ(error.rfind("cannot open " + root_ + "/S/button/LED: ", 0), 0u) << error;
}

}  // namespace
}  // namespace steward
