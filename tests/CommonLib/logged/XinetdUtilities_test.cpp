#include "CommonLib/XinetdUtilities.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include "tests/CommonLib/ScratchDirectory.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

const std::string kFtp = "service ftp\n{\n\tdisable\t= yes\n}\n";

// An editor of the ftp service whose files are under `dir`; its launcher
// and pid file do not exist unless a test makes them.
XinetdPaths pathsIn(const ScratchDirectory& dir) {
  return XinetdPaths{dir.path() + "/", dir.path("xinetd.pid"), dir.path("launcher"),
                     "sk-xinetd"};
}

std::vector<std::string> texts(LogCapture& capture, std::size_t count) {
  std::vector<std::string> result;
  for (const LogLine& line : capture.waitForLines(count, std::chrono::seconds(2))) {
    result.push_back(line.text);
  }
  return result;
}

using Value = std::optional<std::string>;

TEST(XinetdRead, FindsTheFirstEntryInsideTheServiceBody) {
  XinetdUtilities editor("ftp", "x");
  EXPECT_EQ(editor.valueForKeyInText(kFtp, "disable"), Value("yes"));
  EXPECT_EQ(editor.valueForKeyInText(kFtp, "port"), Value(""));
  EXPECT_EQ(editor.valueForKeyInText(kFtp, "Disable"), Value(""));
  const std::string text =
      "service ftp\n"
      "\tbefore = 1\n"
      "# comment\n"
      "  {\n"
      "\tserver_args\t+= -l  -a  \n"
      "\tflags\n"
      "\tempty =\n"
      "\tdisable=no\n"
      "\tdup = 1\n"
      "\tdup = 2\n"
      "}\n"
      "after = 1\n";
  EXPECT_EQ(editor.valueForKeyInText(text, "server_args"), Value("-l  -a"));
  EXPECT_EQ(editor.valueForKeyInText(text, "flags"), std::nullopt);
  EXPECT_EQ(editor.valueForKeyInText(text, "empty"), std::nullopt);
  EXPECT_EQ(editor.valueForKeyInText(text, "dup"), Value("1"));
  // Outside the body, or glued to its operator, a key is not found.
  EXPECT_EQ(editor.valueForKeyInText(text, "before"), Value(""));
  EXPECT_EQ(editor.valueForKeyInText(text, "after"), Value(""));
  EXPECT_EQ(editor.valueForKeyInText(text, "disable"), Value(""));
}

TEST(XinetdRead, ReadsOnlyBlocksOfItsOwnNameInEitherLayout) {
  XinetdUtilities editor("ftp", "x");
  const std::string two =
      "service telnet\n{\n\tdisable = yes\n}\n"
      "service ftp {\n\tdisable = no\n}\n";
  EXPECT_EQ(editor.valueForKeyInText(two, "disable"), Value("no"));
  XinetdUtilities upper("FTP", "x");
  EXPECT_EQ(upper.valueForKeyInText(kFtp, "disable"), Value(""));
  // Carriage returns are not blanks: the header's name never matches.
  EXPECT_EQ(editor.valueForKeyInText("service ftp\r\n{\r\n\tdisable = yes\r\n}\r\n", "disable"),
            Value(""));
  // Unicode horizontal spaces are blanks.
  EXPECT_EQ(editor.valueForKeyInText("service\xc2\xa0" "ftp\n{\n disable\xe2\x80\x83=\tyes\xe3\x80\x80\n}\n",
                                     "disable"),
            Value("yes"));
}

TEST(XinetdEdit, ReplacesAValueKeepingItsOperatorAndPaddingOneCharacterLines) {
  LogCapture capture;
  XinetdUtilities editor("ftp", "x");
  EXPECT_EQ(editor.textWithEntry(kFtp, "disable", "no"),
            Value("service ftp\n{  \n\tdisable\t= no\n}  \n"));
  EXPECT_EQ(editor.textWithEntry("service ftp\n{\n  server_args  += -l\n}", "server_args", "-a b"),
            Value("service ftp\n{  \n\tserver_args\t+= -a b\n}  "));
  // A key without an operator gets "=".
  EXPECT_EQ(editor.textWithEntry("service ftp\n{\n\tflags\n}\n", "flags", "IPv4"),
            Value("service ftp\n{  \n\tflags\t= IPv4\n}  \n"));
  EXPECT_EQ(editor.textWithEntry(kFtp, "disable", "yes"), std::nullopt);
  EXPECT_EQ(texts(capture, 1),
            std::vector<std::string>(
                {"x:Info:New setting equals old setting for key 'disable' value 'yes'"}));
}

