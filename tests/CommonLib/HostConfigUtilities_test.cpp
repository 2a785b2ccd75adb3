#include "CommonLib/HostConfigUtilities.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/CommonLib/ScratchDirectory.h"

namespace steward {
namespace {

std::string valueIn(std::string_view text, std::string_view key) {
  std::string value = "untouched", badLine;
  EXPECT_TRUE(HostConfigUtilities::valueForKeyInText(text, key, &value, &badLine));
  return value;
}

// The key must be followed by "="; a longer key or a comment is not its entry.
TEST(HostConfigText, FindsTheEntryOfExactlyTheKey) {
  const std::string text =
      "ALPHA_BETA=2\nALPHA=1\n  \tGAMMA=\"3 x\" \n# DELTA=x\nEMPTY=\nDUP=1\nDUP=2";
  EXPECT_EQ(valueIn(text, "ALPHA"), "1");
  EXPECT_EQ(valueIn(text, "ALPHA_BETA"), "2");
  EXPECT_EQ(valueIn(text, "ALP"), "");
  EXPECT_EQ(valueIn(text, "GAMMA"), "\"3 x\"");
  EXPECT_EQ(valueIn(text, "DELTA"), "");
  EXPECT_EQ(valueIn(text, "EMPTY"), "");
  EXPECT_EQ(valueIn(text, "DUP"), "1");
  EXPECT_EQ(valueIn("", "ALPHA"), "");
}

TEST(HostConfigText, AValueHoldingAnEqualsSignIsABadLine) {
  std::string value = "untouched", badLine;
  EXPECT_FALSE(HostConfigUtilities::valueForKeyInText("A=1\n  KEY=a=b \n", "KEY",
                                                      &value, &badLine));
  EXPECT_EQ(value, "untouched");
  EXPECT_EQ(badLine, "KEY=a=b");
}

TEST(HostConfigText, SettingReplacesEveryEntryAndTrimsEveryLine) {
  EXPECT_EQ(HostConfigUtilities::textWithEntry("ALPHA_BETA=2\nALPHA=1\n", "ALPHA", "5"),
            "ALPHA_BETA=2\nALPHA=5\n");
  EXPECT_EQ(HostConfigUtilities::textWithEntry("K=1\n # c \nK=2\n", "K", "\"a b\""),
            "K=\"a b\"\n# c\nK=\"a b\"\n");
  EXPECT_EQ(HostConfigUtilities::textWithEntry("  GAMMA=3\n\tX=1\t\n", "X", "2"),
            "GAMMA=3\nX=2\n");
  // No final line feed is added where there was none.
  EXPECT_EQ(HostConfigUtilities::textWithEntry("A=1\nB=2", "B", "3"), "A=1\nB=3");
  // Other bytes pass through: a carriage return is not trimmed.
  EXPECT_EQ(HostConfigUtilities::textWithEntry("A=1\r\nB=\xff\n", "A", "2"),
            "A=2\nB=\xff\n");
}

TEST(HostConfigText, AnAbsentKeyIsAppendedOnALineOfItsOwn) {
  EXPECT_EQ(HostConfigUtilities::textWithEntry("A=1\n", "B", "2"), "A=1\nB=2\n");
  EXPECT_EQ(HostConfigUtilities::textWithEntry("A=1", "B", "2"), "A=1\nB=2\n");
  EXPECT_EQ(HostConfigUtilities::textWithEntry("A=1\n\n", "B", "2"), "A=1\n\nB=2\n");
  EXPECT_EQ(HostConfigUtilities::textWithEntry("# B=x\n", "B", "2"), "# B=x\nB=2\n");
  EXPECT_EQ(HostConfigUtilities::textWithEntry("", "KEY", "value"), "KEY=value\n");
}

TEST(HostConfigUtilities, ReadsTheFileAndReportsABadLineOnStandardError) {
  ScratchDirectory dir;
  HostConfigUtilities editor(dir.path("hostconfig"));
  std::string value = "untouched";
  EXPECT_TRUE(editor.getValueForKey("A", &value));  // no file yet
  EXPECT_EQ(value, "");
  EXPECT_FALSE(editor.getValueForKey("", &value));
  EXPECT_FALSE(editor.getValueForKey("A", nullptr));

  dir.write("hostconfig", "A=1\nKEY=a=b\n");
  EXPECT_TRUE(editor.getValueForKey("A", &value));
  EXPECT_EQ(value, "1");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(editor.getValueForKey("KEY", &value));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: bad line in " + dir.path("hostconfig") + ":\nKEY=a=b\n");
  EXPECT_EQ(value, "1");
}

TEST(HostConfigUtilities, WritesTheFileAtomicallyKeepingItsMode) {
  ScratchDirectory dir;
  HostConfigUtilities editor(dir.path("hostconfig"));
  ASSERT_TRUE(editor.setOrAddEntryForKey("KEY", "value"));  // created
  EXPECT_EQ(dir.read("hostconfig"), "KEY=value\n");

  chmod(dir.path("hostconfig").c_str(), 0640);
  ASSERT_TRUE(editor.setOrAddEntryForKey("KEY", ""));
  EXPECT_EQ(dir.read("hostconfig"), "KEY=\n");
  struct stat info;
  ASSERT_EQ(stat(dir.path("hostconfig").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(dir.listing(), "hostconfig ");  // no temporary file left
}

// Input that would not read back as one entry is refused, and a file that
// exists but cannot be read is never replaced by the new entry alone.
TEST(HostConfigUtilities, RefusesWhatCannotBeWrittenSafely) {
  ScratchDirectory dir;
  dir.write("hostconfig", "A=1\n");
  HostConfigUtilities editor(dir.path("hostconfig"));
  EXPECT_FALSE(editor.setOrAddEntryForKey("", "1"));
  EXPECT_FALSE(editor.setOrAddEntryForKey("A=B", "1"));
  EXPECT_FALSE(editor.setOrAddEntryForKey("A B", "1"));
  EXPECT_FALSE(editor.setOrAddEntryForKey("A", "1\nB=2"));
  EXPECT_FALSE(editor.setOrAddEntryForKey("A", "x=y"));
  EXPECT_EQ(dir.read("hostconfig"), "A=1\n");

  std::filesystem::create_directory(dir.path("unreadable"));
  HostConfigUtilities onDirectory(dir.path("unreadable"));
  EXPECT_FALSE(onDirectory.setOrAddEntryForKey("A", "1"));
  EXPECT_TRUE(std::filesystem::is_directory(dir.path("unreadable")));

  HostConfigUtilities inMissingDirectory(dir.path("none/hostconfig"));
  EXPECT_FALSE(inMissingDirectory.setOrAddEntryForKey("A", "1"));
}

}  // namespace
}  // namespace steward
