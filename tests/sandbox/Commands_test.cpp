// The eight hardware commands end to end, inside the sandbox: a stand-in
// monitor daemon on the message port, a device registry tree, and recording
// fakes for shutdown, nvram and the inventory tool.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/PropertyList.h"
#include "tests/sandbox/FakeMonitor.h"
#include "tests/sandbox/Sandbox.h"
#include "tests/support/ValueBuilders.h"

namespace steward::sandbox {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRegistry = "/var/lib/stewardd/registry";

std::string unexpectedCommand() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"0.9\">\n<dict>\n<key>error</key>\n"
         "<string>UNEXPECTED_COMMAND</string>\n</dict>\n</plist>";
}

std::string xmlEscaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

// The XML of a dictionary as it stands inside a request.
std::string dictionaryXML(const ValueRef& dictionary) {
  std::string whole = xmlOf(dictionary);
  std::size_t start = whole.find("<dict");
  return whole.substr(start, whole.rfind("</plist>") - start);
}

// Every file below a host directory with its bytes, to prove nothing changed.
std::map<std::string, std::string> treeOf(const std::string& directory) {
  std::map<std::string, std::string> tree;
  for (const auto& item : fs::recursive_directory_iterator(directory)) {
    std::ifstream in(item.path(), std::ios::binary);
    std::stringstream bytes;
    if (item.is_regular_file()) bytes << in.rdbuf();
    tree[item.path().string()] = bytes.str();
  }
  return tree;
}

class CommandsTest : public ::testing::Test {
 protected:
  CommandsTest() {
    // The sandbox's /var/run is its /run, as on the host.
    sandbox_.addBind({sandbox_.hostPath("/run"), "/var/run", true});
    fs::create_directories(sandbox_.hostPath(kRegistry));
    sandbox_.addBind({sandbox_.hostPath(kRegistry), kRegistry, true});
  }

  // Runs one request; user none means no REMOTE_USER at all.
  RunResult ask(const char* user, const std::string& body,
                const std::string& argv0 = "steward_kestrel") {
    return sandbox_.start(options(user, body, argv0))->wait();
  }
  // The same, with the sandbox kept alive after the tool ends until a
  // recording fake has been called or `tenths` tenths of a second have
  // passed, so that a job the tool left in the background gets to run.
  RunResult askAndLinger(const char* user, const std::string& body, int tenths) {
    RunOptions lingering = options(user, body, "steward_kestrel");
    lingering.command = {"/bin/sh", "-c",
                         "steward_kestrel; i=0; while [ ! -s /steward/record/calls ] && "
                         "[ $i -lt " + std::to_string(tenths) +
                             " ]; do sleep 0.1; i=$((i+1)); done"};
    return sandbox_.start(lingering)->wait();
  }
  RunOptions options(const char* user, const std::string& body, const std::string& argv0) {
    RunOptions options{.argv0 = argv0, .input = requestXML(body)};
    if (user) options.environment["REMOTE_USER"] = user;
    return options;
  }
  static std::string command(const std::string& name, const std::string& more = "") {
    return "<key>command</key><string>" + name + "</string>" + more;
  }
  // The reply as the tool wrote it must equal `expected` plus "command".
  static void expectReply(const RunResult& result, const std::string& name,
                          MutableDictionaryRef expected) {
    expected->setObject(makeString(name), "command");
    EXPECT_TRUE(isEqual(parsed(result.output), expected))
        << "got: " << result.output << "\nwanted: " << xmlOf(expected);
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
  }

  std::string registryPath(const std::string& relative) {
    return sandbox_.hostPath(std::string(kRegistry) + "/" + relative);
  }
  void makeRegistryFile(const std::string& relative, const std::string& text) {
    fs::create_directories(fs::path(registryPath(relative)).parent_path());
    std::ofstream(registryPath(relative), std::ios::binary) << text;
  }

  Sandbox sandbox_;
};

const char* const kNotAdmins[] = {"carol", "mallory", "", nullptr};

std::string describeUser(const char* user) { return user ? "\"" + std::string(user) + "\"" : "none"; }