TEST(XinetdEdit, AddsAnAbsentKeyAtTheEndOfItsOwnBlocksOnly) {
  XinetdUtilities editor("ftp", "x");
  EXPECT_EQ(editor.textWithEntry(kFtp, "port", "21"),
            Value("service ftp\n{  \n\tdisable\t= yes\n\tport\t= 21\n}\n"));
  const std::string two =
      "service telnet\n{\n\tdisable = yes\n}\n"
      "service ftp\n{\n\tdisable = yes\n}\n"
      "service ftp {\n\tport = 20\n  } # end\n";
  EXPECT_EQ(editor.textWithEntry(two, "disable", "no"),
            Value("service telnet\n{  \n\tdisable = yes\n}  \n"
                  "service ftp\n{  \n\tdisable\t= no\n}  \n"
                  "service ftp {\n\tport = 20\n  } # end\n"));
  EXPECT_EQ(editor.textWithEntry(two, "port", "21"),
            Value("service telnet\n{  \n\tdisable = yes\n}  \n"
                  "service ftp\n{  \n\tdisable = yes\n\tport\t= 21\n}\n"
                  "service ftp {\n\tport\t= 21\n  } # end\n"));
}

// Only the first entry decides whether there is nothing to do: a later
// entry that already holds the value does not stop the earlier one's change.
TEST(XinetdEdit, ALaterEqualEntryDoesNotUndoAnEarlierChange) {
  LogCapture capture;
  XinetdUtilities editor("ftp", "x");
  EXPECT_EQ(editor.textWithEntry("service ftp\n{\n\tdup = no\n\tdup = yes\n}\n", "dup", "yes"),
            Value("service ftp\n{  \n\tdup\t= yes\n\tdup = yes\n}  \n"));
  EXPECT_EQ(editor.textWithEntry("service ftp\n{\n\tdup = yes\n\tdup = no\n}\n", "dup", "yes"),
            std::nullopt);
  EXPECT_EQ(capture.texts().size(), 1u);
}

TEST(XinetdEdit, RemovesEveryEntryOfTheKeyFromItsOwnBlock) {
  LogCapture capture;
  XinetdUtilities editor("ftp", "x");
  const std::string text =
      "service ftp\n{\n\tenv = A=1\n\tdisable = no\n\tenv += B=2\n}\n"
      "service tftp\n{\n\tenv = C\n}\n";
  EXPECT_EQ(editor.textWithoutEntry(text, "env"),
            "service ftp\n{  \n\tdisable = no\n}  \nservice tftp\n{  \n\tenv = C\n}  \n");
  EXPECT_EQ(editor.textWithoutEntry(kFtp, "port"), "service ftp\n{  \n\tdisable\t= yes\n}  \n");
  EXPECT_EQ(texts(capture, 2), std::vector<std::string>({"x:Info:Deleting entry for key 'env'",
                                                          "x:Info:Deleting entry for key 'env'"}));
}

