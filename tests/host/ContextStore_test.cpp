#include "host/ContextStore.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "platform/Archiver.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScratchDirectory.h"
#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

namespace fs = std::filesystem;

class ContextStoreTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) { return dir_.path(name); }
  std::string file() { return path("tool.lock"); }
  void write(const ValueRef& root) {
    std::string bytes;
    ASSERT_TRUE(archivedDataWithRootObject(root, &bytes));
    dir_.write("tool.lock", bytes);
  }
  ValueRef stored() { return unarchiveObjectWithData(dir_.read("tool.lock")); }
  MutableDictionaryRef load(int* fd) {
    return get_and_lock_context("/x/tool", fd, dir_.path() + "/");
  }
  std::string logged(const std::string& text) {
    return "[" + std::to_string(getpid()) + "] " + text + "\n";
  }

  ScratchDirectory dir_;
  LogCapture log_;
  const ValueRef onlyDirtyFalse_ = dictionaryOf({{"contextDirty", makeBoolean(false)}});
};

TEST_F(ContextStoreTest, FirstRunCreatesTheFileWithMode0770) {
  EXPECT_EQ(context_file_path("/a/b/"), "/private/var/stewardd/.lock");
  mode_t saved = umask(077);
  int fd = -1;
  MutableDictionaryRef context = load(&fd);
  EXPECT_EQ(umask(saved), 077u);  // the caller's mask is restored
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(isEqual(context, onlyDirtyFalse_));
  EXPECT_EQ(fs::status(file()).permissions(), fs::perms(0770));
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
  EXPECT_EQ(dir_.read("tool.lock"), "");
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
  dir_.write("tool.lock", "garbage that is no archive");
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
  dir_.write("target", "kept");
  std::string target = path("target");
  const std::pair<std::function<void()>, int> plants[] = {
      {[&] { fs::create_symlink(target, file()); }, ELOOP},
      {[&] { fs::create_symlink(path("nowhere"), file()); }, ELOOP},
      {[&] { fs::create_directory(file()); }, EISDIR},
      {[&] { ASSERT_EQ(mkfifo(file().c_str(), 0600), 0); }, EINVAL},
  };
  std::vector<std::string> expected;
  for (const auto& [plant, error] : plants) {
    fs::remove_all(file());
    plant();
    int fd = 7;
    MutableDictionaryRef context = load(&fd);
    EXPECT_FALSE(context);
    EXPECT_EQ(fd, -1);
    set_and_unlock_context(&fd, &context);
    EXPECT_FALSE(fs::exists(path("nowhere")));
    expected.push_back(
        logged("error in get_and_lock_context: -1 (errno=" + std::to_string(error) + ")"));
  }
  EXPECT_EQ(log_.texts(), expected);
  EXPECT_EQ(dir_.read("target"), "kept");
}

}  // namespace
}  // namespace steward
