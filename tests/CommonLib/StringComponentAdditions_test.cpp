#include "CommonLib/StringComponentAdditions.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>

namespace steward {
namespace {

// The components of a split, or nullopt for none.
std::optional<std::vector<std::string>> split(const std::string& text,
                                              char16_t separator = u':') {
  ArrayRef parts = componentsSeparatedByCharacter(makeString(text), separator);
  if (!parts) return std::nullopt;
  std::vector<std::string> out;
  for (const auto& part : parts->objects())
    out.push_back(as<String>(part)->str());
  return out;
}

using Parts = std::vector<std::string>;

TEST(StringComponentAdditions, SplitFollowsTheTable) {
  EXPECT_EQ(split(""), std::nullopt);
  EXPECT_EQ(split("a"), Parts({"a"}));
  EXPECT_EQ(split("a:b"), Parts({"a", "b"}));
  EXPECT_EQ(split("a::b"), Parts({"a", "", "b"}));
  EXPECT_EQ(split(":a"), Parts({"", "a"}));
  EXPECT_EQ(split("a:"), Parts({"a", ""}));
  EXPECT_EQ(split(":"), Parts({"", ""}));
  EXPECT_EQ(split("a\\:b"), Parts({"a:b"}));
  EXPECT_EQ(split("a\\\\b"), Parts({"a\\b"}));
  EXPECT_EQ(split("a\\\\:b"), Parts({"a\\", "b"}));
  // A trailing single backslash is dropped, the component before it kept.
  EXPECT_EQ(split("x:a\\"), Parts({"x", "a"}));
  EXPECT_EQ(split("a\\"), Parts({"a"}));
  EXPECT_EQ(split("\\"), Parts({""}));
}

TEST(StringComponentAdditions, SplitAtCharactersOutsideASCII) {
  // U+00E9 as separator: its UTF-8 bytes never split another character.
  EXPECT_EQ(split("a\u00e9b\\\u00e9c", u'\u00e9'), Parts({"a", "b\u00e9c"}));
  EXPECT_EQ(split("\u00c9\u00e9", u'\u00e9'), Parts({"\u00c9", ""}));
  // A backslash before a character of two code units escapes it whole.
  EXPECT_EQ(split("\\\U0001D11E:b"), Parts({"\U0001D11E", "b"}));
  // A separator that is the first half of a character cuts it in two: the
  // second half is left alone, and joining brings them together again.
  auto halves = split("a\U0001D11Eb", u'\xD834');
  ASSERT_TRUE(halves);
  ASSERT_EQ(halves->size(), 2u);
  EXPECT_EQ((*halves)[0], "a");
  EXPECT_EQ((*halves)[1],
            "\xED\xB4\x9E"
            "b");  // U+DD1E alone, then b
  EXPECT_EQ(joinEscapedComponents(*halves, u'\xD834'), "a\U0001D11Eb");
}

// Joining any list and splitting the result gives the list back.
TEST(StringComponentAdditions, JoinAndSplitAreInverse) {
  const std::vector<std::string> pieces = {
      "a", "b", ":", "\\", " ", "\u00e9", "\u3000", "\U0001D11E", "\xED"};
  const std::vector<char16_t> separators = {u':',      u'\\' + 1, u'\u00e9',
                                            u'\u3000', u'\xD834', u'\xDD1E'};
  std::mt19937 random(20261206);
  for (int round = 0; round < 3000; ++round) {
    char16_t separator = separators[random() % separators.size()];
    std::vector<std::string> components(1 + random() % 5);
    for (auto& component : components)
      for (unsigned n = random() % 6; n > 0; --n)
        component += pieces[random() % pieces.size()];
    if (components == Parts({""})) continue;  // joins to the empty string
    std::string joined = joinEscapedComponents(components, separator);
    EXPECT_EQ(splitEscapedComponents(joined, separator), components)
        << "joined: " << joined << " separator: " << int(separator);
  }
  EXPECT_EQ(joinEscapedComponents({}, u':'), "");
  EXPECT_EQ(joinEscapedComponents({"", "b"}, u':'), ":b");
  EXPECT_EQ(joinEscapedComponents({"a:b", "c\\d"}, u':'), "a\\:b:c\\\\d");
}

TEST(StringComponentAdditions, EscapeAndUnescape) {
  bool hasSpaces = false;
  auto escaped =
      escapedStringForCharacter(makeString("a:b c\\d"), u':', &hasSpaces);
  EXPECT_EQ(escaped->str(), "a\\:b c\\\\d");
  EXPECT_TRUE(hasSpaces);
  EXPECT_TRUE(escaped->isMutable());

  hasSpaces = true;
  EXPECT_EQ(
      escapedStringForCharacter(makeString("a b"), u' ', &hasSpaces)->str(),
      "a\\ b");
  EXPECT_FALSE(hasSpaces);  // every space was escaped
  EXPECT_EQ(
      escapedStringForCharacter(makeString("x\u00a0y"), u'\u00a0', nullptr)
          ->str(),
      "x\\\u00a0y");

  auto source = makeString("a\\b\\\\c\\");
  auto unescaped = unescapedString(source);
  EXPECT_EQ(unescaped->str(), "ab\\c");
  EXPECT_TRUE(unescaped->isMutable());
  EXPECT_EQ(source->str(), "a\\b\\\\c\\");  // the receiver is unchanged

  // Halves of a character, escaped apart, become the character again.
  auto cut =
      escapedStringForCharacter(makeString("\U0001D11E"), u'\xDD1E', nullptr);
  EXPECT_EQ(cut->str(), "\xED\xA0\xB4\\\xED\xB4\x9E");
  EXPECT_EQ(unescapedString(cut)->str(), "\U0001D11E");
}

TEST(StringComponentAdditions, CompactsAndTrimsWhiteSpace) {
  auto compact = [](const std::string& text) {
    return stringWithCompactedAndTrimmedWhiteSpace(makeString(text))->str();
  };
  EXPECT_EQ(compact("  a \t\n b  "), "a b");
  EXPECT_EQ(compact(" \t \t"), "");
  EXPECT_EQ(compact(""), "");
  EXPECT_EQ(compact("a\v\f\rb"), "a b");
  // Unicode white space: no-break, line separator, ideographic, NEL.
  EXPECT_EQ(compact("\u00a0x\u2028\u3000y\u0085"), "x y");
  EXPECT_EQ(compact("x\u200by"), "x\u200by");  // zero width: not white space
  // The text ends at a character of code 0.
  EXPECT_EQ(compact(std::string("a  b\0 c", 7)), "a b");
  EXPECT_EQ(compact(std::string("a \0b", 4)), "a");
}

class StringFileTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/cl5-strings-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  static std::string contents(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  static void put(const std::string& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
  }
  static struct stat statOf(const std::string& file) {
    struct stat status {};
    EXPECT_EQ(::stat(file.c_str(), &status), 0);
    return status;
  }
  std::size_t entries() const {
    std::size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_))
      (void)e, ++n;
    return n;
  }