TEST_F(CommandsTest, StatusMergesTheDaemonsReplyWithTheSettingsFile) {
  FakeMonitor monitor(sandbox_.hostPath("/run/vigildPort"));
  auto daemonReply = dictionaryOf({{"Temperature", makeInteger(41)},
                                   {"Shared", makeString("daemon")},
                                   {"Fans", dictionaryOf({{"CPU", makeInteger(2400)}})}});
  monitor.reply(xmlOf(daemonReply));

  // No settings file: the daemon's reply alone. Nobody is asked to be admin.
  RunResult result = ask(nullptr, command("status"));
  expectReply(result, "status", daemonReply->mutableCopy());
  ASSERT_EQ(monitor.requests().size(), 1u);
  EXPECT_EQ(monitor.requests()[0], std::string(8, '\0'));  // id 0, no payload

  auto settings = dictionaryOf(
      {{"Shared", makeString("file")},
       {"Interval", makeInteger(60)},
       {"Email", dictionaryOf({{"Localizable", makeString("x")},
                               {"Responses", makeMutableArray()},
                               {"To", makeString("ops@example.com")},
                               {"Server", makeString("smtp.example.com")}})}});
  std::string onDisk = xmlOf(settings);
  sandbox_.writeFile("/etc/vigild.conf", onDisk);
  result = ask("carol", command("status"));
  expectReply(result, "status",
              dictionaryOf({{"Temperature", makeInteger(41)},
                            {"Shared", makeString("file")},
                            {"Fans", dictionaryOf({{"CPU", makeInteger(2400)}})},
                            {"Interval", makeInteger(60)},
                            {"Email", dictionaryOf({{"To", makeString("ops@example.com")},
                                                    {"Server", makeString("smtp.example.com")}})}}));
  std::string after;
  ASSERT_TRUE(sandbox_.readFile("/etc/vigild.conf", &after));
  EXPECT_EQ(after, onDisk);

  // No "Email": every entry is added, nothing removed.
  sandbox_.writeFile("/etc/vigild.conf", xmlOf(dictionaryOf({{"Responses", makeString("kept")}})));
  auto merged = daemonReply->mutableCopy();
  merged->setObject(makeString("kept"), "Responses");
  expectReply(ask("alice", command("status")), "status", merged);

  // A settings file that is no dictionary is left out.
  sandbox_.writeFile("/etc/vigild.conf", "<plist><array/></plist>");
  expectReply(ask("alice", command("status")), "status", daemonReply->mutableCopy());
}

TEST_F(CommandsTest, StatusWithoutAUsableReplyAnswersNothing) {
  sandbox_.writeFile("/etc/vigild.conf", xmlOf(dictionaryOf({{"Interval", makeInteger(60)}})));
  EXPECT_EQ(ask("alice", command("status")).output, unexpectedCommand());  // nobody serves

  FakeMonitor monitor(sandbox_.hostPath("/run/vigildPort"));
  for (const char* reply : {"", "garbage \x01\x02", "<plist><array/></plist>",
                            "{ Temperature = 41; }"}) {
    SCOPED_TRACE(reply);
    monitor.reply(reply);
    EXPECT_EQ(ask("alice", command("status")).output, unexpectedCommand());
  }
  monitor.closeWithoutReply();
  EXPECT_EQ(ask("alice", command("status")).output, unexpectedCommand());
  EXPECT_EQ(monitor.requests().size(), 5u);
}

TEST_F(CommandsTest, StatusGivesUpOnAReplySlowerThanFiveSeconds) {
  FakeMonitor monitor(sandbox_.hostPath("/run/vigildPort"));
  monitor.reply(xmlOf(dictionaryOf({{"Temperature", makeInteger(41)}})),
                std::chrono::milliseconds(8000));
  EXPECT_EQ(ask("alice", command("status")).output, unexpectedCommand());
}

