// The eight hardware commands end to end, inside the sandbox: the stand-in
// monitor daemon on the message port, a device registry tree, and recording
// fakes for shutdown, nvram and the inventory tool.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include "tests/sandbox/Sandbox.h"
#include "tests/support/ValueBuilders.h"

namespace steward::sandbox {
namespace {

namespace fs = std::filesystem;

const std::string kRegistry = "/var/lib/stewardd/registry/";
const std::string kUnexpected = envelope("UNEXPECTED_COMMAND");

MutableDictionaryRef reply(const char* key, ValueRef value) {
  return dictionaryOf({{key, std::move(value)}});
}

// The stand-in monitor daemon answers with /run/reply (and closes unanswered
// while there is none) after DELAY seconds; then the tool runs.
std::string withMonitor(const std::string& delay) {
  return "rm -f /run/vigildPort; fake_vigild --delay " + delay +
         " /run/reply 2>>/steward/record/monitor >/dev/null & "
         "while [ ! -S /run/vigildPort ]; do sleep 0.01; done; steward_kestrel";
}

// The sandbox stays until a recording fake has been called, or for at most
// TENTHS tenths of a second.
std::string lingering(int tenths) {
  return "steward_kestrel; i=0; while [ ! -s /steward/record/calls ] && [ $i -lt " +
         std::to_string(tenths) + " ]; do sleep 0.1; i=$((i+1)); done";
}

class CommandsTest : public ::testing::Test {
 protected:
  // One request of `user` (none: no REMOTE_USER); a shell line runs instead
  // of the tool alone when given.
  RunResult ask(const char* user, const std::string& name, const std::string& more = "",
                const std::string& shell = "") {
    RunOptions options{.input = request(name, more), .shell = shell};
    if (user) options.environment["REMOTE_USER"] = user;
    return sandbox_.run(options);
  }
  // The reply as the tool wrote it must equal `expected` plus "command".
  static void expectReply(const RunResult& result, const std::string& name,
                          MutableDictionaryRef expected) {
    expected->setObject(makeString(name), "command");
    EXPECT_TRUE(isEqual(parsed(result.output), expected))
        << "got: " << result.output << "\nwanted: " << xmlOf(expected);
    EXPECT_EQ(result.exitStatus, 0);
  }
  // The names in a directory of the sandbox that start with `prefix`.
  std::vector<std::string> namesStartingWith(const char* directory, const char* prefix) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(sandbox_.hostPath(directory))) {
      std::string name = item.path().filename();
      if (name.starts_with(prefix)) names.push_back(name);
    }
    return names;
  }

  Sandbox sandbox_;
};

