#include "CommonLib/XinetdUtilities.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include "tests/support/ScratchDirectory.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

using Value = std::optional<std::string>;
using Texts = std::vector<std::string>;

const std::string kFtp = "service ftp\n{\n\tdisable\t= yes\n}\n";

// Paths under `dir`; the launcher and pid file exist only if a test makes them.
XinetdPaths pathsIn(const ScratchDirectory& dir) {
  return XinetdPaths{dir.path() + "/", dir.path("xinetd.pid"), dir.path("launcher"), "sk-xinetd"};
}

// Only the first entry inside a block of the service's own name counts.
// Carriage returns are no blanks, Unicode horizontal spaces are.
TEST(XinetdRead, FindsTheFirstEntryInsideTheServiceBody) {
  const std::string body =
      "service ftp\n\tbefore = 1\n# comment\n  {\n\tserver_args\t+= -l  -a  \n\tflags\n"
      "\tempty =\n\tdisable=no\n\tdup = 1\n\tdup = 2\n}\nafter = 1\n";
  const std::string two =
      "service telnet\n{\n\tdisable = yes\n}\nservice ftp {\n\tdisable = no\n}\n";
  const std::tuple<std::string, const char*, Value> cases[] = {
      {kFtp, "disable", "yes"}, {kFtp, "port", ""}, {kFtp, "Disable", ""},
      {"service FTP\n{\n\tdisable = yes\n}\n", "disable", ""}, {two, "disable", "no"},
      {body, "server_args", "-l  -a"}, {body, "flags", std::nullopt}, {body, "empty", std::nullopt},
      {body, "dup", "1"}, {body, "before", ""}, {body, "after", ""}, {body, "disable", ""},
      {"service ftp\r\n{\r\n\tdisable = yes\r\n}\r\n", "disable", ""},
      {"service\xc2\xa0" "ftp\n{\n disable\xe2\x80\x83=\tyes\xe3\x80\x80\n}\n", "disable", "yes"},
  };
  XinetdUtilities editor("ftp", "x");
  for (const auto& [text, key, expected] : cases)
    EXPECT_EQ(editor.valueForKeyInText(text, key), expected) << text << key;
}

// One-character lines are padded with two blanks; an entry keeps its operator
// and an absent key ends each block of the service. Only the first entry
// decides whether there is nothing to do.
TEST(XinetdEdit, SetsAddsAndRemovesEntriesInTheirOwnBlocks) {
  LogCapture capture;
  const std::string two =
      "service telnet\n{\n\tdisable = yes\n}\nservice ftp\n{\n\tdisable = yes\n}\n"
      "service ftp {\n\tport = 20\n  } # end\n";
  const char* const telnet = "service telnet\n{  \n\tdisable = yes\n}  \n";
  const std::tuple<std::string, const char*, const char*, Value> cases[] = {
      {kFtp, "disable", "no", "service ftp\n{  \n\tdisable\t= no\n}  \n"},
      {"service ftp\n{\n  server_args  += -l\n}", "server_args", "-a b",
       "service ftp\n{  \n\tserver_args\t+= -a b\n}  "},
      {"service ftp\n{\n\tflags\n}\n", "flags", "IPv4", "service ftp\n{  \n\tflags\t= IPv4\n}  \n"},
      {kFtp, "port", "21", "service ftp\n{  \n\tdisable\t= yes\n\tport\t= 21\n}\n"},
      {two, "disable", "no", telnet + std::string("service ftp\n{  \n\tdisable\t= no\n}  \n"
                                                  "service ftp {\n\tport = 20\n  } # end\n")},
      {two, "port", "21",
       telnet + std::string("service ftp\n{  \n\tdisable = yes\n\tport\t= 21\n}\n"
                            "service ftp {\n\tport\t= 21\n  } # end\n")},
      {"service ftp\n{\n\tdup = no\n\tdup = yes\n}\n", "dup", "yes",
       "service ftp\n{  \n\tdup\t= yes\n\tdup = yes\n}  \n"},
      {"service ftp\n{\n\tdup = yes\n\tdup = no\n}\n", "dup", "yes", std::nullopt},
      {kFtp, "disable", "yes", std::nullopt},
  };
  XinetdUtilities editor("ftp", "x");
  for (const auto& [text, key, value, expected] : cases)
    EXPECT_EQ(editor.textWithEntry(text, key, value), expected) << text << key;
  EXPECT_EQ(editor.textWithoutEntry("service ftp\n{\n\tenv = A=1\n\tdisable = no\n\tenv += B=2\n}\n"
                                    "service tftp\n{\n\tenv = C\n}\n", "env"),
            "service ftp\n{  \n\tdisable = no\n}  \nservice tftp\n{  \n\tenv = C\n}  \n");
  EXPECT_EQ(editor.textWithoutEntry(kFtp, "port"), "service ftp\n{  \n\tdisable\t= yes\n}  \n");
  EXPECT_EQ(capture.texts(),
            Texts({"x:Info:New setting equals old setting for key 'dup' value 'yes'",
                   "x:Info:New setting equals old setting for key 'disable' value 'yes'",
                   "x:Info:Deleting entry for key 'env'", "x:Info:Deleting entry for key 'env'"}));
}

