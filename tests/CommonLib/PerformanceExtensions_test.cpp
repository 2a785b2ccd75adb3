#include "CommonLib/PerformanceExtensions.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/CommonLib/ScratchDirectory.h"

namespace steward {
namespace {

void setTimes(const std::string& path, time_t seconds, long nanoseconds) {
  struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// Whole seconds of the path itself: a link's own date, not its target's.
TEST(PerformanceExtensions, ModificationDateOfThePathItself) {
  ScratchDirectory dir;
  dir.write("file", "x");
  ASSERT_EQ(symlink(dir.path("file").c_str(), dir.path("link").c_str()), 0);
  setTimes(dir.path("file"), 1000000000, 700000000);
  setTimes(dir.path("link"), 1500000000, 100);
  DateRef fileDate = modificationDateAtPath(dir.path("file"));
  ASSERT_TRUE(fileDate);
  EXPECT_EQ(fileDate->unixTime(), 1000000000.0);
  EXPECT_EQ(modificationDateAtPath(dir.path("link"))->unixTime(), 1500000000.0);
  setTimes(dir.path("file"), 1000000000, 100);  // another write in the same second
  EXPECT_TRUE(isEqual(modificationDateAtPath(dir.path("file")), fileDate));
  EXPECT_EQ(modificationDateAtPath(dir.path("missing")), nullptr);
  EXPECT_EQ(modificationDateAtPath(""), nullptr);
}

}  // namespace
}  // namespace steward