TEST_F(CommandsTest, StatusMergesTheDaemonsReplyWithTheSettingsFile) {
  EXPECT_EQ(ask("alice", "status").output, kUnexpected);  // nobody serves
  auto daemon = dictionaryOf({{"Temperature", makeInteger(41)}, {"Shared", makeString("daemon")}});
  std::string settings = xmlOf(dictionaryOf(
      {{"Shared", makeString("file")},
       {"Email", dictionaryOf({{"Localizable", makeString("x")}, {"Responses", makeMutableArray()},
                               {"To", makeString("ops@example.com")}})}}));
  auto merged = dictionaryOf({{"Temperature", makeInteger(41)}, {"Shared", makeString("file")},
                              {"Email", reply("To", makeString("ops@example.com"))}});
  auto added = daemon->mutableCopy();
  added->setObject(makeString("kept"), "Responses");
  std::string binary, error;
  ASSERT_TRUE(propertyListToData(daemon, PropertyListFormat::kBinary, &binary, &error));
  // The daemon's answer (none: it closes unanswered), the settings file ("":
  // none), the reply (none: no reply) and the daemon's delay in seconds.
  const std::tuple<std::optional<std::string>, std::string, ValueRef, const char*> cases[] = {
      {xmlOf(daemon), "", daemon, "0"},
      {xmlOf(daemon), settings, merged, "0"},
      // No "Email": every entry is added, nothing removed.
      {xmlOf(daemon), xmlOf(reply("Responses", makeString("kept"))), added, "0"},
      {xmlOf(daemon), "<plist><array/></plist>", daemon, "0"},
      // Whatever XML the XML reader takes; nothing else.
      {"<?vigild x?><plist><dict><key>T</key><true/></dict></plist>", "",
       reply("T", makeBoolean(true)), "0"},
      {"", settings, nullptr, "0"},
      {"garbage \x01\x02", settings, nullptr, "0"},
      {"<plist><array/></plist>", settings, nullptr, "0"},
      {"{ Temperature = 41; }", settings, nullptr, "0"},
      {binary, settings, nullptr, "0"},
      {std::nullopt, settings, nullptr, "0"},
      {xmlOf(daemon), settings, nullptr, "8"},  // slower than five seconds
  };
  for (const auto& [answer, file, expected, delay] : cases) {
    SCOPED_TRACE(answer.value_or("(unanswered)"));
    fs::remove(sandbox_.hostPath("/run/reply"));
    fs::remove(sandbox_.hostPath("/etc/vigild.conf"));
    if (answer) sandbox_.writeFile("/run/reply", *answer);
    if (!file.empty()) sandbox_.writeFile("/etc/vigild.conf", file);
    // Nobody is asked to be admin.
    RunResult result = ask(nullptr, "status", "", withMonitor(delay));
    if (expected) {
      expectReply(result, "status", as<Dictionary>(expected)->mutableCopy());
    } else {
      EXPECT_EQ(result.output, kUnexpected);
    }
    EXPECT_EQ(sandbox_.readFile("/etc/vigild.conf"), file);
  }
  std::string requests;
  for (std::size_t i = 0; i < std::size(cases); ++i)
    requests += "fake_vigild: request id 0, 0 payload bytes\n";
  EXPECT_EQ(sandbox_.readFile("/steward/record/monitor"), requests);
}

// The real daemon on a fake hwmon tree, read by libsensors: what the chips
// say reaches the reply, merged with the settings as before, and SIGTERM
// ends the daemon cleanly.
TEST_F(CommandsTest, StatusCarriesTheRealDaemonsSensorReadings) {
  for (auto [file, text] : {std::pair{"0/name", "board"}, {"0/temp1_input", "91000"},
                            {"0/temp1_max", "80000"}, {"0/temp1_crit", "100000"},
                            {"0/temp1_label", "CPU"}, {"0/temp1_alarm", "1"},
                            {"0/fan1_input", "1200"}, {"0/fan1_min", "600"},
                            {"0/in0_input", "1200"}, {"0/in0_min", "1100"}, {"0/in0_max", "1300"},
                            {"1/name", "plain"}, {"1/temp1_input", "30500"}})
    sandbox_.writeFile("/sys/class/hwmon/hwmon" + std::string(file), std::string(text) + "\n");
  sandbox_.writeFile("/etc/vigild.conf", xmlOf(dictionaryOf(
      {{"Email", reply("Localizable", makeString("x"))}})));
  RunOptions options{.input = request("status"),
                     .shell = "vigild & while [ ! -S /run/vigildPort ]; do sleep 0.01; done; "
                              "steward_kestrel; kill -TERM $!; wait $!; echo $? >/run/exit",
                     .fakeHardware = true};
  RunResult result = sandbox_.run(options);
  auto status = as<Dictionary>(parsed(result.output));
  ASSERT_NE(status, nullptr) << result.output;
  auto sensor = [](const char* chip, const char* kind, const char* label, double value,
                   const char* unit, std::vector<std::pair<const char*, double>> limits,
                   bool alarm) {
    auto entry = dictionaryOf({{"chip", makeString(chip)}, {"kind", makeString(kind)},
                               {"label", makeString(label)}, {"value", makeReal(value)},
                               {"unit", makeString(unit)}, {"alarm", makeBoolean(alarm)}});
    for (auto [key, limit] : limits) entry->setObject(makeReal(limit), key);
    return entry;
  };
  auto sensors = arrayOf(
      {sensor("board-virtual-0", "voltage", "in0", 1.2, "V", {{"min", 1.1}, {"max", 1.3}}, false),
       sensor("board-virtual-0", "fan", "fan1", 1200, "RPM", {{"min", 600}}, false),
       sensor("board-virtual-0", "temperature", "CPU", 91, "°C", {{"max", 80}, {"crit", 100}},
              true),
       sensor("plain-virtual-0", "temperature", "temp1", 30.5, "°C", {}, false)});
  EXPECT_TRUE(isEqual(status->objectForKey("Sensors"), sensors)) << result.output;
  EXPECT_EQ(textOf(status->objectForKey("Health")), "warning");  // above max, not crit
  EXPECT_TRUE(isEqual(status->objectForKey("Email"), makeMutableDictionary()));
  EXPECT_EQ(sandbox_.readFile("/run/exit"), "0\n");
  EXPECT_FALSE(fs::exists(sandbox_.hostPath("/run/vigildPort")));
}

