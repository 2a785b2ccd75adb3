#include "platform/DeviceRegistry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/platform/TempDirTest.h"

namespace steward {
namespace {

namespace fs = std::filesystem;
using DeviceRegistryTest = TempDirTest;

TEST_F(DeviceRegistryTest, WalksDepthFirstInByteOrderWithoutFollowingLinks) {
  const std::string entries[] = {"P/b", "P/a/y", "P/a/x/deep", "P/B", "Other/z", "Empty",
                                 "P/b/" + std::string(140, 'n')};
  for (const std::string& entry : entries) fs::create_directories(path(entry));
  writeFile("P/a/prop", "1\n");  // a property, not an entry
  fs::create_directory_symlink(path("P"), path("P/a/loop"));

  DeviceRegistry registry(dir_);
  auto iterator = registry.createIterator("P");
  ASSERT_TRUE(iterator);
  std::vector<std::string> names;
  while (auto entry = iterator->next()) names.push_back(entry->name());
  EXPECT_EQ(names, (std::vector<std::string>{"B", "a", "x", "deep", "y", "b", std::string(127, 'n')}));
  EXPECT_FALSE(iterator->next());
  EXPECT_FALSE(registry.createIterator("Missing"));
  EXPECT_FALSE(registry.createIterator(".."));
  EXPECT_FALSE(registry.createIterator("Empty")->next());
}

TEST_F(DeviceRegistryTest, FindsEntriesByPathOnly) {
  fs::create_directories(path("IODeviceTree/options"));
  fs::create_directories(path("IOService/secret"));
  writeFile("IODeviceTree/file", "");
  DeviceRegistry registry(dir_ + "/");  // a trailing "/" is fine
  auto options = registry.entryFromPath("IODeviceTree:/options");
  ASSERT_TRUE(options);
  EXPECT_EQ(options->name(), "options");
  EXPECT_EQ(options->directory(), path("IODeviceTree/options"));
  EXPECT_TRUE(registry.entryFromPath("IODeviceTree://options/"));
  EXPECT_TRUE(registry.entryFromPath("IODeviceTree:/"));
  for (const char* bad : {"IODeviceTree:/missing", "IODeviceTree:options", "IODeviceTree/options",
                          ":/options", "IODeviceTree:/file", "IODeviceTree:/../IOService/secret",
                          "IODeviceTree:/./options", "Missing:/"})
    EXPECT_FALSE(registry.entryFromPath(bad)) << bad;
}

TEST_F(DeviceRegistryTest, PropertiesAreUTF8FilesWithoutTheirLastLineFeed) {
  fs::create_directories(path("D/options/sub"));
  const std::pair<const char*, const char*> files[] = {{"boot-device", "enet:10.0.0.1,\"x\" y\n"},
                                                       {"two-lines", "a\n\n"}, {"empty", ""},
                                                       {"utf8", "caf\xc3\xa9"}, {"latin1", "caf\xe9"}};
  for (const auto& [name, text] : files) writeFile(std::string("D/options/") + name, text);
  auto entry = DeviceRegistry(dir_).entryFromPath("D:/options");
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
  fs::create_directories(path("S/button"));
  writeFile("brightness", "255\n");
  fs::create_symlink(path("brightness"), path("S/button/LED"));
  auto entry = DeviceRegistry(dir_).entryFromPath("S:/button");
  ASSERT_TRUE(entry);
  std::string error;
  ASSERT_TRUE(entry->setProperty("LED", makeInteger(0), &error)) << error;
  EXPECT_TRUE(fs::is_symlink(path("S/button/LED")));
  EXPECT_EQ(readFile("brightness"), "0\n");
  ASSERT_TRUE(entry->setProperty("Name", makeString("front"), &error)) << error;
  EXPECT_EQ(readFile("S/button/Name"), "front\n");
  EXPECT_FALSE(entry->setProperty("a/b", makeInteger(1), &error));
  fs::remove_all(path("S"));
  EXPECT_FALSE(entry->setProperty("LED", makeInteger(1), &error));
  EXPECT_EQ(error.rfind("cannot open " + path("S/button/LED") + ": ", 0), 0u) << error;
}

}  // namespace
}  // namespace steward
