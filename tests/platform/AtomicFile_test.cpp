#include "platform/AtomicFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/ScratchDirectory.h"

namespace steward {
namespace {

struct stat statOf(const std::string& path) {
  struct stat status = {};
  EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
  return status;
}

TEST(AtomicFile, KeepsOwnerGroupAndModeAndWritesThroughLinks) {
  ScratchDirectory dir;
  dir.write("f", "old");
  // Run as root, the owner can be anyone's.
  ASSERT_EQ(chown(dir.path("f").c_str(), 4321, 8765), 0);
  ASSERT_EQ(chmod(dir.path("f").c_str(), 0640), 0);
  std::filesystem::create_symlink("f", dir.path("link"));
  std::string error;
  ASSERT_TRUE(writeFileAtomically(dir.path("link"), "new", &error)) << error;
  EXPECT_TRUE(S_ISLNK(statOf(dir.path("link")).st_mode));
  EXPECT_EQ(dir.read("f"), "new");
  struct stat status = statOf(dir.path("f"));
  EXPECT_EQ(status.st_uid, 4321u);
  EXPECT_EQ(status.st_gid, 8765u);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(dir.listing(), "f link ");
}

TEST(AtomicFile, NothingChangesWithoutCommitOrOnFailure) {
  ScratchDirectory dir;
  dir.write("f", "old");
  {
    AtomicFile file(dir.path("f"));
    file.write("never");
  }
  std::filesystem::create_directory(dir.path("d"));
  std::string error;
  EXPECT_FALSE(writeFileAtomically(dir.path("d"), "x", &error));
  EXPECT_EQ(error, "cannot replace " + dir.path("d") + ": Is a directory");
  EXPECT_EQ(dir.read("f"), "old");
  EXPECT_EQ(dir.listing(), "d f ");  // no temporary file stays
}

}  // namespace
}  // namespace steward