TEST_F(CommandsTest, RefusedCallersChangeNothing) {
  makeRegistryFile("IODeviceTree/options/boot-device", "disk0s3\n");
  for (const char* user : kNotAdmins) {
    SCOPED_TRACE(describeUser(user));
    for (const char* name : {"restart", "shutdown"}) {
      expectReply(askAndLinger(user, command(name), 5), name,
                  dictionaryOf({{"Message", makeString("CONNECT-AUTH")}}));
    }
    expectReply(ask(user, command("getBootPath")), "getBootPath",
                dictionaryOf({{"Message", makeString("CONNECT-AUTH")}}));
    for (const char* bootPath : {"<string>disk1s2</string>", "<integer>1</integer>", ""}) {
      std::string more = *bootPath ? "<key>bootpath</key>" + std::string(bootPath) : "";
      expectReply(ask(user, command("setBootPath", more)), "setBootPath",
                  dictionaryOf({{"Message", makeString("CONNECT-AUTH")}}));
    }
  }
  EXPECT_TRUE(sandbox_.recordedCalls().empty());
}

TEST_F(CommandsTest, AdminsRestartAndShutDownInTheBackground) {
  expectReply(askAndLinger("alice", command("restart"), 100), "restart",
              dictionaryOf({{"Message", makeString("RESTART-SUCCESS")}}));
  auto calls = sandbox_.recordedCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].program, "/sbin/shutdown");
  EXPECT_EQ(calls[0].arguments, (std::vector<std::string>{"-r", "now"}));

  // "bob" is in "admin" through his primary group.
  sandbox_.writeFile("/steward/record/calls", "");
  expectReply(askAndLinger("bob", command("shutdown"), 100), "shutdown",
              dictionaryOf({{"Message", makeString("SHUTDWN-SUCCESS")}}));
  calls = sandbox_.recordedCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].program, "/sbin/shutdown");
  EXPECT_EQ(calls[0].arguments, (std::vector<std::string>{"-h", "now"}));

  // The reply does not depend on what the shutdown program does.
  sandbox_.writeFile("/usr/sbin/shutdown", "#!/bin/sh\nexit 1\n", 0755);
  expectReply(ask("alice", command("restart")), "restart",
              dictionaryOf({{"Message", makeString("RESTART-SUCCESS")}}));
}

TEST_F(CommandsTest, BootPathReachesNvramWholeAndUnread) {
  const std::string paths[] = {
      "disk0s3",
      "a b  c",
      "\"quoted\" and 'single'",
      "back\\slash\\",
      "$(touch /tmp/pwned)",
      "`touch /tmp/pwned`",
      "x; touch /tmp/pwned; $HOME & <y>",
      std::string(73, 'p'),
      std::string(300, 'q'),
  };
  for (const auto& path : paths) {
    expectReply(ask("alice", command("setBootPath", "<key>bootpath</key><string>" +
                                                        xmlEscaped(path) + "</string>")),
                "setBootPath", dictionaryOf({{"Message", makeString("SUCCESS")}}));
  }
  auto calls = sandbox_.recordedCalls();
  ASSERT_EQ(calls.size(), std::size(paths));
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].program, "/usr/sbin/nvram");
    EXPECT_EQ(calls[i].arguments, (std::vector<std::string>{"boot-device=" + paths[i]}));
  }
  EXPECT_FALSE(fs::exists(sandbox_.hostPath("/tmp/pwned")));

  // A missing or non-string path runs nothing.
  for (const char* more : {"", "<key>bootpath</key><integer>3</integer>",
                           "<key>bootpath</key><array/>"}) {
    expectReply(ask("alice", command("setBootPath", more)), "setBootPath",
                dictionaryOf({{"OSStatus", makeInteger(-50)}}));
  }
  EXPECT_EQ(sandbox_.recordedCalls().size(), std::size(paths));
}

TEST_F(CommandsTest, BootPathIsReadForEveryoneAndGivenOnlyToAdmins) {
  // No options node, then a node without the property: no reply for anyone.
  for (int step = 0; step < 2; ++step) {
    if (step == 1) makeRegistryFile("IODeviceTree/options/other", "x\n");
    for (const char* user : {"alice", "carol", static_cast<const char*>(nullptr)}) {
      SCOPED_TRACE(describeUser(user));
      EXPECT_EQ(ask(user, command("getBootPath")).output, unexpectedCommand());
    }
  }
  makeRegistryFile("IODeviceTree/options/boot-device", " pci@0/ide@1 \"x\"\n");
  expectReply(ask("alice", command("getBootPath")), "getBootPath",
              dictionaryOf({{"Message", makeString(" pci@0/ide@1 \"x\"")}}));
  expectReply(ask("carol", command("getBootPath")), "getBootPath",
              dictionaryOf({{"Message", makeString("CONNECT-AUTH")}}));
}

