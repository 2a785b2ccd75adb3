// The real nvram on fake firmware variables, started by the tool, by hand
// and by vigild's start.
#include <gtest/gtest.h>

#include "tests/nvram/FakeFirmware.h"
#include "tests/sandbox/Sandbox.h"

namespace steward::sandbox {
namespace {

std::string variable(std::string name) { return kFakeVariables + name + "-" + kGlobalGuid; }

// Each row starts from entries 1 "debian" and 3, BootOrder 3 1 and a stale
// registry value; after its command line (/tmp/set asks "setBootPath" for
// the row's path): BootOrder, BootNext and what "getBootPath" answers.
TEST(NvramSandbox, BootPathReachesTheFirmwareAndComesBack) {
  using F = RunOptions::Firmware;
  const std::string same = variableFile(entryNumbers({3, 1})), set = "steward_kestrel </tmp/set",
      vigild = "vigild & while [ ! -S /run/vigildPort ]; do sleep 0.01; done; kill $!";
  const std::tuple<F, std::string, std::string, std::string, std::string, std::string> cases[] = {
      {F::kFake, "debian", set, variableFile(entryNumbers({1, 3})), "", "Boot0001"},
      {F::kFake, "", "/usr/sbin/nvram boot-device-once=debian", same,
       variableFile(entryNumbers({1})), "Boot0003"},
      {F::kFake, "nope", set, same, "", "stale"},
      {F::kFake, std::string(300, 'l'), set, same, "", "stale"},
      {F::kFake, "debian", "flock /run/nvram.lock " + set, same, "", "stale"},
      {F::kFakeReadOnly, "debian", set, same, "", "stale"},
      {F::kFake, "", vigild, same, "", "Boot0003"},
      // The host's variables are only read; without any, the stale value goes.
      {F::kHost, "", vigild + "; /usr/sbin/nvram -p 2>&1 | grep -e ^boot-device -e 'variables$'",
       same, "", access("/sys/firmware/efi/efivars", F_OK) == 0 ? "stale" : ""},
  };
  for (const auto& [firmware, path, command, order, next, bootDevice] : cases) {
    SCOPED_TRACE(command);
    Sandbox sandbox;
    sandbox.writeFile(variable("Boot0001"), variableFile(loadOption(u"debian")));
    sandbox.writeFile(variable("Boot0003"), variableFile(loadOption(u"PXE")));
    sandbox.writeFile(variable("BootOrder"), same);
    sandbox.writeFile("/var/lib/stewardd/registry/IODeviceTree/options/boot-device", "stale\n");
    sandbox.writeFile("/tmp/set", request("setBootPath", "<key>bootpath</key><string>" + path +
                                                             "</string>"));
    sandbox.writeFile("/tmp/get", request("getBootPath"));
    auto got = sandbox.run({.environment = {{"REMOTE_USER", "alice"}},
                            .shell = "{ " + command + "; } >/dev/null && steward_kestrel </tmp/get",
                            .firmware = firmware});
    EXPECT_EQ(sandbox.readFile(variable("BootOrder")), order);
    EXPECT_EQ(sandbox.readFile(variable("BootNext")), next);
    auto reply = dictionaryOf({{"Message", makeString(bootDevice)},
                               {"command", makeString("getBootPath")}});
    EXPECT_TRUE(isEqual(parsed(got.output),
                        bootDevice.empty() ? parsed(envelope("UNEXPECTED_COMMAND")) : reply))
        << got.output;
  }
}

}  // namespace
}  // namespace steward::sandbox