// On the host's own sensors, whatever it has or lacks, one look succeeds.
TEST_F(CommandsTest, OneLookAtTheRealMachineSucceeds) {
  RunResult result =
      sandbox_.run({.shell = "vigild --once", .firmware = RunOptions::Firmware::kHost});
  EXPECT_EQ(result.exitStatus, 0);
  auto status = as<Dictionary>(parsed(result.output));
  ASSERT_NE(status, nullptr) << result.output;
  EXPECT_NE(as<Array>(status->objectForKey("Sensors")), nullptr);
  EXPECT_NE(textOf(status->objectForKey("Health")), "");
}

// "serviceid" reaches the configured LED through the entry the daemon made,
// and the next "status" reads it back (a status is served again for a second).
TEST_F(CommandsTest, ServiceIdSwitchesTheRealDaemonsLight) {
  const std::string led = "/sys/class/leds/front::service/brightness";
  sandbox_.writeFile(led, "0\n");
  sandbox_.writeFile("/etc/vigild.conf", xmlOf(reply("ServiceLED", makeString("front::service"))));
  sandbox_.writeFile("/tmp/1", request("serviceid", "<key>state</key><true/>"));
  sandbox_.writeFile("/tmp/0", request("serviceid", "<key>state</key><string>off</string>"));
  sandbox_.writeFile("/tmp/status", request("status"));
  sandbox_.run({.shell = "vigild & while [ ! -S /run/vigildPort ]; do sleep 0.01; done; "
                         "for s in 1 0; do steward_kestrel </tmp/$s >/dev/null; cat " + led +
                         " >>/tmp/seen; "
                         "steward_kestrel </tmp/status >/tmp/status$s; sleep 1.1; done; kill $!",
                .fakeHardware = true});
  EXPECT_EQ(sandbox_.readFile("/tmp/seen"), "1\n0\n");
  for (bool on : {true, false}) {
    auto status = as<Dictionary>(parsed(sandbox_.readFile(on ? "/tmp/status1" : "/tmp/status0")));
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(isEqual(status->objectForKey("ServiceLight"),
                        dictionaryOf({{"Available", makeBoolean(true)}, {"On", makeBoolean(on)},
                                      {"Device", makeString("front::service")}})));
  }
}