TEST_F(CommandsTest, ServiceLightFollowsEveryKindOfState) {
  // The light's property links to a device attribute, as on a real machine.
  makeRegistryFile("IOService/Root/PCI0/OrchardFPButton/Name", "button\n");
  makeRegistryFile("brightness", "");
  fs::create_symlink(std::string(kRegistry) + "/brightness",
                     registryPath("IOService/Root/PCI0/OrchardFPButton/LED"));
  const std::pair<const char*, const char*> cases[] = {
      {"<key>state</key><string>1</string>", "1\n"},
      {"<key>state</key><integer>0</integer>", "0\n"},
      {"<key>state</key><true/>", "1\n"},
      {"<key>state</key><false/>", "0\n"},
      {"<key>state</key><integer>7</integer>", "1\n"},
      {"<key>state</key><string>0</string>", "0\n"},
      {"<key>state</key><string>  -12abc</string>", "1\n"},
      {"<key>state</key><string>off</string>", "0\n"},
      {"<key>state</key><real>2.5</real>", "1\n"},
      {"", "0\n"},
      {"<key>state</key><real>-1</real>", "1\n"},
      {"<key>state</key><dict><key>a</key><integer>1</integer></dict>", "0\n"},
      {"<key>state</key><string>9</string>", "1\n"},
      {"<key>state</key><array><integer>1</integer></array>", "0\n"},
      {"<key>state</key><integer>-3</integer>", "1\n"},
      {"<key>state</key><data>AQ==</data>", "0\n"},
      {"<key>state</key><true/>", "1\n"},
      {"<key>state</key><date>2020-01-01T00:00:00Z</date>", "0\n"},
  };
  for (const auto& [state, light] : cases) {
    SCOPED_TRACE(state);
    expectReply(ask("carol", command("serviceid", state)), "serviceid",
                dictionaryOf({{"OSStatus", makeInteger(0)}}));
    std::string value;
    ASSERT_TRUE(sandbox_.readFile(std::string(kRegistry) + "/brightness", &value));
    EXPECT_EQ(value, light);
  }
  EXPECT_TRUE(fs::is_symlink(registryPath("IOService/Root/PCI0/OrchardFPButton/LED")));
}

TEST_F(CommandsTest, ServiceLightWithoutTheButtonTouchesNothing) {
  makeRegistryFile("IOService/Root/OrchardFPButtonX/LED", "0\n");
  makeRegistryFile("IODeviceTree/OrchardFPButton/LED", "0\n");  // another plane
  makeRegistryFile("IOService/Root/orchardfpbutton/Name", "x\n");
  auto before = treeOf(sandbox_.hostPath("/var"));
  expectReply(ask("alice", command("serviceid", "<key>state</key><integer>1</integer>")),
              "serviceid", dictionaryOf({{"OSStatus", makeInteger(0)}}));
  EXPECT_EQ(treeOf(sandbox_.hostPath("/var")), before);
  fs::remove_all(registryPath("IOService"));
  expectReply(ask("alice", command("serviceid", "<key>state</key><integer>1</integer>")),
              "serviceid", dictionaryOf({{"OSStatus", makeInteger(0)}}));
}