  std::string dir_;
};

TEST_F(StringFileTest, ReadsOnlyUTF8) {
  put(path("good"), "caf\u00e9\n\U0001D11E");
  auto text = UTF8StringWithContentsOfFile(path("good"));
  ASSERT_TRUE(text);
  EXPECT_EQ(text->str(), "caf\u00e9\n\U0001D11E");
  EXPECT_FALSE(text->isMutable());
  EXPECT_TRUE(UTF8MutableStringWithContentsOfFile(path("good"))->isMutable());

  put(path("latin1"), "caf\xe9");
  EXPECT_EQ(UTF8StringWithContentsOfFile(path("latin1")), nullptr);
  put(path("surrogate"), "\xED\xA0\x80");
  EXPECT_EQ(UTF8StringWithContentsOfFile(path("surrogate")), nullptr);
  EXPECT_EQ(UTF8StringWithContentsOfFile(path("missing")), nullptr);
  EXPECT_EQ(UTF8StringWithContentsOfFile(dir_), nullptr);
  put(path("empty"), "");
  EXPECT_EQ(UTF8StringWithContentsOfFile(path("empty"))->str(), "");
}

TEST_F(StringFileTest, WritesAtomicallyOrInPlace) {
  for (bool atomically : {true, false}) {
    std::string file = path(atomically ? "atomic" : "direct");
    put(file, "old content that is longer");
    ASSERT_TRUE(
        writeUTF8StringToFile(makeString("new \u00e9"), file, atomically));
    EXPECT_EQ(contents(file), "new \u00e9");
  }
  EXPECT_EQ(entries(), 2u);  // no temporary file is left beside them
  // A failed write answers false and leaves nothing behind.
  EXPECT_FALSE(writeUTF8StringToFile(makeString("x"), path("no/such"), true));
  EXPECT_FALSE(writeUTF8StringToFile(makeString("x"), path("no/such"), false));
  // Text that is not UTF-8 is not written.
  EXPECT_FALSE(writeUTF8StringToFile(makeString("\xff"), path("bad"), true));
  EXPECT_EQ(entries(), 2u);
}

TEST_F(StringFileTest, WriteKeepsTheOldOwnerAndGroup) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give files away";
  for (bool atomically : {true, false}) {
    std::string file = path(atomically ? "atomic" : "direct");
    put(file, "old");
    ASSERT_EQ(::chown(file.c_str(), 65534, 65533), 0);
    ASSERT_TRUE(
        writeUTF8StringToFile(makeString("new"), file, atomically, 1234, 5678));
    EXPECT_EQ(contents(file), "new");
    EXPECT_EQ(statOf(file).st_uid, 65534u);
    EXPECT_EQ(statOf(file).st_gid, 65533u);
  }
  // A new file takes the default ids, or stays as created without them.
  ASSERT_TRUE(
      writeUTF8StringToFile(makeString("n"), path("new1"), true, 1234, 5678));
  EXPECT_EQ(statOf(path("new1")).st_uid, 1234u);
  EXPECT_EQ(statOf(path("new1")).st_gid, 5678u);
  ASSERT_TRUE(writeUTF8StringToFile(makeString("n"), path("new2"), true));
  EXPECT_EQ(statOf(path("new2")).st_uid, 0u);
}

// Run as an ordinary user, the write replaces root's file but cannot give
// the new one back to root: false, the message, and the new content.
TEST_F(StringFileTest, FailedOwnerChangeIsReportedOnStandardError) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch users";
  ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);
  std::string file = path("owned-by-root");
  std::string errors = path("stderr");
  put(file, "old");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int fd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, 2) < 0 || setgid(65534) != 0 || setuid(65534) != 0)
      _exit(2);
    bool ok = writeUTF8StringToFile(makeString("new"), file, true);
    std::fflush(stderr);
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(contents(errors),
            "Error: Couldn't set the owner and group of file " + file + "\n");
  EXPECT_EQ(contents(file), "new");
}

}  // namespace
}  // namespace steward
