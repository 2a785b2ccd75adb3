#include "host/ContextStore.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/Archiver.h"
#include "tests/support/LogCapture.h"

namespace steward {
namespace {

namespace fs = std::filesystem;

class ContextStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/context-store-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    directory_ = std::string(pattern) + "/";
  }
  void TearDown() override { fs::remove_all(directory_); }

  std::string path() { return directory_ + "tool.lock"; }
  std::string contents() {
    std::ostringstream buffer;
    buffer << std::ifstream(path(), std::ios::binary).rdbuf();
    return buffer.str();
  }
  void write(const std::string& bytes) { std::ofstream(path(), std::ios::binary) << bytes; }
  ValueRef stored() { return unarchiveObjectWithData(contents()); }
  MutableDictionaryRef load(int* fd) { return get_and_lock_context("/some/where/tool", fd, directory_); }

  LogCapture log_;
  std::string directory_;
};

MutableDictionaryRef onlyDirtyFalse() {
  auto dictionary = makeMutableDictionary();
  dictionary->setObject(makeBoolean(false), "contextDirty");
  return dictionary;
}

TEST_F(ContextStoreTest, FirstRunCreatesTheFileWithMode0770) {
  EXPECT_EQ(context_file_path("/usr/libexec/steward_kestrel"),
            "/private/var/stewardd/steward_kestrel.lock");
  EXPECT_EQ(context_file_path("steward_info"), "/private/var/stewardd/steward_info.lock");
  EXPECT_EQ(context_file_path("/a/b/"), "/private/var/stewardd/.lock");
  mode_t saved = umask(077);
  int fd = -1;
  MutableDictionaryRef context = load(&fd);
  EXPECT_EQ(umask(saved), 077u);  // the caller's mask is restored
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(isEqual(context, onlyDirtyFalse()));
  struct stat info {};
  ASSERT_EQ(stat(path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0770u);
  set_and_unlock_context(&fd, &context);
  EXPECT_EQ(fd, -1);
  EXPECT_TRUE(isEqual(stored(), onlyDirtyFalse()));
  // A second save does nothing; a save of no context empties the file.
  context->setObject(makeString("later"), "key");
  set_and_unlock_context(&fd, &context);
  set_and_unlock_context(nullptr, &context);
  EXPECT_TRUE(isEqual(stored(), onlyDirtyFalse()));
  context = load(&fd);
  MutableDictionaryRef none;
  set_and_unlock_context(&fd, &none);
  EXPECT_EQ(contents(), "");
  EXPECT_TRUE(log_.texts().empty());
}

TEST_F(ContextStoreTest, ContextDirtyDecidesTheSave) {
  std::string before;
  ASSERT_TRUE(archivedDataWithRootObject(onlyDirtyFalse(), &before));
  struct Case {
    ValueRef flag;  // none: the entry is removed
    bool written;
    bool flagKept;
  };
  const Case cases[] = {{nullptr, true, false},        {makeBoolean(true), true, true},
                        {makeInteger(1), true, true},  {makeString("YES"), true, false},
                        {makeString("NO"), false, false}, {makeString("yes"), false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flag ? describe(c.flag) : "none");
    write(before);
    int fd = -1;
    MutableDictionaryRef context = load(&fd);
    context->setObject(makeString("after"), "value");
    context->removeObjectForKey("contextDirty");
    if (c.flag) context->setObject(c.flag, "contextDirty");
    set_and_unlock_context(&fd, &context);
    EXPECT_EQ(context->objectForKey("contextDirty") != nullptr, c.flagKept);
    if (!c.written) {
      EXPECT_EQ(contents(), before);
      continue;
    }
    auto expected = makeMutableDictionary();
    expected->setObject(makeString("after"), "value");
    if (c.flagKept) expected->setObject(c.flag, "contextDirty");
    EXPECT_TRUE(isEqual(stored(), expected));
  }
}

TEST_F(ContextStoreTest, UnreadableContentGivesAnEmptyContext) {
  write("garbage that is no archive");
  int fd = -1;
  EXPECT_TRUE(isEqual(load(&fd), onlyDirtyFalse()));
  EXPECT_GE(fd, 0);
  MutableDictionaryRef none;
  set_and_unlock_context(&fd, &none);
  EXPECT_TRUE(log_.texts().empty());
  // A root that is no dictionary is an exception: logged, no "contextDirty".
  std::string array;
  ASSERT_TRUE(archivedDataWithRootObject(makeMutableArray(), &array));
  write(array);
  MutableDictionaryRef context = load(&fd);
  EXPECT_GE(fd, 0);
  EXPECT_TRUE(isEqual(context, makeMutableDictionary()));
  set_and_unlock_context(&fd, &context);
  ASSERT_EQ(log_.lines().size(), 1u);
  EXPECT_EQ(log_.lines()[0].priority, 13);
  EXPECT_EQ(log_.lines()[0].text, "[" + std::to_string(getpid()) +
                                      "] exception in get_and_lock_context: context root is "
                                      "not a dictionary\n");
}

TEST_F(ContextStoreTest, OnlyARegularFileIsEverOpened) {
  std::string target = directory_ + "target";
  std::ofstream(target) << "kept";
  // A missing directory is no fault of anyone's: no log.
  int fd = 7;
  EXPECT_FALSE(get_and_lock_context("tool", &fd, directory_ + "missing/"));
  EXPECT_EQ(fd, -1);
  const std::pair<std::function<void()>, int> plants[] = {
      {[&] { fs::create_symlink(target, path()); }, ELOOP},
      {[&] { fs::create_symlink(directory_ + "nowhere", path()); }, ELOOP},
      {[&] { fs::create_directory(path()); }, EISDIR},
      {[&] { ASSERT_EQ(mkfifo(path().c_str(), 0600), 0); }, EINVAL},
  };
  for (const auto& [plant, error] : plants) {
    fs::remove_all(path());
    plant();
    fd = 7;
    MutableDictionaryRef context = load(&fd);
    EXPECT_FALSE(context);
    EXPECT_EQ(fd, -1);
    set_and_unlock_context(&fd, &context);
    EXPECT_FALSE(fs::exists(directory_ + "nowhere"));
  }
  std::vector<std::string> expected;
  for (const auto& [plant, error] : plants) {
    expected.push_back("[" + std::to_string(getpid()) +
                       "] error in get_and_lock_context: -1 (errno=" + std::to_string(error) +
                       ")\n");
  }
  EXPECT_EQ(log_.texts(), expected);
  std::ifstream kept(target);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "kept");
}

}  // namespace
}  // namespace steward
