// The real nvram on fake firmware variables, started by the tool, by hand
// and by vigild's start.
#include <gtest/gtest.h>

#include "tests/nvram/FakeFirmware.h"
#include "tests/sandbox/Sandbox.h"

namespace steward::sandbox {
namespace {

std::string variable(const char* name) {
  return std::string(kFakeVariables) + name + "-8be4df61-93ca-11d2-aa0d-00e098032b8c";
}

// Each row starts from entries 1 "debian" and 3, BootOrder 3 1 and a stale
// registry value; after its command line: BootOrder, BootNext and what
// "getBootPath" answers (none: no reply).
TEST(NvramSandbox, BootPathReachesTheFirmwareAndComesBack) {
  using Firmware = RunOptions::Firmware;
  const std::string same = variableFile(entryNumbers({3, 1})), vigild =
      "vigild & while [ ! -S /run/vigildPort ]; do sleep 0.01; done; kill $!";
  const std::tuple<Firmware, std::string, std::string, std::string, std::string> cases[] = {
      {Firmware::kFake, "steward_kestrel </tmp/debian", variableFile(entryNumbers({1, 3})), "",
       "Boot0001"},
      {Firmware::kFake, "/usr/sbin/nvram boot-device-once=debian", same,
       variableFile(entryNumbers({1})), "Boot0003"},
      {Firmware::kFake, "steward_kestrel </tmp/unknown", same, "", "stale"},
      {Firmware::kFake, "steward_kestrel </tmp/long", same, "", "stale"},
      {Firmware::kFake, "flock /run/nvram.lock steward_kestrel </tmp/debian", same, "", "stale"},
      {Firmware::kFakeReadOnly, "steward_kestrel </tmp/debian", same, "", "stale"},
      {Firmware::kFake, vigild, same, "", "Boot0003"},
      // Without variables (as on this machine) a stale value goes; with
      // them, the machine's are only read.
      {Firmware::kHost,
       vigild + "; /usr/sbin/nvram -p 2>&1 | grep -e '^boot-device' -e ' has no UEFI variables$'",
       same, "", access("/sys/firmware/efi/efivars", F_OK) == 0 ? "stale" : ""},
  };
  for (const auto& [firmware, command, order, next, bootDevice] : cases) {
    SCOPED_TRACE(command);
    Sandbox sandbox;
    sandbox.writeFile(variable("Boot0001"), variableFile(loadOption(u"debian")));
    sandbox.writeFile(variable("Boot0003"), variableFile(loadOption(u"PXE")));
    sandbox.writeFile(variable("BootOrder"), same);
    sandbox.writeFile("/var/lib/stewardd/registry/IODeviceTree/options/boot-device", "stale\n");
    for (const auto& [file, path] : {std::pair<std::string, std::string>{"debian", "debian"},
                                     {"unknown", "nope"}, {"long", std::string(300, 'l')}}) {
      sandbox.writeFile("/tmp/" + file,
                        request("setBootPath", "<key>bootpath</key><string>" + path + "</string>"));
    }
    sandbox.writeFile("/tmp/get", request("getBootPath"));
    auto got = sandbox.run({.environment = {{"REMOTE_USER", "alice"}},
                            .shell = "{ " + command + "; } >/dev/null && steward_kestrel </tmp/get",
                            .firmware = firmware});
    EXPECT_EQ(sandbox.readFile(variable("BootOrder")), order);
    EXPECT_EQ(sandbox.readFile(variable("BootNext")), next);
    ValueRef wanted = dictionaryOf({{"Message", makeString(bootDevice)},
                                    {"command", makeString("getBootPath")}});
    EXPECT_TRUE(isEqual(parsed(got.output),
                        bootDevice.empty() ? parsed(envelope("UNEXPECTED_COMMAND")) : wanted))
        << got.output;
  }
}

}  // namespace
}  // namespace steward::sandbox