TEST_F(CommandsTest, EmailReplacesTheSettingsFileWhole) {
  std::string path = sandbox_.hostPath("/etc/vigild.conf");
  std::string old = xmlOf(dictionaryOf({{"Interval", makeInteger(60)}}));
  sandbox_.writeFile("/etc/vigild.conf", old, 0640);

  // Not a dictionary, or missing: refused, file untouched.
  for (const char* more : {"", "<key>email</key><string>x</string>",
                           "<key>email</key><array/>"}) {
    SCOPED_TRACE(more);
    expectReply(ask("carol", command("email", more)), "email",
                dictionaryOf({{"OSStatus", makeInteger(-50)}}));
    std::string now;
    ASSERT_TRUE(sandbox_.readFile("/etc/vigild.conf", &now));
    EXPECT_EQ(now, old);
  }

  auto settings = dictionaryOf(
      {{"Email", dictionaryOf({{"To", makeString("ops@example.com")},
                               {"Localizable", makeString("x")},
                               {"Responses", makeString("y")}})},
       {"Interval", makeInteger(30)}});
  expectReply(ask("carol", command("email", "<key>email</key>" + dictionaryXML(settings))),
              "email", dictionaryOf({{"OSStatus", makeInteger(0)}}));
  std::string now;
  ASSERT_TRUE(sandbox_.readFile("/etc/vigild.conf", &now));
  EXPECT_TRUE(isEqual(parsed(now), settings)) << now;
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  int settingsFiles = 0;  // no temporary file left beside it
  for (const auto& item : fs::directory_iterator(sandbox_.hostPath("/etc"))) {
    settingsFiles += item.path().filename().string().rfind("vigild.conf", 0) == 0;
  }
  EXPECT_EQ(settingsFiles, 1);

  // What "status" then shows.
  FakeMonitor monitor(sandbox_.hostPath("/run/vigildPort"));
  monitor.reply(xmlOf(dictionaryOf({{"Interval", makeInteger(5)}})));
  expectReply(ask("carol", command("status")), "status",
              dictionaryOf({{"Interval", makeInteger(30)},
                            {"Email", dictionaryOf({{"To", makeString("ops@example.com")}})}}));
}

TEST_F(CommandsTest, EmailKeepsTheOldFileWhenItsOwnerCannotBeKept) {
  // The sandbox's root has no capabilities, so it cannot give a new file to
  // another user: the write fails, the reply does not tell, the old file
  // stays whole.
  std::string path = sandbox_.hostPath("/etc/vigild.conf");
  std::string old = xmlOf(dictionaryOf({{"Interval", makeInteger(60)}}));
  sandbox_.writeFile("/etc/vigild.conf", old, 0640);
  ASSERT_EQ(chown(path.c_str(), 1003, 20), 0);
  expectReply(ask("carol", command("email", "<key>email</key><dict/>")), "email",
              dictionaryOf({{"OSStatus", makeInteger(0)}}));
  std::string now;
  ASSERT_TRUE(sandbox_.readFile("/etc/vigild.conf", &now));
  EXPECT_EQ(now, old);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 1003u);
  std::size_t files = 0;
  for (const auto& item : fs::directory_iterator(sandbox_.hostPath("/etc"))) {
    files += item.path().filename().string().rfind("vigild.conf", 0) == 0;
  }
  EXPECT_EQ(files, 1u);
}

class ProfileTest : public CommandsTest {
 protected:
  ProfileTest() {
    // Records its call and the order of runs, and writes a profile that
    // names its run.
    sandbox_.writeFile("/usr/sbin/machreport",
                       "#!/bin/sh\n"
                       "printf '%s %s %s\\036' \"$0\" \"$1\" \"$2\" >> /steward/record/args\n"
                       "run=$(cat /proc/sys/kernel/random/uuid)\n"
                       "echo \"start $run\" >> /steward/record/order\n"
                       "printf 'Hardware of run %s: caf\\303\\251\\n' $run\n"
                       "sleep 0.2\n"
                       "printf 'end of run %s\\n' $run\n"
                       "echo \"end $run\" >> /steward/record/order\n",
                       0755);
  }
  static void expectOwnRun(const std::string& profile) {
    std::string run = profile.substr(16, profile.find(':') - 16);
    EXPECT_EQ(profile, "Hardware of run " + run + ": caf\xc3\xa9\nend of run " + run + "\n");
  }
  std::string profileOf(const RunResult& result) {
    auto reply = as<Dictionary>(parsed(result.output));
    EXPECT_TRUE(reply) << result.output;
    if (!reply) return "";
    EXPECT_EQ(reply->count(), 2u);
    auto profile = as<String>(reply->objectForKey("Profile"));
    EXPECT_TRUE(profile);
    return profile ? profile->str() : "";
  }
};

