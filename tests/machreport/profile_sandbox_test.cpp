// "profile" through the tool, with the real machreport on a fake machine
// bound at the real kernel paths.
#include <gtest/gtest.h>

#include "tests/sandbox/Sandbox.h"

namespace steward::sandbox {
namespace {

TEST(ProfileOnAFakeMachine, AnswersTheMachinesOwnProfile) {
  Sandbox sandbox;
  std::string machine = sandbox.hostPath("/machine");
  const std::pair<const char*, const char*> files[] = {
      {"/sys/class/dmi/id/sys_vendor", "Kestrel Systems\n"},
      {"/sys/class/dmi/id/product_name", "KS-2000\n"},
      {"/sys/bus/pci/devices/0000:00:1f.2/vendor", "0x8086\n"},
      {"/sys/bus/pci/devices/0000:00:1f.2/device", "0x2922\n"},
      {"/sys/bus/pci/devices/0000:00:1f.2/class", "0x010601\n"},
      {"/sys/block/sd\x1b[1m/size", "2048\n"},
      {"/proc/cpuinfo", "processor\t: 0\nmodel name\t: Kestrel K9\n\n"},
      {"/proc/uptime", "90061.5 12.0\n"}};
  for (const auto& [path, contents] : files)
    sandbox.writeFile("/machine" + std::string(path), contents);
  sandbox.writeFile("/etc/os-release", "PRETTY_NAME=\"Kestrel OS 1\"\n");
  RunResult direct = sandbox.run(
      {.shell = "/usr/sbin/machreport -detailLevel -1", .fakeMachine = machine});
  RunResult asked = sandbox.run({.input = request("profile"),
                                 .environment = {{"REMOTE_USER", "carol"}},
                                 .fakeMachine = machine});
  ASSERT_EQ(direct.exitStatus, 0);
  auto reply = as<Dictionary>(parsed(asked.output));
  ASSERT_TRUE(reply) << asked.output;
  EXPECT_EQ(textOf(reply->objectForKey("Profile")), direct.output);
  for (const char* line :
       {"  Vendor: Kestrel Systems\n", "  Model: Kestrel K9\n", "  sd?[1m:\n",
        "    Device: 82801IR/IO/IH (ICH9R/DO/DH) 6 port SATA Controller [AHCI mode]\n",
        "  System: Kestrel OS 1\n", "  Uptime: 1 days 01:01:01\n", "Network:\n\n"})
    EXPECT_NE(direct.output.find(line), std::string::npos) << line << direct.output;
}

}  // namespace
}  // namespace steward::sandbox
