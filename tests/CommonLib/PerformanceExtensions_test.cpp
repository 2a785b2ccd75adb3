#include "CommonLib/PerformanceExtensions.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/CommonLib/ScratchDirectory.h"

namespace steward {
namespace {

// Whole seconds of the path itself: a link's own date, not its target's.
TEST(PerformanceExtensions, ModificationDateOfThePathItself) {
  ScratchDirectory dir;
  dir.write("file", "x");
  ASSERT_EQ(symlink(dir.path("file").c_str(), dir.path("link").c_str()), 0);
  struct timespec times[2] = {{1000000000, 700000000}, {1000000000, 700000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, dir.path("file").c_str(), times, 0), 0);
  times[1].tv_sec = 1500000000;  // the modification time
  ASSERT_EQ(utimensat(AT_FDCWD, dir.path("link").c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
  auto seconds = [&](const char* name) {
    DateRef date = modificationDateAtPath(dir.path(name));
    return date ? date->unixTime() : -1;
  };
  EXPECT_EQ(seconds("file"), 1000000000.0);
  EXPECT_EQ(seconds("link"), 1500000000.0);
  EXPECT_EQ(seconds("missing"), -1);
}

}  // namespace
}  // namespace steward
