#include "platform/DeviceRegistry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ScratchDirectory.h"

namespace steward {
namespace {

namespace fs = std::filesystem;

TEST(DeviceRegistry, WalksDepthFirstInByteOrderWithoutFollowingLinks) {
  ScratchDirectory dir;
  const std::string entries[] = {"P/b", "P/a/y", "P/a/x/deep", "P/B", "Other/z", "Empty",
                                 "P/b/" + std::string(140, 'n')};
  for (const std::string& entry : entries) fs::create_directories(dir.path(entry));
  dir.write("P/a/prop", "1\n");  // a property, not an entry
  fs::create_directory_symlink(dir.path("P"), dir.path("P/a/loop"));

  DeviceRegistry registry(dir.path());
  auto iterator = registry.createIterator("P");
  ASSERT_TRUE(iterator);
  std::vector<std::string> names;
  while (auto entry = iterator->next()) names.push_back(entry->name());
  EXPECT_EQ(names, (std::vector<std::string>{"B", "a", "x", "deep", "y", "b", std::string(127, 'n')}));
  EXPECT_FALSE(registry.createIterator("Missing"));
  EXPECT_FALSE(registry.createIterator(".."));
  EXPECT_FALSE(registry.createIterator("Empty")->next());
}

TEST(DeviceRegistry, FindsEntriesByPathOnly) {
  ScratchDirectory dir;
  fs::create_directories(dir.path("IODeviceTree/options"));
  fs::create_directories(dir.path("IOService/secret"));
  dir.write("IODeviceTree/file", "");
  DeviceRegistry registry(dir.path(""));  // a trailing "/" is fine
  auto options = registry.entryFromPath("IODeviceTree:/options");
  ASSERT_TRUE(options);
  EXPECT_EQ(options->name(), "options");
  EXPECT_EQ(options->directory(), dir.path("IODeviceTree/options"));
  EXPECT_TRUE(registry.entryFromPath("IODeviceTree://options/"));
  for (const char* bad : {"IODeviceTree:/file", "IODeviceTree:options", "IODeviceTree/options",
                          "IODeviceTree:/../IOService/secret"})
    EXPECT_FALSE(registry.entryFromPath(bad)) << bad;
}

TEST(DeviceRegistry, PropertiesAreUTF8FilesWithoutTheirLastLineFeed) {
  ScratchDirectory dir;
  fs::create_directories(dir.path("D/options/sub"));
  dir.write("D/options/two-lines", "a\n\n");
  dir.write("D/options/empty", "");
  dir.write("D/options/latin1", "caf\xe9");
  auto entry = DeviceRegistry(dir.path()).entryFromPath("D:/options");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->copyProperty("two-lines")->str(), "a\n");
  EXPECT_EQ(entry->copyProperty("empty")->str(), "");
  // Not UTF-8, missing, a child entry, a path.
  for (const char* none : {"latin1", "missing", "sub", "../options/two-lines"})
    EXPECT_FALSE(entry->copyProperty(none)) << none;
}

// Writing a property, through a link too, runs end to end in the sandbox;
// here, the refusals.
TEST(DeviceRegistry, SettingRefusesPathsAndSaysWhyItFails) {
  ScratchDirectory dir;
  fs::create_directories(dir.path("S/button"));
  auto entry = DeviceRegistry(dir.path()).entryFromPath("S:/button");
  ASSERT_TRUE(entry);
  std::string error;
  EXPECT_FALSE(entry->setProperty("../b", makeInteger(1), &error));
  fs::remove_all(dir.path("S"));
  EXPECT_FALSE(entry->setProperty("LED", makeInteger(1), &error));
  EXPECT_EQ(error.rfind("cannot open " + dir.path("S/button/LED") + ": ", 0), 0u) << error;
}

}  // namespace
}  // namespace steward