// The file is edited in place, keeping its mode, and never created; bad input
// and a name that leads out of the service directory reach no file.
TEST(XinetdFile, EditsTheServiceFileInPlaceAndNeverCreatesOne) {
  ScratchDirectory dir;
  XinetdUtilities editor("ftp", "x", pathsIn(dir));
  Value value;
  EXPECT_FALSE(editor.setOrAddEntryForKey("disable", "no"));
  EXPECT_EQ(dir.listing(), "");

  dir.write("ftp", kFtp);
  chmod(dir.path("ftp").c_str(), 0600);
  EXPECT_TRUE(editor.getValueForKey("disable", &value));
  EXPECT_EQ(value, "yes");
  EXPECT_TRUE(editor.setOrAddEntryForKey("disable", "yes"));
  EXPECT_EQ(dir.read("ftp"), kFtp);  // untouched, byte for byte
  EXPECT_TRUE(editor.setOrAddEntryForKey("disable", "no"));
  EXPECT_EQ(dir.read("ftp"), "service ftp\n{  \n\tdisable\t= no\n}  \n");
  EXPECT_TRUE(editor.removeEntryForKey("disable"));
  for (const auto& [key, entry] : {std::pair{"", "1"}, {"a b", "1"}, {"a", "1\n}"}})
    EXPECT_FALSE(editor.setOrAddEntryForKey(key, entry)) << key << entry;
  EXPECT_EQ(dir.read("ftp"), "service ftp\n{  \n}  \n");
  EXPECT_EQ(std::filesystem::status(dir.path("ftp")).permissions(), std::filesystem::perms(0600));
  EXPECT_EQ(dir.listing(), "ftp ");

  std::string leaf = dir.path().substr(dir.path().rfind('/') + 1);
  XinetdUtilities escaping("../" + leaf + "/ftp", "x", pathsIn(dir));
  EXPECT_EQ(escaping.filePath(), "");
  EXPECT_FALSE(escaping.getValueForKey("disable", &value));
}

// Repeated options become an array; a first word without "/" is dropped but
// its "-" starts an option. Written back, other kinds than these are logged.
TEST(XinetdArgs, ParsesAndWritesServerArgumentLines) {
  LogCapture capture;
  XinetdUtilities editor("ftp", "x");
  const std::pair<const char*, const char*> cases[] = {
      {"/usr/libexec/ftpd -l -p1 -p 2 -x", "/usr/libexec/ftpd -l -p 1 -p 2 -x "},
      {"-ov -a -b", "-o v -a -b "}, {"-a -a x  -a y", "-a x -a y "}, {"prog-x -a", "-x -a "},
      {"", ""}};
  for (const auto& [line, written] : cases) {
    MutableDictionaryRef parsed = XinetdUtilities::dictionaryFromArgList(line);
    EXPECT_EQ(editor.argListFromDictionary(parsed), Value(written)) << line;
  }
  auto others = dictionaryOf({{"n", makeInteger(0)}, {"r", makeReal(1.5)},
                              {"d", makeMutableDictionary()}, {"f", makeBoolean(false)},
                              {"path", makeString("/bin/x")}});
  EXPECT_EQ(editor.argListFromDictionary(others), Value("/bin/x -r "));
  EXPECT_EQ(capture.texts(),
            Texts({"x:Warning:Unrecognized object type for service 'ftp' key 'd'"}));
}

// Without a valid pid the launcher starts the super-server; otherwise only
// the super-server named at creation gets a hangup, never a stranger.
TEST(XinetdHup, LaunchesOrSignalsOnlyTheSuperServer) {
  LogCapture capture;
  ScratchDirectory dir;
  dir.write("launcher", "#!/bin/sh\necho \"$@\" > " + dir.path("args") +
                            "\nread line && echo input >> " + dir.path("args") + "\nexit 0\n");
  chmod(dir.path("launcher").c_str(), 0755);
  EXPECT_TRUE(XinetdUtilities("ftp", "x", pathsIn(dir)).hup());
  EXPECT_EQ(dir.read("args"), "-inetd_compat -pidfile " + dir.path("xinetd.pid") + "\n");
  for (const char* pid : {"0\n", "-12\n", "x12\n", ""}) {
    dir.write("xinetd.pid", pid);
    EXPECT_TRUE(XinetdUtilities("ftp", "x", pathsIn(dir)).hup()) << pid;
  }
  dir.write("launcher", "#!/bin/sh\nexit 1\n");
  XinetdUtilities failing("ftp", "x", pathsIn(dir));
  EXPECT_FALSE(failing.hup());
  Texts expected(6, "x:Notice:Invalid pid; launching xinetd");

  NamedSleeper xinetd(dir, "sk-xinetd"), stranger(dir, "sk-stranger");
  dir.write("xinetd.pid", " " + std::to_string(xinetd.pid()) + "\n");
  EXPECT_TRUE(XinetdUtilities("ftp", "x", pathsIn(dir)).hup());
  EXPECT_EQ(xinetd.terminatingSignal(), SIGHUP);
  EXPECT_EQ(capture.lines().at(6).priority, 13);
  dir.write("xinetd.pid", std::to_string(stranger.pid()) + "\n");
  XinetdUtilities editor("ftp", "x", pathsIn(dir));
  dir.write("xinetd.pid", "garbage");
  EXPECT_FALSE(editor.hup());
  expected.push_back("x:Notice:hup signal sent to xinetd, pid=" + std::to_string(xinetd.pid()));
  expected.push_back("x:Error:Unable to hup xinetd - probably bad pid");
  EXPECT_EQ(capture.texts(), expected);
}

}  // namespace
}  // namespace steward
