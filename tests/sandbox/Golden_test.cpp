// The replies and effects of the eight commands for requests that use only
// the keys they have always had, compared byte for byte with the recorded
// ones in tests/host/golden: <case>.xml is the reply, <case>.effects the
// programs started and the files they and the tool left. Nothing is masked:
// every input, the daemon's answer included, is fixed. STEWARD_RECORD_GOLDEN=1
// writes the files instead of comparing.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/sandbox/Sandbox.h"

namespace steward::sandbox {
namespace {

namespace fs = std::filesystem;

const fs::path kGoldenDirectory = fs::path(__FILE__).parent_path().parent_path() / "host/golden";
const std::string kRegistry = "/var/lib/stewardd/registry/";
const std::string kLight = kRegistry + "IOService/Root/OrchardFPButton/LED";
const std::string kBootDevice = kRegistry + "IODeviceTree/options/boot-device";
// What the commands may touch, shown in each case's effects.
const std::string kWatched[] = {"/steward/record/calls", "/etc/vigild.conf", "/tmp/profile.txt",
                                kLight, kBootDevice};

constexpr const char* kDaemonReply =
    "<plist version=\"1.0\"><dict><key>Health</key><string>ok</string>"
    "<key>Temperature</key><integer>41</integer></dict></plist>";
constexpr const char* kSettings =
    "<plist version=\"1.0\"><dict><key>Interval</key><integer>60</integer><key>Email</key><dict>"
    "<key>To</key><string>ops@example.com</string><key>Localizable</key><string>x</string>"
    "</dict></dict></plist>";
constexpr const char* kInventory = "#!/bin/sh\necho \"$0 $*\" >>/steward/record/calls\n"
                                   "printf 'Hardware: caf\\303\\251\\n'\n";

struct Case {
  const char* name, *user;  // the golden files' name; the caller (none: no REMOTE_USER)
  std::string input;
};

std::string readGolden(const std::string& name) {
  std::ifstream file(kGoldenDirectory / name, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

// The tool, with the stand-in monitor serving for "status"; a restart or
// shutdown job left in the background gets up to three seconds to call.
std::string shellFor(const std::string& input) {
  std::string shell = "steward_kestrel";
  if (input.find(">status<") != std::string::npos) {
    shell = "fake_vigild /run/reply >/dev/null 2>&1 & "
            "while [ ! -S /run/vigildPort ]; do sleep 0.01; done; " + shell;
  }
  if (input.find(">restart<") != std::string::npos ||
      input.find(">shutdown<") != std::string::npos) {
    shell += "; i=0; while [ ! -s /steward/record/calls ] && [ $i -lt 30 ]; do "
             "sleep 0.1; i=$((i+1)); done";
  }
  return shell;
}

TEST(Golden, EveryCommandAnswersAndActsAsRecorded) {
  const std::string settings = "<key>email</key><dict><key>To</key><string>a@b.c</string>"
                               "<key>password</key><string>p</string></dict>";
  const Case cases[] = {
      {"status-admin", "alice", request("status")}, {"status-user", "carol", request("status")},
      {"profile-admin", "alice", request("profile")}, {"profile-user", "carol", request("profile")},
      {"email-admin", "alice", request("email", settings)},
      {"email-user", "carol", request("email", settings)},
      {"email-missing", "alice", request("email")},
      {"serviceid-on", "alice", request("serviceid", "<key>state</key><integer>1</integer>")},
      {"serviceid-off", "carol", request("serviceid", "<key>state</key><false/>")},
      {"restart-admin", "alice", request("restart")}, {"restart-user", "carol", request("restart")},
      {"shutdown-admin", "bob", request("shutdown")},
      {"shutdown-nobody", nullptr, request("shutdown")},
      {"setbootpath-admin", "alice", request("setBootPath", "<key>bootpath</key><string>pci@0/ide@1</string>")},
      {"setbootpath-missing", "alice", request("setBootPath")},
      {"setbootpath-user", "carol", request("setBootPath", "<key>bootpath</key><string>disk1</string>")},
      {"getbootpath-admin", "alice", request("getBootPath")},
      {"getbootpath-user", "carol", request("getBootPath")},
      {"unknown", "alice", request("restartNow", "<key>clientContext</key><string>c</string>")},
      {"malformed", "alice", "<plist><dict><key>command</key></dict>"},
      {"context", "alice", request("email", "<key>clientContext</key><dict><key>id</key>"
                                            "<integer>7</integer></dict>")},
  };
  const bool record = std::getenv("STEWARD_RECORD_GOLDEN") != nullptr;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox sandbox;
    sandbox.writeFile("/run/reply", kDaemonReply);
    sandbox.writeFile("/etc/vigild.conf", kSettings);
    sandbox.writeFile("/usr/sbin/machreport", kInventory, 0755);
    sandbox.writeFile(kLight, "0\n");
    sandbox.writeFile(kBootDevice, "disk0s2\n");
    RunOptions options{.input = c.input, .shell = shellFor(c.input)};
    if (c.user) options.environment["REMOTE_USER"] = c.user;
    RunResult result = sandbox.run(options);
    EXPECT_EQ(result.exitStatus, 0);
    std::string effects;
    for (const std::string& path : kWatched) effects += "== " + path + "\n" + sandbox.readFile(path);
    for (const auto& [name, bytes] : {std::pair{std::string(c.name) + ".xml", result.output},
                                      {std::string(c.name) + ".effects", effects}}) {
      if (record) {
        fs::create_directories(kGoldenDirectory);
        std::ofstream(kGoldenDirectory / name, std::ios::binary) << bytes;
      } else {
        EXPECT_EQ(bytes, readGolden(name)) << name;
      }
    }
  }
}

}  // namespace
}  // namespace steward::sandbox
