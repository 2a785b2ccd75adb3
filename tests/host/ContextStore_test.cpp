#include "host/ContextStore.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "platform/Archiver.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ValueBuilders.h"

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
  std::string contents(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  void write(const ValueRef& root) {
    std::string bytes;
    ASSERT_TRUE(archivedDataWithRootObject(root, &bytes));
    std::ofstream(path(), std::ios::binary) << bytes;
  }
  ValueRef stored() { return unarchiveObjectWithData(contents(path())); }
  MutableDictionaryRef load(int* fd) {
    return get_and_lock_context("/some/where/tool", fd, directory_);
  }
  std::string logged(const std::string& text) {
    return "[" + std::to_string(getpid()) + "] " + text + "\n";
  }

  LogCapture log_;
  std::string directory_;
  const MutableDictionaryRef onlyDirtyFalse_ = dictionaryOf({{"contextDirty", makeBoolean(false)}});
};

TEST_F(ContextStoreTest, FirstRunCreatesTheFileWithMode0770) {
  EXPECT_EQ(context_file_path("/a/b/"), "/private/var/stewardd/.lock");
  mode_t saved = umask(077);
  int fd = -1;
  MutableDictionaryRef context = load(&fd);
  EXPECT_EQ(umask(saved), 077u);  // the caller's mask is restored
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(isEqual(context, onlyDirtyFalse_));
  EXPECT_EQ(fs::status(path()).permissions(), fs::perms(0770));
  set_and_unlock_context(&fd, &context);
  EXPECT_EQ(fd, -1);
  // A second save does nothing; a save of no context empties the file.
  context->setObject(makeString("later"), "key");
  set_and_unlock_context(&fd, &context);
  set_and_unlock_context(nullptr, &context);
  EXPECT_TRUE(isEqual(stored(), onlyDirtyFalse_));
  context = load(&fd);
  MutableDictionaryRef none;
  set_and_unlock_context(&fd, &none);
  EXPECT_EQ(contents(path()), "");
  EXPECT_TRUE(log_.texts().empty());
}

TEST_F(ContextStoreTest, ContextDirtyDecidesTheSave) {
  // The flag a run leaves (none: removed), and whether the save writes and keeps it.
  const std::tuple<ValueRef, bool, bool> cases[] = {
      {nullptr, true, false},           {makeBoolean(true), true, true},
      {makeInteger(1), true, true},     {makeString("YES"), true, false},
      {makeString("NO"), false, false}, {makeString("yes"), false, false}};
  for (const auto& [flag, written, flagKept] : cases) {
    SCOPED_TRACE(flag ? describe(flag) : "none");
    write(onlyDirtyFalse_);
    int fd = -1;
    MutableDictionaryRef context = load(&fd);
    context->setObject(makeString("after"), "value");
    context->removeObjectForKey("contextDirty");
    if (flag) context->setObject(flag, "contextDirty");
    set_and_unlock_context(&fd, &context);
    EXPECT_EQ(context->objectForKey("contextDirty") != nullptr, flagKept);
    auto expected = dictionaryOf({{"value", makeString("after")}});
    if (flagKept) expected->setObject(flag, "contextDirty");
    EXPECT_TRUE(isEqual(stored(), written ? expected : onlyDirtyFalse_));
  }
}

TEST_F(ContextStoreTest, UnreadableContentGivesAnEmptyContext) {
  std::ofstream(path()) << "garbage that is no archive";
  int fd = -1;
  EXPECT_TRUE(isEqual(load(&fd), onlyDirtyFalse_));
  MutableDictionaryRef none;
  set_and_unlock_context(&fd, &none);
  EXPECT_TRUE(log_.texts().empty());
  // A root that is no dictionary is an exception: logged, no "contextDirty".
  write(makeMutableArray());
  MutableDictionaryRef context = load(&fd);
  EXPECT_GE(fd, 0);
  EXPECT_TRUE(isEqual(context, makeMutableDictionary()));
  set_and_unlock_context(&fd, &context);
  ASSERT_EQ(log_.lines().size(), 1u);
  EXPECT_EQ(log_.lines()[0].priority, 13);
  EXPECT_EQ(log_.lines()[0].text,
            logged("exception in get_and_lock_context: context root is not a dictionary"));
}

TEST_F(ContextStoreTest, OnlyARegularFileIsEverOpened) {
  std::string target = directory_ + "target";
  std::ofstream(target) << "kept";
  const std::pair<std::function<void()>, int> plants[] = {
      {[&] { fs::create_symlink(target, path()); }, ELOOP},
      {[&] { fs::create_symlink(directory_ + "nowhere", path()); }, ELOOP},
      {[&] { fs::create_directory(path()); }, EISDIR},
      {[&] { ASSERT_EQ(mkfifo(path().c_str(), 0600), 0); }, EINVAL},
  };
  std::vector<std::string> expected;
  for (const auto& [plant, error] : plants) {
    fs::remove_all(path());
    plant();
    int fd = 7;
    MutableDictionaryRef context = load(&fd);
    EXPECT_FALSE(context);
    EXPECT_EQ(fd, -1);
    set_and_unlock_context(&fd, &context);
    EXPECT_FALSE(fs::exists(directory_ + "nowhere"));
    expected.push_back(logged("error in get_and_lock_context: -1 (errno=" + std::to_string(error) + ")"));
  }
  EXPECT_EQ(log_.texts(), expected);
  EXPECT_EQ(contents(target), "kept");
}

}  // namespace
}  // namespace steward