// One row per caller and request: the reply, and the calls of the system
// programs it makes; the firmware and the settings file stay as they are.
TEST_F(CommandsTest, OnlyAdminsChangeTheMachineAndArgumentsReachItWhole) {
  // No firmware value: no reply for anyone, admin or not.
  for (const char* user : {"alice", "carol", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(ask(user, "getBootPath").output, kUnexpected);
    sandbox_.writeFile(kRegistry + "IODeviceTree/options/other", "x\n");
  }
  sandbox_.writeFile(kRegistry + "IODeviceTree/options/boot-device", " pci@0/ide@1 \"x\"\n");
  std::string settings = xmlOf(reply("Interval", makeInteger(60)));
  sandbox_.writeFile("/etc/vigild.conf", settings);
  auto message = [](const char* text) { return reply("Message", makeString(text)); };
  auto incomplete = reply("OSStatus", makeInteger(-50));
  // The calls: each program and its arguments, one a line.
  std::vector<std::tuple<const char*, std::string, std::string, MutableDictionaryRef, std::string>>
      cases = {
      // "bob" is in "admin" through his primary group.
      {"alice", "restart", "", message("RESTART-SUCCESS"), "/sbin/shutdown\n-r\nnow\n"},
      {"bob", "shutdown", "", message("SHUTDWN-SUCCESS"), "/sbin/shutdown\n-h\nnow\n"},
      {"bob", "getBootPath", "", message(" pci@0/ide@1 \"x\""), {}},
      {"carol", "email", "", incomplete, {}},
      {"carol", "email", "<key>email</key><string>x</string>", incomplete, {}},
  };
  for (const char* more :
       {"", "<key>bootpath</key><integer>3</integer>", "<key>bootpath</key><array/>"}) {
    cases.push_back({"alice", "setBootPath", more, incomplete, {}});
  }
  const std::pair<std::string, std::string> paths[] = {  // as sent, as meant
      {"a b  c \"quoted\" 'single' back\\slash\\", "a b  c \"quoted\" 'single' back\\slash\\"},
      {"$(touch /tmp/pwned) `touch /tmp/pwned`", "$(touch /tmp/pwned) `touch /tmp/pwned`"},
      {"x; touch /tmp/pwned; $HOME &amp; &lt;y&gt;", "x; touch /tmp/pwned; $HOME & <y>"},
      {std::string(300, 'q'), std::string(300, 'q')},
  };
  for (const auto& [xml, path] : paths) {
    cases.push_back({"alice", "setBootPath", "<key>bootpath</key><string>" + xml + "</string>",
                     message("SUCCESS"), "/usr/sbin/nvram\nboot-device=" + path + "\n"});
  }
  for (const char* user : {"carol", "mallory", "", static_cast<const char*>(nullptr)}) {
    for (const char* more : {"<key>bootpath</key><string>disk1s2</string>",
                             "<key>bootpath</key><integer>1</integer>", ""}) {
      cases.push_back({user, "setBootPath", more, message("CONNECT-AUTH"), {}});
    }
    for (const char* name : {"getBootPath", "restart", "shutdown"}) {
      cases.push_back({user, name, "", message("CONNECT-AUTH"), {}});
    }
  }
  for (const auto& [user, name, more, expected, calls] : cases) {
    SCOPED_TRACE(std::string(user ? user : "(none)") + ": " + name + more);
    sandbox_.writeFile("/steward/record/calls", "");
    // A job left in the background gets time to call its program.
    int wait = name != "restart" && name != "shutdown" ? 0 : calls.empty() ? 5 : 100;
    expectReply(ask(user, name, more, lingering(wait)), name, expected->mutableCopy());
    EXPECT_EQ(sandbox_.readFile("/steward/record/calls"), calls);
  }
  EXPECT_FALSE(fs::exists(sandbox_.hostPath("/tmp/pwned")));
  EXPECT_EQ(sandbox_.readFile("/etc/vigild.conf"), settings);
}

TEST_F(CommandsTest, ServiceLightFollowsEveryKindOfState) {
  // Entries of other names or planes are never touched, nor is a missing plane.
  sandbox_.writeFile(kRegistry + "IOService/Root/OrchardFPButtonX/LED", "0\n");
  sandbox_.writeFile(kRegistry + "IOService/Root/orchardfpbutton/LED", "0\n");
  sandbox_.writeFile(kRegistry + "IODeviceTree/OrchardFPButton/LED", "0\n");
  for (const char* missing : {"", "IOService"}) {
    if (*missing) fs::remove_all(sandbox_.hostPath(kRegistry + missing));
    expectReply(ask("alice", "serviceid", "<key>state</key><integer>1</integer>"),
                "serviceid", reply("OSStatus", makeInteger(0)));
    EXPECT_EQ(sandbox_.readFile(kRegistry + "IODeviceTree/OrchardFPButton/LED"), "0\n");
  }
  EXPECT_EQ(sandbox_.readFile(kRegistry + "IOService/Root/OrchardFPButtonX/LED"), "");
  // The light's property links to a device attribute, as on a real machine.
  std::string led = sandbox_.hostPath(kRegistry + "IOService/Root/PCI0/OrchardFPButton/LED");
  sandbox_.writeFile(kRegistry + "IOService/Root/PCI0/OrchardFPButton/Name", "button\n");
  sandbox_.writeFile(kRegistry + "brightness", "");
  fs::create_symlink(kRegistry + "brightness", led);
  const std::pair<const char*, const char*> cases[] = {
      {"<string>1</string>", "1\n"},        {"<integer>0</integer>", "0\n"},
      {"<true/>", "1\n"},                   {"<false/>", "0\n"},
      {"<integer>7</integer>", "1\n"},      {"<string>0</string>", "0\n"},
      {"<string>  -12abc</string>", "1\n"}, {"<string>off</string>", "0\n"},
      {"<real>-1</real>", "1\n"},           {"<real>0.5</real>", "0\n"},
      {"<integer>-3</integer>", "1\n"},     {"<array><integer>1</integer></array>", "0\n"},
      {"<true/>", "1\n"},                   {"<data>AQ==</data>", "0\n"},
      {"<true/>", "1\n"},                   {nullptr, "0\n"},
  };
  for (const auto& [state, light] : cases) {
    SCOPED_TRACE(state ? state : "(none)");
    std::string more = state ? "<key>state</key>" + std::string(state) : "";
    expectReply(ask("carol", "serviceid", more), "serviceid", reply("OSStatus", makeInteger(0)));
    EXPECT_EQ(sandbox_.readFile(kRegistry + "brightness"), light);
  }
  EXPECT_TRUE(fs::is_symlink(led));
}

TEST_F(CommandsTest, EmailReplacesTheSettingsFileWhole) {
  sandbox_.writeFile("/etc/vigild.conf", "old", 0640);
  auto settings = dictionaryOf({{"Email", dictionaryOf({{"To", makeString("ops@example.com")},
                                                        {"Localizable", makeString("x")},
                                                        {"Responses", makeString("y")}})},
                                {"Interval", makeInteger(30)}});
  std::string input = xmlOf(dictionaryOf({{"command", makeString("email")}, {"email", settings}}));
  RunResult result = sandbox_.run({.input = input, .environment = {{"REMOTE_USER", "carol"}}});
  expectReply(result, "email", reply("OSStatus", makeInteger(0)));
  EXPECT_TRUE(isEqual(parsed(sandbox_.readFile("/etc/vigild.conf")), settings));
  EXPECT_EQ(fs::status(sandbox_.hostPath("/etc/vigild.conf")).permissions(), fs::perms(0640));
  // The sandbox's root has no capabilities, so it cannot give a new file to
  // another user: the write fails, the reply does not tell, the old file
  // stays whole and alone.
  ASSERT_EQ(chown(sandbox_.hostPath("/etc/vigild.conf").c_str(), 1003, 20), 0);
  expectReply(ask("carol", "email", "<key>email</key><dict/>"), "email",
              reply("OSStatus", makeInteger(0)));
  EXPECT_TRUE(isEqual(parsed(sandbox_.readFile("/etc/vigild.conf")), settings));
  EXPECT_EQ(namesStartingWith("/etc", "vigild.conf"), std::vector<std::string>{"vigild.conf"});
}

TEST_F(CommandsTest, EmailChangesTheControllerSettingsOnlyForAnAdministrator) {
  auto withController = [](const char* host) {
    auto ipmi = dictionaryOf({{"Host", makeString(host)}, {"PasswordFile", makeString("/x")}});
    return dictionaryOf({{"Email", dictionaryOf({})}, {"IPMI", ipmi}});
  };
  auto without = dictionaryOf({{"Email", dictionaryOf({})}});
  struct Case {
    const char* user;
    DictionaryRef inForce, asked, written;
  } cases[] = {
      {"carol", withController("bmc"), withController("elsewhere"), withController("bmc")},
      {"carol", without, withController("elsewhere"), without},
      {"carol", withController("bmc"), without, withController("bmc")},
      {"alice", withController("bmc"), withController("elsewhere"), withController("elsewhere")},
      {"alice", withController("bmc"), without, without},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user);
    sandbox_.writeFile("/etc/vigild.conf", xmlOf(c.inForce), 0640);
    std::string input = xmlOf(dictionaryOf({{"command", makeString("email")}, {"email", c.asked}}));
    RunResult result = sandbox_.run({.input = input, .environment = {{"REMOTE_USER", c.user}}});
    expectReply(result, "email", reply("OSStatus", makeInteger(0)));
    EXPECT_TRUE(isEqual(parsed(sandbox_.readFile("/etc/vigild.conf")), c.written));
  }
}