TEST_F(ProfileTest, AnswersTheToolsOutputAndLeavesItsFile) {
  std::string profile = profileOf(ask("carol", command("profile")));
  expectOwnRun(profile);
  std::string file, args;
  ASSERT_TRUE(sandbox_.readFile("/tmp/profile.txt", &file));
  EXPECT_EQ(file, profile);
  ASSERT_TRUE(sandbox_.readFile("/steward/record/args", &args));
  EXPECT_EQ(args, "/usr/sbin/machreport -detailLevel -1\036");

  // Output that is not UTF-8 is read as Latin-1.
  sandbox_.writeFile("/usr/sbin/machreport", "#!/bin/sh\nprintf 'caf\\351'\n", 0755);
  EXPECT_EQ(profileOf(ask("carol", command("profile"))), "caf\xc3\xa9");

  fs::remove(sandbox_.hostPath("/usr/sbin/machreport"));
  EXPECT_EQ(profileOf(ask("carol", command("profile"))), "");
  ASSERT_TRUE(sandbox_.readFile("/tmp/profile.txt", &file));
  EXPECT_EQ(file, "");
}

// An exception out of a handler is answered, not a crash: here a profile too
// large for the address space the run may use.
TEST_F(ProfileTest, ExceptionBecomesTheNilResponseReply) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer runtime needs more address space than the limit";
#else
  sandbox_.writeFile("/usr/sbin/machreport",
                     "#!/bin/sh\ntruncate -s 4G /proc/self/fd/1\n", 0755);
  RunOptions limited = options("carol", command("profile"), "steward_kestrel");
  limited.command = {"/bin/sh", "-c", "ulimit -v 262144; exec steward_kestrel"};
  expectReply(sandbox_.start(limited)->wait(), "profile",
              dictionaryOf({{"error", makeString("NIL_RESPONSE_ERR (std::bad_alloc)")}}));
#endif
}

TEST_F(ProfileTest, NeverWritesThroughAPlantedFile) {
  std::string planted = sandbox_.hostPath("/tmp/profile.txt");
  sandbox_.writeFile("/etc/precious", "precious\n");
  const std::function<void()> plants[] = {
      [&] { fs::create_symlink("/etc/precious", planted); },
      [&] { fs::create_hard_link(sandbox_.hostPath("/etc/precious"), planted); },
      [&] {
        sandbox_.writeFile("/tmp/profile.txt", "someone else's\n", 0666);
        ASSERT_EQ(chown(planted.c_str(), 1003, 1003), 0);
      },
  };
  for (const auto& plant : plants) {
    fs::remove(planted);
    plant();
    std::string profile = profileOf(ask("carol", command("profile")));
    expectOwnRun(profile);
    std::string precious, file;
    ASSERT_TRUE(sandbox_.readFile("/etc/precious", &precious));
    EXPECT_EQ(precious, "precious\n");
    EXPECT_FALSE(fs::is_symlink(planted));
    ASSERT_TRUE(sandbox_.readFile("/tmp/profile.txt", &file));
    EXPECT_EQ(file, profile);
    struct stat st;
    ASSERT_EQ(stat(planted.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_nlink, 1u);
  }
}

TEST_F(ProfileTest, ConcurrentRunsTakeTurnsAndEachGetsItsOwnOutput) {
  // Two tool names, so that the context lock does not already order them.
  auto first = sandbox_.start(options("alice", command("profile"), "kestrel_one"));
  auto second = sandbox_.start(options("carol", command("profile"), "kestrel_two"));
  first->closeInput();  // the tools read their requests to the end
  second->closeInput();
  std::string profiles[] = {profileOf(first->wait()), profileOf(second->wait())};
  for (const auto& profile : profiles) expectOwnRun(profile);
  EXPECT_NE(profiles[0], profiles[1]);

  std::string order;
  ASSERT_TRUE(sandbox_.readFile("/steward/record/order", &order));
  std::istringstream lines(order);
  std::string a1, p1, a2, p2, a3, p3, a4, p4;
  lines >> a1 >> p1 >> a2 >> p2 >> a3 >> p3 >> a4 >> p4;
  EXPECT_EQ(a1 + a2 + a3 + a4, "startendstartend") << order;
  EXPECT_EQ(p1, p2);
  EXPECT_EQ(p3, p4);
}

}  // namespace
}  // namespace steward::sandbox
