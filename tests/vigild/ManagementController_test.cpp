// vigild in the sandbox with the BMC simulator, reached over IPMI 2.0 LAN
// through the code that also serves /dev/ipmi0.
#include <gtest/gtest.h>

#include "tests/sandbox/Sandbox.h"
#include "tests/support/IpmiSimulator.h"
#include "tests/support/ValueBuilders.h"

namespace steward::sandbox {
namespace {

MutableDictionaryRef sensor(const char* kind, const char* label, double value, bool alarm) {
  bool fan = std::string(kind) == "fan";
  return dictionaryOf({{"chip", makeString("bmc")}, {"kind", makeString(kind)},
                       {"label", makeString(label)}, {"value", makeReal(value)},
                       {"unit", makeString(fan ? "RPM" : "°C")}, {"alarm", makeBoolean(alarm)}});
}

MutableDictionaryRef light(bool available, bool on) {
  return dictionaryOf({{"Available", makeBoolean(available)}, {"On", makeBoolean(on)},
                       {"Confirmed", makeBoolean(false)}, {"Device", makeString("bmc")}});
}

// Sensors join the status, crossed thresholds as alarms; "serviceid" becomes
// chassis identify, which the simulator cannot report back ("Confirmed"),
// also after a restart of the controller.
TEST(ManagementController, SensorsAndIdentifyReachTheStatus) {
  Sandbox sandbox;
  installIpmiSimulator(sandbox, {{1, "Inlet", false, 45, 70, 80}, {2, "Cpu", false, 75, 70, 90},
                                 {3, "Fan 1", true, 60}, {4, "Exhaust", false, 95, 70, 90}});
  sandbox.writeFile("/etc/vigild.conf", "<plist><dict>" + ipmiSettings() + "</dict></plist>");
  sandbox.writeFile("/tmp/status", request("status"));
  sandbox.writeFile("/tmp/1", request("serviceid", "<key>state</key><true/>"));
  sandbox.writeFile("/tmp/0", request("serviceid", "<key>state</key><false/>"));
  std::string identified = "; await '[ \"$(grep -c identify /tmp/bmc/chassis.log)\" = $s ]'; "
                           "sleep 1.1; steward_kestrel </tmp/status >/tmp/status$s; ";
  runReadingLog(sandbox, {.shell = startIpmiSimulator() +
                        "vigild & await '[ -S /run/vigildPort ]'; "
                        "await 'grep -q power /tmp/bmc/chassis.log'; sleep 0.3; "
                        "steward_kestrel </tmp/status >/tmp/status0; "
                        "s=1; steward_kestrel </tmp/1 >/dev/null" + identified +
                        "kill $sim; wait $sim; " + startIpmiSimulator() +  // sessions lost
                        "s=2; steward_kestrel </tmp/0 >/dev/null" + identified});
  auto before = as<Dictionary>(parsed(sandbox.readFile("/tmp/status0")));
  ASSERT_NE(before, nullptr) << sandbox.readFile("/tmp/bmc/log");
  EXPECT_TRUE(isEqual(before->objectForKey("Sensors"),
                      arrayOf({sensor("temperature", "Inlet", 45, false),
                               sensor("temperature", "Cpu", 75, true),
                               sensor("fan", "Fan 1", 3000, false),
                               sensor("temperature", "Exhaust", 95, true)})));
  EXPECT_EQ(textOf(before->objectForKey("Health")), "critical");
  EXPECT_TRUE(isEqual(before->objectForKey("ManagementController"),
                      dictionaryOf({{"Address", makeString("127.0.0.1:6230")},
                                    {"Available", makeBoolean(true)}})));
  std::string log = sandbox.readFile("/tmp/bmc/chassis.log");
  EXPECT_NE(log.find("set identify 0 1\nget power\nset identify 0 0\n"), std::string::npos) << log;
  for (int s : {0, 1, 2}) {
    auto status = as<Dictionary>(parsed(sandbox.readFile("/tmp/status" + std::to_string(s))));
    EXPECT_TRUE(status && isEqual(status->objectForKey("ServiceLight"), light(true, s == 1))) << s;
  }
}

// A silent controller, or none: status as usual, with no LED no light.
TEST(ManagementController, AbsentOrSilentControllerLeavesTheLightUnavailable) {
  std::tuple<std::string, ValueRef, ValueRef> cases[] = {
      {ipmiSettings(6231),
       dictionaryOf({{"Address", makeString("127.0.0.1:6231")}, {"Available", makeBoolean(false)},
                     {"Error", makeString("127.0.0.1:6231: connection timeout")}}),
       light(false, false)},
      {"", nullptr, dictionaryOf({{"Available", makeBoolean(false)}, {"On", makeBoolean(false)}})},
  };
  for (const auto& [settings, controller, serviceLight] : cases) {
    Sandbox sandbox;
    installIpmiSimulator(sandbox, {{1, "Inlet", false, 45}});
    sandbox.writeFile("/etc/vigild.conf", "<plist><dict>" + settings + "</dict></plist>");
    RunResult result = runReadingLog(sandbox, {.shell = startIpmiSimulator() + "vigild --once"});
    auto status = as<Dictionary>(parsed(result.output));
    ASSERT_TRUE(status && result.exitStatus == 0) << result.output;
    EXPECT_TRUE(isEqual(status->objectForKey("Sensors"), arrayOf({})));
    EXPECT_TRUE(isEqual(status->objectForKey("ManagementController"), controller));
    EXPECT_TRUE(isEqual(status->objectForKey("ServiceLight"), serviceLight));
  }
}

}  // namespace
}  // namespace steward::sandbox