class ProfileTest : public CommandsTest {
 protected:
  static constexpr const char* kProfile = "Hardware: caf\xc3\xa9\n";
  ProfileTest() {  // records its call, then prints kProfile
    writeInventoryTool("echo \"$0 $*\" > /steward/record/args; "
                       "printf 'Hardware: caf\\303\\251\\n'\n");
  }
  void writeInventoryTool(const std::string& script) {
    sandbox_.writeFile("/usr/sbin/machreport", "#!/bin/sh\n" + script, 0755);
  }
  void expectProfile(const std::string& text) {
    expectReply(ask("carol", "profile"), "profile", reply("Profile", makeString(text)));
  }
  // The profile file and any other file whose name starts like it.
  auto profileFiles() { return namesStartingWith("/tmp", "profile.txt"); }
};

TEST_F(ProfileTest, AnswersTheToolsOutputInTextXmlCanCarry) {
  expectProfile(kProfile);
  EXPECT_EQ(sandbox_.readFile("/tmp/profile.txt"), kProfile);
  EXPECT_EQ(sandbox_.readFile("/steward/record/args"), "/usr/sbin/machreport -detailLevel -1\n");

  const std::pair<const char*, std::string> outputs[] = {
      {"caf\\351", "caf\xc3\xa9"},  // not UTF-8: read as Latin-1
      {"a\\fb\\033[0m\\tc\\r\\nd\\177\\000e\\357\\277\\277",
       "a\xef\xbf\xbd" "b\xef\xbf\xbd[0m\tc\r\nd\x7f\xef\xbf\xbd" "e\xef\xbf\xbd"},
  };
  for (const auto& [printed, text] : outputs) {
    writeInventoryTool(std::string("printf '") + printed + "'\n");
    expectProfile(text);
  }
  fs::remove(sandbox_.hostPath("/usr/sbin/machreport"));
  expectProfile("");
  EXPECT_EQ(sandbox_.readFile("/tmp/profile.txt"), "");
}

