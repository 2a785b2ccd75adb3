#include "CommonLib/StringComponentAdditions.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>

#include "CommonLib/PerformanceExtensions.h"
#include "tests/support/ScratchDirectory.h"

namespace steward {
namespace {

using Parts = std::vector<std::string>;

// The components of a split, or nullopt for none.
std::optional<Parts> split(const std::string& text, char16_t separator = u':') {
  ArrayRef parts = componentsSeparatedByCharacter(makeString(text), separator);
  if (!parts) return std::nullopt;
  Parts out;
  for (const auto& part : parts->objects()) out.push_back(as<String>(part)->str());
  return out;
}

TEST(StringComponentAdditions, SplitsJoinsAndEscapes) {
  EXPECT_EQ(split(""), std::nullopt);
  const std::pair<const char*, Parts> cases[] = {
      {"a", {"a"}}, {"a::b", {"a", "", "b"}}, {":a", {"", "a"}}, {"a:", {"a", ""}},
      {"a\\:b", {"a:b"}}, {"a\\\\:b", {"a\\", "b"}},
      {"x:a\\", {"x", "a"}}, {"\\", {""}},  // a trailing lone backslash is dropped
      {"\\\U0001D11E:b", {"\U0001D11E", "b"}},  // escapes both code units
  };
  for (const auto& [text, parts] : cases) EXPECT_EQ(split(text), parts) << text;
  EXPECT_EQ(split("a\u00e9b\\\u00e9c", u'\u00e9'), Parts({"a", "b\u00e9c"}));
  // A separator that is the first half of a character cuts it in two; joining
  // brings the halves together again.
  Parts halves = {"a", "\xED\xB4\x9E" "b"};
  EXPECT_EQ(split("a\U0001D11Eb", u'\xD834'), halves);
  EXPECT_EQ(joinEscapedComponents(halves, u'\xD834'), "a\U0001D11Eb");
  EXPECT_EQ(joinEscapedComponents({"a:b", "c\\d"}, u':'), "a\\:b:c\\\\d");

  bool hasSpaces = false;
  auto escaped = escapedStringForCharacter(makeString("a:b c\\d"), u':', &hasSpaces);
  EXPECT_EQ(escaped->str(), "a\\:b c\\\\d");
  EXPECT_TRUE(hasSpaces && escaped->isMutable());
  EXPECT_EQ(escapedStringForCharacter(makeString("a b"), u' ', &hasSpaces)->str(), "a\\ b");
  EXPECT_FALSE(hasSpaces);  // every space was escaped
  auto source = makeString("a\\b\\\\c\\");
  EXPECT_EQ(unescapedString(source)->str(), "ab\\c");
  EXPECT_EQ(source->str(), "a\\b\\\\c\\");  // the receiver is unchanged
}

TEST(StringComponentAdditions, CompactsAndTrimsWhiteSpace) {
  const std::pair<std::string, const char*> cases[] = {
      {"  a \t\n b  ", "a b"}, {" \t \t", ""}, {"a\v\f\rb", "a b"},
      {"\u00a0x\u2028\u3000y\u0085", "x y"},  // Unicode white space
      {"x\u200by", "x\u200by"},               // zero width is none
      {std::string("a  b\0 c", 7), "a b"},    // the text ends at code 0
  };
  for (const auto& [text, compact] : cases)
    EXPECT_EQ(stringWithCompactedAndTrimmedWhiteSpace(makeString(text))->str(), compact);
}

// Only UTF-8 is read. Either way of writing, a file that was there keeps its
// owner and group; a new one takes the given ids. A failed or refused write
// leaves nothing behind.
TEST(StringFile, ReadsOnlyUTF8AndWritesKeepingTheOwnerAndGroup) {
  ScratchDirectory dir;
  auto owner = [&](const char* name) {
    struct stat status = {};
    EXPECT_EQ(::stat(dir.path(name).c_str(), &status), 0);
    return std::pair(status.st_uid, status.st_gid);
  };
  const std::string text = "caf\u00e9\n\U0001D11E";
  for (const char* name : {"atomic", "direct"}) {
    dir.write(name, "old content that is longer");
    ASSERT_EQ(::chown(dir.path(name).c_str(), 65534, 65533), 0);  // run as root
    bool atomically = name == std::string("atomic");
    ASSERT_TRUE(writeUTF8StringToFile(makeString(text), dir.path(name), atomically, 1, 2));
    EXPECT_EQ(UTF8StringWithContentsOfFile(dir.path(name))->str(), text);
    EXPECT_EQ(owner(name), std::pair(65534u, 65533u));
    EXPECT_FALSE(writeUTF8StringToFile(makeString("x"), dir.path("no/such"), atomically));
  }
  ASSERT_TRUE(writeUTF8StringToFile(makeString("n"), dir.path("new"), true, 1234, 5678));
  EXPECT_EQ(owner("new"), std::pair(1234u, 5678u));
  EXPECT_FALSE(writeUTF8StringToFile(makeString("\xff"), dir.path("bad"), true));
  EXPECT_EQ(dir.listing(), "atomic direct new ");
  dir.write("latin1", "caf\xe9");
  dir.write("surrogate", "\xED\xA0\x80");
  for (const char* bad : {"latin1", "surrogate", "missing"})
    EXPECT_EQ(UTF8StringWithContentsOfFile(dir.path(bad)), nullptr) << bad;
}

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
