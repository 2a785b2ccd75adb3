#include "platform/AtomicFile.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace steward {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public testing::Test {
 protected:
  AtomicFileTest() {
    char pattern[] = "/tmp/steward-atomic.XXXXXX";
    dir_ = mkdtemp(pattern);
    std::ofstream(path("f")) << "old";
  }
  ~AtomicFileTest() override { fs::remove_all(dir_); }
  std::string path(const char* name) const { return dir_ + "/" + name; }
  std::string read(const char* name) const {
    std::ostringstream text;
    text << std::ifstream(path(name)).rdbuf();
    return text.str();
  }
  struct stat statOf(const char* name) const {
    struct stat status = {};
    EXPECT_EQ(lstat(path(name).c_str(), &status), 0) << name;
    return status;
  }
  std::size_t entries() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {}));
  }
  std::string dir_;
};

TEST_F(AtomicFileTest, KeepsOwnerGroupAndModeAndWritesThroughLinks) {
  // Run as root, the owner can be anyone's.
  ASSERT_EQ(chown(path("f").c_str(), 4321, 8765), 0);
  ASSERT_EQ(chmod(path("f").c_str(), 0640), 0);
  fs::create_symlink("f", path("link"));
  std::string error;
  ASSERT_TRUE(writeFileAtomically(path("link"), "new", &error)) << error;
  EXPECT_TRUE(S_ISLNK(statOf("link").st_mode));
  EXPECT_EQ(read("f"), "new");
  struct stat status = statOf("f");
  EXPECT_EQ(status.st_uid, 4321u);
  EXPECT_EQ(status.st_gid, 8765u);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(entries(), 2u);

  // A new file takes the chosen mode, here as the mask leaves it.
  mode_t mask = umask(022);
  EXPECT_TRUE(writeFileAtomically(path("g"), "g", nullptr, 0666));
  umask(mask);
  EXPECT_EQ(statOf("g").st_mode & 07777, 0644u);
  EXPECT_EQ(read("g"), "g");
}

TEST_F(AtomicFileTest, NothingChangesWithoutCommitOrOnFailure) {
  {
    AtomicFile file(path("f"));
    file.write("never");
  }
  EXPECT_EQ(read("f"), "old");
  fs::create_directory(path("d"));
  std::string error;
  EXPECT_FALSE(writeFileAtomically(path("d"), "x", &error));
  EXPECT_EQ(error, "cannot replace " + path("d") + ": Is a directory");
  EXPECT_FALSE(writeFileAtomically(path("none/f"), "x", &error));
  EXPECT_EQ(error, "cannot create a file beside " + path("none/f") +
                       ": No such file or directory");
  EXPECT_EQ(read("f"), "old");
  EXPECT_EQ(entries(), 2u);  // no temporary file stays
}

}  // namespace
}  // namespace steward