// An exception out of a handler is answered, not a crash: here a profile too
// large for the address space the run may use.
TEST_F(ProfileTest, ExceptionBecomesTheNilResponseReply) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer runtime needs more address space than the limit";
#else
  writeInventoryTool("truncate -s 4G /proc/self/fd/1\n");
  expectReply(ask("carol", "profile", "", "ulimit -v 262144; steward_kestrel"), "profile",
              reply("error", makeString("NIL_RESPONSE_ERR (std::bad_alloc)")));
  EXPECT_EQ(profileFiles(), std::vector<std::string>{"profile.txt"});
#endif
}

TEST_F(ProfileTest, PlantedObjectsAreNeitherUsedNorInTheWay) {
  std::string planted = sandbox_.hostPath("/tmp/profile.txt");
  sandbox_.writeFile("/etc/precious", "precious\n");
  // Regular files are replaced; anything else is left as it is.
  const std::pair<std::function<void()>, fs::file_type> plants[] = {
      {[&] { fs::create_symlink("/etc/precious", planted); }, fs::file_type::symlink},
      {[&] { fs::create_symlink("/tmp/nowhere", planted); }, fs::file_type::symlink},
      {[&] { fs::create_directories(planted + "/inside"); }, fs::file_type::directory},
      {[&] { ASSERT_EQ(mkfifo(planted.c_str(), 0666), 0); }, fs::file_type::fifo},
      {[&] { fs::create_hard_link(sandbox_.hostPath("/etc/precious"), planted); },
       fs::file_type::regular},
      {[&] {
         sandbox_.writeFile("/tmp/profile.txt", "someone else's\n", 0666);
         ASSERT_EQ(chown(planted.c_str(), 1003, 1003), 0);
       }, fs::file_type::regular},
  };
  for (const auto& [plant, type] : plants) {
    fs::remove_all(planted);
    plant();
    expectProfile(kProfile);
    EXPECT_EQ(sandbox_.readFile("/etc/precious"), "precious\n");
    EXPECT_EQ(fs::symlink_status(planted).type(), type);
    EXPECT_EQ(profileFiles(), std::vector<std::string>{"profile.txt"});
    if (type != fs::file_type::regular) continue;
    EXPECT_EQ(sandbox_.readFile("/tmp/profile.txt"), kProfile);
    struct stat st;
    ASSERT_EQ(stat(planted.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
  }
}

}  // namespace
}  // namespace steward::sandbox
