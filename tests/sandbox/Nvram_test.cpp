// The real nvram on fake firmware variables, started by the tool and by hand.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/nvram/FakeFirmware.h"
#include "tests/sandbox/Sandbox.h"

namespace steward::sandbox {
namespace {

std::string variable(const char* name) {
  return std::string(kFakeVariables) + name + "-8be4df61-93ca-11d2-aa0d-00e098032b8c";
}
const std::string kBootDevice = "/var/lib/stewardd/registry/IODeviceTree/options/boot-device";

// Each row starts from entries 1 "debian" and 3, BootOrder 3 1; after its
// command line, BootOrder, BootNext and what "getBootPath" answers.
TEST(NvramSandbox, BootPathReachesTheFirmwareAndComesBack) {
  using Firmware = RunOptions::Firmware;
  struct Case {
    Firmware firmware;
    std::string command, order, next, bootDevice;
  };
  const std::string same = variableFile(entryNumbers({3, 1}));
  const Case cases[] = {
      {Firmware::kFake, "steward_kestrel </tmp/debian", variableFile(entryNumbers({1, 3})), "",
       "Boot0001"},
      {Firmware::kFake, "/usr/sbin/nvram boot-device-once=debian", same,
       variableFile(entryNumbers({1})), "Boot0003"},
      {Firmware::kFake, "steward_kestrel </tmp/unknown", same, "", ""},
      {Firmware::kFake, "steward_kestrel </tmp/long", same, "", ""},
      {Firmware::kFake, "flock /run/nvram.lock steward_kestrel </tmp/debian", same, "", ""},
      {Firmware::kFakeReadOnly, "steward_kestrel </tmp/debian", same, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    Sandbox sandbox;
    sandbox.writeFile(variable("Boot0001"), variableFile(loadOption(u"debian")));
    sandbox.writeFile(variable("Boot0003"), variableFile(loadOption(u"PXE")));
    sandbox.writeFile(variable("BootOrder"), same);
    for (const auto& [file, path] : {std::pair<std::string, std::string>{"debian", "debian"},
                                     {"unknown", "nope"}, {"long", std::string(300, 'l')}}) {
      sandbox.writeFile("/tmp/" + file,
                        request("setBootPath", "<key>bootpath</key><string>" + path + "</string>"));
    }
    sandbox.writeFile("/tmp/get", request("getBootPath"));
    auto got = sandbox.run({.environment = {{"REMOTE_USER", "alice"}},
                            .shell = c.command + " >/dev/null; steward_kestrel </tmp/get",
                            .firmware = c.firmware});
    EXPECT_EQ(sandbox.readFile(variable("BootOrder")), c.order);
    EXPECT_EQ(sandbox.readFile(variable("BootNext")), c.next);
    if (c.bootDevice.empty()) {
      EXPECT_EQ(got.output, envelope("UNEXPECTED_COMMAND"));
    } else {
      EXPECT_TRUE(isEqual(parsed(got.output),
                          dictionaryOf({{"Message", makeString(c.bootDevice)},
                                        {"command", makeString("getBootPath")}})))
          << got.output;
    }
  }
}

// vigild publishes the boot device as it starts, and drops a stale one where
// there are no variables; there nvram refuses every command line cleanly.
TEST(NvramSandbox, VigildPublishesAtStartAndTheHostIsOnlyRead) {
  const std::string vigild = "vigild & while [ ! -S /run/vigildPort ]; do sleep 0.01; done; "
                             "kill $!; /usr/sbin/nvram -p 2>&1; echo $?";
  for (auto firmware : {RunOptions::Firmware::kFake, RunOptions::Firmware::kHost}) {
    Sandbox sandbox;
    sandbox.writeFile(variable("BootOrder"), variableFile(entryNumbers({0xAB})));
    sandbox.writeFile(kBootDevice, "stale\n");
    auto result = sandbox.run({.shell = vigild, .firmware = firmware});
    bool host = firmware == RunOptions::Firmware::kHost;
    EXPECT_EQ(sandbox.readFile(kBootDevice), host ? "" : "Boot00AB\n");
    if (host && std::filesystem::exists("/sys/firmware/efi/efivars")) {
      EXPECT_TRUE(result.output.ends_with("\n0\n")) << result.output;
    } else {
      EXPECT_EQ(result.output, host ? "nvram: this machine has no UEFI variables\n1\n"
                                     : "boot-device\tBoot00AB\n0\n");
    }
  }
}

}  // namespace
}  // namespace steward::sandbox