TEST(XinetdFile, EditsTheServiceFileInPlaceAndNeverCreatesOne) {
  LogCapture capture;
  ScratchDirectory dir;
  XinetdUtilities editor("ftp", "x", pathsIn(dir));
  EXPECT_EQ(editor.filePath(), dir.path("ftp"));
  Value value;
  EXPECT_FALSE(editor.getValueForKey("disable", &value));
  EXPECT_FALSE(editor.setOrAddEntryForKey("disable", "no"));
  EXPECT_FALSE(editor.removeEntryForKey("disable"));
  EXPECT_FALSE(std::filesystem::exists(dir.path("ftp")));

  dir.write("ftp", kFtp);
  chmod(dir.path("ftp").c_str(), 0600);
  EXPECT_TRUE(editor.getValueForKey("disable", &value));
  EXPECT_EQ(value, "yes");
  EXPECT_FALSE(editor.getValueForKey("disable", nullptr));
  EXPECT_TRUE(editor.setOrAddEntryForKey("disable", "yes"));
  EXPECT_EQ(dir.read("ftp"), kFtp);  // untouched, byte for byte
  EXPECT_TRUE(editor.setOrAddEntryForKey("disable", "no"));
  EXPECT_EQ(dir.read("ftp"), "service ftp\n{  \n\tdisable\t= no\n}  \n");
  EXPECT_TRUE(editor.removeEntryForKey("disable"));
  EXPECT_EQ(dir.read("ftp"), "service ftp\n{  \n}  \n");
  // Keys and values that would not read back as one entry are refused.
  EXPECT_FALSE(editor.setOrAddEntryForKey("", "1"));
  EXPECT_FALSE(editor.setOrAddEntryForKey("a b", "1"));
  EXPECT_FALSE(editor.setOrAddEntryForKey("a", "1\n}"));
  EXPECT_EQ(dir.read("ftp"), "service ftp\n{  \n}  \n");
  struct stat info;
  ASSERT_EQ(stat(dir.path("ftp").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(dir.listing(), "ftp ");

  // A name that would lead out of the service directory reaches no file.
  XinetdUtilities escaping("../" + dir.path().substr(dir.path().rfind('/') + 1) + "/ftp", "x",
                           pathsIn(dir));
  EXPECT_EQ(escaping.filePath(), "");
  EXPECT_FALSE(escaping.getValueForKey("disable", &value));
  EXPECT_FALSE(escaping.removeEntryForKey("disable"));

  // The block is chosen by the current name; the file stays the first one.
  editor.setServiceName("telnet");
  EXPECT_TRUE(editor.setOrAddEntryForKey("port", "23"));
  EXPECT_EQ(dir.read("ftp"), "service ftp\n{  \n}  \n");
}

TEST(XinetdArgs, ParsesAServerArgumentLine) {
  auto options = XinetdUtilities::dictionaryFromArgList("/usr/libexec/ftpd -l -p1 -p 2 -x");
  EXPECT_EQ(describe(options), describe(std::make_shared<Dictionary>(std::vector<Dictionary::Entry>{
                                   {"path", makeString("/usr/libexec/ftpd")},
                                   {"l", makeBoolean(true)},
                                   {"p", std::make_shared<Array>(std::vector<ValueRef>{
                                             makeString("1"), makeString("2")})},
                                   {"x", makeBoolean(true)}})));
  EXPECT_TRUE(as<MutableArray>(options->objectForKey("p")));

  options = XinetdUtilities::dictionaryFromArgList("-ov -a -b");
  EXPECT_EQ(textOf(options->objectForKey("o")), "v");
  EXPECT_TRUE(isEqual(options->objectForKey("a"), makeBoolean(true)));
  EXPECT_TRUE(isEqual(options->objectForKey("b"), makeBoolean(true)));
  EXPECT_EQ(options->count(), 3u);

  options = XinetdUtilities::dictionaryFromArgList("-a -a x  -a y");
  EXPECT_EQ(describe(options->objectForKey("a")), describe(std::make_shared<Array>(
                                                       std::vector<ValueRef>{makeString("x"), makeString("y")})));

  // A first word without "/" is dropped, but its "-" starts an option.
  options = XinetdUtilities::dictionaryFromArgList("prog-x -a");
  EXPECT_EQ(options->allKeys(), std::vector<std::string>({"x", "a"}));
  EXPECT_EQ(XinetdUtilities::dictionaryFromArgList("")->count(), 0u);
  EXPECT_EQ(XinetdUtilities::dictionaryFromArgList(std::nullopt), nullptr);
}

TEST(XinetdArgs, WritesAServerArgumentLineAndLogsWhatItCannot) {
  LogCapture capture;
  XinetdUtilities editor("ftp", "x");
  auto values = makeMutableArray();
  values->addObject(makeString("1"));
  values->addObject(makeInteger(2));
  auto options = dictionaryOf({{"l", makeBoolean(true)}, {"path", makeString("/usr/libexec/ftpd")},
                               {"n", makeInteger(0)}, {"r", makeReal(1.5)}, {"p", values},
                               {"d", makeMutableDictionary()}, {"f", makeBoolean(false)}});
  EXPECT_EQ(editor.argListFromDictionary(options), Value("/usr/libexec/ftpd -l -r -p 1 -p 2 "));
  EXPECT_EQ(editor.argListFromDictionary(dictionaryOf({{"path", makeString("/bin/x")}})),
            Value("/bin/x "));
  EXPECT_EQ(editor.argListFromDictionary(makeMutableDictionary()), Value(""));
  EXPECT_EQ(editor.argListFromDictionary(nullptr), std::nullopt);
  EXPECT_EQ(texts(capture, 1),
            std::vector<std::string>({"x:Warning:Unrecognized object type for service 'ftp' key 'd'"}));
}

TEST(XinetdHup, SignalsTheSuperServerNamedByThePidFile) {
  LogCapture capture;
  ScratchDirectory dir;
  NamedSleeper xinetd(dir, "sk-xinetd");
  dir.write("xinetd.pid", " " + std::to_string(xinetd.pid()) + "\n");
  XinetdUtilities editor("ftp", "x", pathsIn(dir));
  EXPECT_TRUE(editor.hup());
  EXPECT_EQ(xinetd.terminatingSignal(), SIGHUP);
  EXPECT_EQ(texts(capture, 1),
            std::vector<std::string>(
                {"x:Notice:hup signal sent to xinetd, pid=" + std::to_string(xinetd.pid())}));
  EXPECT_EQ(capture.lines()[0].priority, 13);
}

// The pid file is read at creation; an id that is not the super-server's
// (here a stranger's, then a process that is gone) is never signalled.
TEST(XinetdHup, RefusesAStalePidFile) {
  LogCapture capture;
  ScratchDirectory dir;
  NamedSleeper stranger(dir, "sk-stranger");
  dir.write("xinetd.pid", std::to_string(stranger.pid()) + "\n");
  XinetdUtilities editor("ftp", "x", pathsIn(dir));
  dir.write("xinetd.pid", "garbage");
  EXPECT_FALSE(editor.hup());
  EXPECT_TRUE(stranger.running());
  kill(stranger.pid(), SIGKILL);
  EXPECT_EQ(stranger.terminatingSignal(), SIGKILL);
  EXPECT_FALSE(editor.hup());
  EXPECT_EQ(texts(capture, 2),
            std::vector<std::string>({"x:Error:Unable to hup xinetd - probably bad pid",
                                      "x:Error:Unable to hup xinetd - probably bad pid"}));
}

TEST(XinetdHup, LaunchesTheSuperServerWithoutAValidPid) {
  LogCapture capture;
  ScratchDirectory dir;
  dir.write("launcher", "#!/bin/sh\necho \"$@\" > " + dir.path("args") +
                            "\nread line && echo input >> " + dir.path("args") +
                            "\nexit \"${EXIT_CODE:-0}\"\n");
  chmod(dir.path("launcher").c_str(), 0755);
  XinetdUtilities noPidFile("ftp", "x", pathsIn(dir));
  EXPECT_TRUE(noPidFile.hup());
  EXPECT_EQ(dir.read("args"), "-inetd_compat -pidfile " + dir.path("xinetd.pid") + "\n");

  for (const char* pid : {"0\n", "-12\n", "x12\n", ""}) {
    dir.write("xinetd.pid", pid);
    XinetdUtilities invalid("ftp", "x", pathsIn(dir));
    EXPECT_TRUE(invalid.hup()) << pid;
  }
  dir.write("launcher", "#!/bin/sh\nexit 1\n");
  XinetdUtilities failing("ftp", "x", pathsIn(dir));
  EXPECT_FALSE(failing.hup());
  std::filesystem::remove(dir.path("launcher"));
  EXPECT_FALSE(failing.hup());
  EXPECT_EQ(texts(capture, 7),
            std::vector<std::string>(7, "x:Notice:Invalid pid; launching xinetd"));
}

}  // namespace
}  // namespace steward
