#include "CommonLib/PerformanceExtensions.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace steward {
namespace {

void setTimes(const std::string& path, time_t seconds, long nanoseconds) {
  struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

TEST(PerformanceExtensions, ModificationDateOfThePathItself) {
  char pattern[] = "/tmp/cl5-dates-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string dir = pattern;
  std::string file = dir + "/file";
  std::string link = dir + "/link";
  std::ofstream(file) << "x";
  ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
  setTimes(file, 1000000000, 700000000);
  setTimes(link, 1500000000, 100);

  DateRef fileDate = modificationDateAtPath(file);
  ASSERT_TRUE(fileDate);
  EXPECT_EQ(fileDate->unixTime(), 1000000000.0);  // whole seconds only
  DateRef linkDate = modificationDateAtPath(link);
  ASSERT_TRUE(linkDate);
  EXPECT_EQ(linkDate->unixTime(), 1500000000.0);  // the link's own date

  setTimes(file, 1000000000, 100);  // another write in the same second
  EXPECT_TRUE(isEqual(modificationDateAtPath(file), fileDate));

  EXPECT_EQ(modificationDateAtPath(dir + "/missing"), nullptr);
  EXPECT_EQ(modificationDateAtPath(""), nullptr);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace steward
