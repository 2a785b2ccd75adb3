#include "CommonLib/HostConfigUtilities.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/ScratchDirectory.h"

namespace steward {
namespace {

using Editor = HostConfigUtilities;

// Only "key=" is the key's entry; a value holding "=" makes a bad line. Every
// entry is set and every line trimmed; an absent key is appended.
TEST(HostConfigText, FindsAndSetsTheEntriesOfExactlyTheKey) {
  const std::string text =
      "ALPHA_BETA=2\nALPHA=1\n  \tGAMMA=\"3 x\" \n# DELTA=x\nEMPTY=\nDUP=1\nDUP=2\n  BAD=a=b \n";
  const std::pair<const char*, const char*> cases[] = {
      {"ALPHA", "1|"}, {"ALPHA_BETA", "2|"}, {"ALP", "|"}, {"GAMMA", "\"3 x\"|"},
      {"DELTA", "|"}, {"EMPTY", "|"}, {"DUP", "1|"}, {"BAD", "untouched|BAD=a=b"}};
  for (const auto& [key, expected] : cases) {
    std::string value = "untouched", badLine;
    bool found = Editor::valueForKeyInText(text, key, &value, &badLine);
    EXPECT_EQ(found, badLine.empty()) << key;
    EXPECT_EQ(value + "|" + badLine, expected) << key;
  }
  const char* edits[][4] = {
      {"ALPHA_BETA=2\nALPHA=1\n", "ALPHA", "5", "ALPHA_BETA=2\nALPHA=5\n"},
      {"K=1\n # c \nK=2\n", "K", "\"a b\"", "K=\"a b\"\n# c\nK=\"a b\"\n"},
      {"  GAMMA=3\n\tX=1\t\n", "X", "2", "GAMMA=3\nX=2\n"},
      {"A=1\nB=2", "B", "3", "A=1\nB=3"}, {"A=1\r\nB=\xff\n", "A", "2", "A=2\nB=\xff\n"},
      {"A=1", "B", "2", "A=1\nB=2\n"}, {"A=1\n\n", "B", "2", "A=1\n\nB=2\n"},
      {"# B=x\n", "B", "2", "# B=x\nB=2\n"}, {"", "KEY", "value", "KEY=value\n"},
  };
  for (const auto& c : edits) EXPECT_EQ(Editor::textWithEntry(c[0], c[1], c[2]), c[3]) << c[0];
}

// Rewrites keep owner, group and mode (run as root); bad input, and a file
// that cannot be read, change nothing.
TEST(HostConfigUtilities, ReadsAndWritesTheFileSafely) {
  ScratchDirectory dir;
  Editor editor(dir.path("hostconfig"));
  std::string value = "untouched";
  EXPECT_TRUE(editor.getValueForKey("KEY", &value));
  EXPECT_EQ(value, "");
  ASSERT_TRUE(editor.setOrAddEntryForKey("KEY", "value"));  // created
  EXPECT_EQ(dir.read("hostconfig"), "KEY=value\n");
  ASSERT_EQ(chown(dir.path("hostconfig").c_str(), 4321, 8765), 0);
  chmod(dir.path("hostconfig").c_str(), 0640);
  ASSERT_TRUE(editor.setOrAddEntryForKey("KEY", "a"));
  struct stat info;
  ASSERT_EQ(stat(dir.path("hostconfig").c_str(), &info), 0);
  EXPECT_EQ(std::tuple(info.st_mode & 07777, info.st_uid, info.st_gid),
            std::tuple(0640u, 4321u, 8765u));
  for (const auto& [key, entry] : {std::pair{"", "1"}, {"A=B", "1"}, {"A B", "1"},
                                   {"A", "1\nB=2"}, {"A", "x=y"}})
    EXPECT_FALSE(editor.setOrAddEntryForKey(key, entry)) << key << entry;
  EXPECT_EQ(dir.read("hostconfig"), "KEY=a\n");
  EXPECT_EQ(dir.listing(), "hostconfig ");  // no temporary file left
  dir.write("hostconfig", "A=1\nKEY=a=b\n");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(editor.getValueForKey("KEY", &value));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: bad line in " + dir.path("hostconfig") + ":\nKEY=a=b\n");
  std::filesystem::create_directory(dir.path("unreadable"));
  EXPECT_FALSE(Editor(dir.path("unreadable")).setOrAddEntryForKey("A", "1"));
  EXPECT_TRUE(std::filesystem::is_directory(dir.path("unreadable")));
  EXPECT_FALSE(Editor(dir.path("none/hostconfig")).setOrAddEntryForKey("A", "1"));
}

}  // namespace
}  // namespace steward
