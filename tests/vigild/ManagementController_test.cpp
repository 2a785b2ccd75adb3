// vigild with a management controller, inside the sandbox: the BMC
// simulator on the loopback address, reached over IPMI 2.0 LAN through the
// code that also serves /dev/ipmi0.
#include <gtest/gtest.h>

#include "tests/sandbox/Sandbox.h"
#include "tests/support/IpmiSimulator.h"
#include "tests/support/ValueBuilders.h"

namespace steward::sandbox {
namespace {

std::string settingsFile(const std::string& content) {
  return "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>" + content + "</dict></plist>";
}

DictionaryRef statusIn(const Sandbox& sandbox, const char* path) {
  return as<Dictionary>(parsed(sandbox.readFile(path)));
}

MutableDictionaryRef sensor(const char* kind, const char* label, double value, const char* unit,
                            bool alarm) {
  return dictionaryOf({{"chip", makeString("bmc")}, {"kind", makeString(kind)},
                       {"label", makeString(label)}, {"value", makeReal(value)},
                       {"unit", makeString(unit)}, {"alarm", makeBoolean(alarm)}});
}

MutableDictionaryRef light(bool available, bool on) {
  return dictionaryOf({{"Available", makeBoolean(available)}, {"On", makeBoolean(on)},
                       {"Confirmed", makeBoolean(false)}, {"Device", makeString("bmc")}});
}

// The controller's sensors join the status; "serviceid" writes the registry
// property, which the daemon applies as chassis identify and reports. The
// simulator cannot report the identify state back, so the light's state is
// the one applied ("Confirmed" false).
TEST(ManagementController, SensorsAndIdentifyReachTheStatus) {
  Sandbox sandbox;
  installIpmiSimulator(sandbox, {{1, "Inlet Temp", false, 45, 70, 80},
                                 {2, "CPU Temp", false, 75, 70, 90},
                                 {3, "Fan 1", true, 60},
                                 {4, "Exhaust Temp", false, 95, 70, 90}});
  sandbox.writeFile("/etc/vigild.conf", settingsFile(ipmiSettings()));
  sandbox.writeFile("/tmp/status", request("status"));
  sandbox.writeFile("/tmp/1", request("serviceid", "<key>state</key><true/>"));
  sandbox.writeFile("/tmp/0", request("serviceid", "<key>state</key><false/>"));
  auto identified = [](int times) {
    return "await '[ \"$(grep -c identify " + std::string(kChassisLog) + ")\" = " +
           std::to_string(times) + " ]'; sleep 1.1; ";
  };
  sandbox.run({.shell = kAwait + startIpmiSimulator() +
                        "vigild & await '[ -S /run/vigildPort ]'; "
                        "await 'grep -q power /tmp/bmc/chassis.log'; sleep 0.3; "
                        "steward_kestrel </tmp/status >/tmp/before; "
                        "steward_kestrel </tmp/1 >/dev/null; " + identified(1) +
                        "steward_kestrel </tmp/status >/tmp/on; "
                        "steward_kestrel </tmp/0 >/dev/null; " + identified(2) +
                        "steward_kestrel </tmp/status >/tmp/off; kill $!"});
  auto before = statusIn(sandbox, "/tmp/before");
  ASSERT_NE(before, nullptr) << sandbox.readFile("/tmp/bmc/log") << sandbox.readFile(kChassisLog)
                             << testing::PrintToString(sandbox.logTexts());
  EXPECT_TRUE(isEqual(before->objectForKey("Sensors"),
                      arrayOf({sensor("temperature", "Inlet Temp", 45, "°C", false),
                               sensor("temperature", "CPU Temp", 75, "°C", true),
                               sensor("fan", "Fan 1", 3000, "RPM", false),
                               sensor("temperature", "Exhaust Temp", 95, "°C", true)})))
      << sandbox.readFile("/tmp/before");
  EXPECT_EQ(textOf(before->objectForKey("Health")), "critical");
  EXPECT_TRUE(isEqual(before->objectForKey("ManagementController"),
                      dictionaryOf({{"Address", makeString("127.0.0.1:6230")},
                                    {"Available", makeBoolean(true)}})));
  std::string log = sandbox.readFile(kChassisLog);
  EXPECT_NE(log.find("set identify 0 1\n"), std::string::npos) << log;
  EXPECT_NE(log.find("set identify 0 0\n"), std::string::npos) << log;
  for (auto [path, on] : {std::pair{"/tmp/before", false}, {"/tmp/on", true}, {"/tmp/off", false}}) {
    auto status = statusIn(sandbox, path);
    ASSERT_NE(status, nullptr) << path;
    EXPECT_TRUE(isEqual(status->objectForKey("ServiceLight"), light(true, on))) << path;
  }
}

// A controller that does not answer, or none at all: the status is served
// all the same, without its sensors, and with no LED the light is
// unavailable.
TEST(ManagementController, AbsentOrSilentControllerLeavesTheLightUnavailable) {
  struct Case {
    std::string settings;
    ValueRef controller;
    ValueRef light;
  } cases[] = {
      {ipmiSettings(6231),
       dictionaryOf({{"Address", makeString("127.0.0.1:6231")}, {"Available", makeBoolean(false)},
                     {"Error", makeString("127.0.0.1:6231: connection timeout")}}),
       light(false, false)},
      {"", nullptr, dictionaryOf({{"Available", makeBoolean(false)}, {"On", makeBoolean(false)}})},
  };
  for (const Case& c : cases) {
    Sandbox sandbox;
    installIpmiSimulator(sandbox, {{1, "Inlet Temp", false, 45}});
    sandbox.writeFile("/etc/vigild.conf", settingsFile(c.settings));
    RunResult result = sandbox.run({.shell = kAwait + startIpmiSimulator() + "vigild --once"});
    EXPECT_EQ(result.exitStatus, 0);
    auto status = as<Dictionary>(parsed(result.output));
    ASSERT_NE(status, nullptr) << result.output;
    EXPECT_TRUE(isEqual(status->objectForKey("Sensors"), arrayOf({}))) << result.output;
    EXPECT_TRUE(isEqual(status->objectForKey("ManagementController"), c.controller))
        << result.output;
    EXPECT_TRUE(isEqual(status->objectForKey("ServiceLight"), c.light)) << result.output;
  }
}

}  // namespace
}  // namespace steward::sandbox
