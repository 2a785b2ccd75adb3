#include "host/ContextStore.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/Archiver.h"
#include "tests/support/LogCapture.h"

namespace steward {
namespace {

class ContextStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/context-store-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    directory_ = std::string(pattern) + "/";
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  std::string path(const std::string& name) { return directory_ + name + ".lock"; }

  std::string contents(const std::string& name) {
    std::ifstream file(path(name), std::ios::binary);
    std::ostringstream buffer;
    buffer << file.rdbuf();
    return buffer.str();
  }

  void write(const std::string& name, const std::string& bytes) {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }

  ValueRef stored(const std::string& name) {
    return unarchiveObjectWithData(contents(name));
  }

  MutableDictionaryRef load(const std::string& name, int* fd) {
    return get_and_lock_context(name, fd, directory_);
  }

  std::string directory_;
};

MutableDictionaryRef onlyDirtyFalse() {
  auto dictionary = makeMutableDictionary();
  dictionary->setObject(makeBoolean(false), "contextDirty");
  return dictionary;
}

TEST_F(ContextStoreTest, FirstRunCreatesTheFileWithMode0770) {
  mode_t saved = umask(077);
  int fd = -1;
  MutableDictionaryRef context = load("tool", &fd);
  mode_t during = umask(saved);
  EXPECT_EQ(during, 077u);  // the caller's mask is restored
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(isEqual(context, onlyDirtyFalse()));
  struct stat info {};
  ASSERT_EQ(stat(path("tool").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0770u);

  set_and_unlock_context(&fd, &context);
  EXPECT_EQ(fd, -1);
  EXPECT_TRUE(isEqual(stored("tool"), onlyDirtyFalse()));
  // A second save does nothing.
  context->setObject(makeString("later"), "key");
  set_and_unlock_context(&fd, &context);
  EXPECT_TRUE(isEqual(stored("tool"), onlyDirtyFalse()));
}

TEST_F(ContextStoreTest, NamesUseTheirLastPathComponent) {
  EXPECT_EQ(context_file_path("/usr/libexec/steward_kestrel"),
            "/private/var/stewardd/steward_kestrel.lock");
  EXPECT_EQ(context_file_path("steward_info"),
            "/private/var/stewardd/steward_info.lock");
  EXPECT_EQ(context_file_path("/a/b/"), "/private/var/stewardd/.lock");
  int fd = -1;
  auto context = load("/some/where/tool", &fd);
  set_and_unlock_context(&fd, &context);
  EXPECT_TRUE(std::filesystem::exists(path("tool")));
}

TEST_F(ContextStoreTest, ContextDirtyDecidesTheSave) {
  auto stored = makeMutableDictionary();
  stored->setObject(makeString("before"), "value");
  std::string before;
  ASSERT_TRUE(archivedDataWithRootObject(stored, &before));

  struct Case {
    ValueRef flag;  // none: the entry is removed
    bool written;
    bool flagKept;
  };
  const Case cases[] = {{nullptr, true, false},
                        {makeBoolean(true), true, true},
                        {makeInteger(1), true, true},
                        {makeString("YES"), true, false},
                        {makeString("NO"), false, false},
                        {makeString("yes"), false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flag ? describe(c.flag) : "none");
    write("tool", before);
    int fd = -1;
    MutableDictionaryRef context = load("tool", &fd);
    context->setObject(makeString("after"), "value");
    if (c.flag) {
      context->setObject(c.flag, "contextDirty");
    } else {
      context->removeObjectForKey("contextDirty");
    }
    set_and_unlock_context(&fd, &context);
    EXPECT_EQ(context->objectForKey("contextDirty") != nullptr, c.flagKept);
    if (!c.written) {
      EXPECT_EQ(contents("tool"), before);
      continue;
    }
    auto expected = makeMutableDictionary();
    expected->setObject(makeString("after"), "value");
    if (c.flagKept) expected->setObject(c.flag, "contextDirty");
    EXPECT_TRUE(isEqual(this->stored("tool"), expected));
  }
}

TEST_F(ContextStoreTest, SavingNoContextEmptiesTheFile) {
  write("tool", "some bytes");
  int fd = -1;
  MutableDictionaryRef context = load("tool", &fd);
  MutableDictionaryRef none;
  set_and_unlock_context(&fd, &none);
  EXPECT_EQ(fd, -1);
  EXPECT_EQ(contents("tool"), "");
  set_and_unlock_context(nullptr, &context);  // no descriptor: nothing
}

TEST_F(ContextStoreTest, UnreadableContentGivesAnEmptyContext) {
  LogCapture log;
  write("tool", "garbage that is no archive");
  int fd = -1;
  EXPECT_TRUE(isEqual(load("tool", &fd), onlyDirtyFalse()));
  EXPECT_GE(fd, 0);
  MutableDictionaryRef none;
  set_and_unlock_context(&fd, &none);
  EXPECT_TRUE(log.texts().empty());

  // A root that is no dictionary is an exception: logged, no "contextDirty".
  std::string array;
  ASSERT_TRUE(archivedDataWithRootObject(makeMutableArray(), &array));
  write("tool", array);
  MutableDictionaryRef context = load("tool", &fd);
  EXPECT_GE(fd, 0);
  EXPECT_TRUE(isEqual(context, makeMutableDictionary()));
  set_and_unlock_context(&fd, &context);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0].priority, 13);
  EXPECT_EQ(log.lines()[0].text,
            "[" + std::to_string(getpid()) +
                "] exception in get_and_lock_context: context root is not a "
                "dictionary\n");
}

TEST_F(ContextStoreTest, MissingDirectoryGivesNoContext) {
  int fd = 7;
  EXPECT_FALSE(get_and_lock_context("tool", &fd, directory_ + "missing/"));
  EXPECT_EQ(fd, -1);
  MutableDictionaryRef none;
  set_and_unlock_context(&fd, &none);
  EXPECT_FALSE(std::filesystem::exists(directory_ + "missing"));
}

TEST_F(ContextStoreTest, SecondLockerWaitsAndSeesTheFirstSave) {
  int first = -1;
  MutableDictionaryRef context = load("tool", &first);
  ASSERT_GE(first, 0);

  MutableDictionaryRef seen;
  std::thread second([&] {
    int fd = -1;
    seen = load("tool", &fd);
    set_and_unlock_context(&fd, &seen);
  });
  // Each open is its own lock holder, so the thread must wait.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  context->setObject(makeString("first"), "owner");
  set_and_unlock_context(&first, &context);
  second.join();
  ASSERT_TRUE(seen);
  EXPECT_TRUE(isEqual(seen->objectForKey("owner"), makeString("first")));
}

}  // namespace
}  // namespace steward
