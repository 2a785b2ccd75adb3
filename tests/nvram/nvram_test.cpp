#include <gtest/gtest.h>

#include <functional>

#include "nvram/Nvram.h"
#include "tests/nvram/FakeFirmware.h"
#include "tests/support/ScratchDirectory.h"

namespace steward::nvram {
namespace {

using Change = std::function<void(FakeFirmwareVariables&)>;
Change withOrder(std::string d) { return [=](auto& f) { f.variables["BootOrder"].data = d; }; }
Change withNext(bool readOnly) {
  return [=](auto& f) { f.variables["BootNext"] = {7, entryNumbers({5})}, f.readOnly = readOnly; };
}

// One row per store and command line: exit status, output, refusal, and
// BootOrder, BootNext and the registry's boot device and once-device afterwards. The store: entries
// 1 and 2 "debian" (2 inactive), 3, 5 "BEEF", A "0001"; BootOrder 3 1 2.
TEST(Nvram, CommandLinesChangeOnlyWhatTheyName) {
  struct Case {
    Change setup;
    std::vector<std::string> arguments;
    int exit;
    std::string out, err, order, next = "none", registry = "stale\n", once = "none";
  };
  const std::string same = entryNumbers({3, 1, 2}), list =
      "boot-devices\tBoot0001 debian\nboot-devices\tBoot0002 debian (inactive)\n"
      "boot-devices\tBoot0003 PXE \u00e9\nboot-devices\tBoot0005 BEEF\n"
      "boot-devices\tBoot000A 0001\n";
  auto no = [](std::string name) { return "nvram: no boot entry is named \"" + name + "\"\n"; };
  auto usage = "usage: nvram -p | -d NAME | NAME | NAME=VALUE ...\n";
  const Case cases[] = {
      {{}, {"-p"}, 0, "boot-device\tBoot0003\n" + list, "", same},
      // A number before a description like it; a description where no entry has the number.
      {{}, {"boot-device=0001", "boot-device=boot000a", "boot-device=BEEF", "boot-device"}, 0,
       "boot-device\tBoot0005\n", "", entryNumbers({5, 10, 1, 3, 2}), "none", "Boot0005\n"},
      {{}, {"boot-device-once=Boot0005", "boot-device-once"}, 0, "boot-device-once\tBoot0005\n",
       "", same, entryNumbers({5}), "Boot0003\n", "Boot0005\n"},
      // Deleting what is not there is done; the persistent device stays.
      {{}, {"boot-device-once=0005", "-d", "boot-device-once", "-d", "boot-device-once"}, 0, "",
       "", same, "none", "Boot0003\n"},
      {withNext(false), {"-d", "boot-device"}, 1, "", "nvram: boot-device cannot be deleted\n",
       same, entryNumbers({5})},
      {withNext(true), {"-d", "boot-device-once"}, 1, "",
       "nvram: cannot delete BootNext: Read-only file system\n", same, entryNumbers({5})},
      {{}, {"boot-device-once=0002"}, 1, "", "nvram: Boot0002 is inactive: the firmware skips it\n",
       same},
      {{}, {"boot-device-once"}, 1, "", "nvram: boot-device-once is not set\n", same},
      {{}, {"boot-device=debian"}, 1, "",
       "nvram: \"debian\" names more than one boot entry: Boot0001 Boot0002\n", same},
      // In order, up to the first refusal.
      {{}, {"boot-device=PXE \u00e9", "boot-device=0005", "boot-device=0004", "boot-device=1"}, 1,
       "", no("0004"), entryNumbers({5, 3, 1, 2}), "none", "Boot0005\n"},
      {{}, {"boot-device=a\nb"}, 1, "", no("a?b"), same},
      {{}, {"color"}, 1, "", "nvram: \"color\" is not a variable nvram knows\n", same},
      {{}, {"boot-device=0001", "-d"}, 2, "", usage, same},
      {withOrder("\x01"), {"boot-device=0001"}, 1, "",
       "nvram: BootOrder is malformed: an odd number of bytes\n", "\x01"},
      {withOrder(entryNumbers({2, 9, 1, 2})), {"-p"}, 0, "boot-device\tBoot0001\n" + list, "",
       entryNumbers({2, 9, 1, 2})},
      {withOrder(entryNumbers({1, 2, 1})), {"boot-device=0001"}, 0, "", "", entryNumbers({1, 2}),
       "none", "Boot0001\n"},
      {[](auto& f) { f.variables.erase("BootOrder"); }, {"boot-device"}, 1, "",
       "nvram: boot-device is not set: BootOrder names no active entry\n", "none"},
      {withOrder(""), {"boot-device-once=0003"}, 0, "", "", "", entryNumbers({3}), "",
       "Boot0003\n"},
      // Not offered: cut short, no terminator, a path list past the end, a
      // path node of length 0.
      {[](auto& f) {
         f.variables = {{"Boot0004", {7, loadOption(u"short").substr(0, 5)}},
                        {"Boot0005", {7, loadOption(u"open").substr(0, 14)}},
                        {"Boot0006", {7, loadOption(u"long").replace(4, 1, "\x09")}},
                        {"Boot0007", {7, loadOption(u"z").replace(10, 4, "\x7f\xcb\0\0", 4)}}}; },
       {"boot-devices", "boot-device=0007", "boot-device=0005", "boot-device=0006"}, 1, "",
       no("0007"), "none"},
      // What is printed selects the same entry, control characters and all.
      {[](auto& f) { f.variables = {{"Boot00AB", {7, loadOption(u"a\tb\u0085")}}}; },
       {"boot-devices", "boot-device=a?b?", "boot-device"}, 0,
       "boot-devices\tBoot00AB a?b?\nboot-device\tBoot00AB\n", "", entryNumbers({0xAB}), "none",
       "Boot00AB\n"},
      {[](auto& f) { f.readOnly = true; }, {"boot-device=0003"}, 0, "", "", same, "none",
       "Boot0003\n"},  // nothing to write
  };
  ScratchDirectory scratch;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    FakeFirmwareVariables firmware;
    firmware.variables = {
        {"Boot0001", {7, loadOption(u"debian")}}, {"Boot0002", {7, loadOption(u"debian", 0)}},
        {"Boot0003", {7, loadOption(u"PXE \u00e9")}}, {"Boot0005", {7, loadOption(u"BEEF")}},
        {"Boot000A", {7, loadOption(u"0001")}}, {"BootOrder", {7, same}}};
    if (c.setup) c.setup(firmware);
    std::filesystem::create_directories(scratch.path("IODeviceTree/options"));
    scratch.write("IODeviceTree/options/boot-device", "stale\n");
    std::string once = scratch.path("IODeviceTree/options/boot-device-once");
    std::filesystem::remove(once);
    std::string out, err;
    Nvram nvram(firmware, scratch.path() + "/", scratch.path("lock"));
    EXPECT_EQ(nvram.run(c.arguments, &out, &err), c.exit);
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(err, c.err);
    for (auto [name, data] : {std::pair{"BootOrder", c.order}, {"BootNext", c.next}}) {
      EXPECT_EQ(firmware.variables.count(name) ? firmware.variables[name].data : "none", data);
    }
    EXPECT_EQ(scratch.read("IODeviceTree/options/boot-device"), c.registry);
    EXPECT_EQ(std::filesystem::exists(once) ? scratch.read("IODeviceTree/options/boot-device-once")
                                            : "none", c.once);
  }
}

}  // namespace
}  // namespace steward::nvram
