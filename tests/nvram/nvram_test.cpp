#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <functional>

#include "nvram/Nvram.h"
#include "tests/nvram/FakeFirmware.h"
#include "tests/support/ScratchDirectory.h"

namespace steward::nvram {
namespace {

class NvramTest : public ::testing::Test {
 protected:
  // Entries 1 and 2 "debian" (2 inactive), 3, 5 "BEEF" and A "0001";
  // BootOrder 3 1 2; a stale registry value.
  void reset() {
    firmware_ = {};
    firmware_.variables = {{"Boot0001", {7, loadOption(u"debian")}},
                           {"Boot0002", {7, loadOption(u"debian", 0)}},
                           {"Boot0003", {7, loadOption(u"UEFI PXE \u00e9")}},
                           {"Boot0005", {7, loadOption(u"BEEF")}},
                           {"Boot000A", {7, loadOption(u"0001")}},
                           {"BootOrder", {7, entryNumbers({3, 1, 2})}}};
    std::filesystem::create_directories(scratch_.path("IODeviceTree/options"));
    scratch_.write("IODeviceTree/options/boot-device", "Boot0009\n");
  }
  int run(const std::vector<std::string>& arguments) {
    out_.clear(), err_.clear();
    return Nvram(firmware_, scratch_.path() + "/", scratch_.path("lock"))
        .run(arguments, &out_, &err_);
  }
  std::string data(const std::string& name) {
    auto found = firmware_.variables.find(name);
    return found == firmware_.variables.end() ? "none" : found->second.data;
  }

  ScratchDirectory scratch_;
  FakeFirmwareVariables firmware_;
  std::string out_, err_;
};

// One row per store and command line: exit status, output, refusal, and
// BootOrder, BootNext and the registry's value afterwards.
TEST_F(NvramTest, CommandLinesChangeOnlyWhatTheyName) {
  struct Case {
    std::function<void(FakeFirmwareVariables&)> setup;
    std::vector<std::string> arguments;
    int exit;
    std::string out, err, order, next = "none", registry = "Boot0009\n";
  };
  const std::string list =
      "boot-devices\tBoot0001 debian\nboot-devices\tBoot0002 debian (inactive)\n"
      "boot-devices\tBoot0003 UEFI PXE \u00e9\nboot-devices\tBoot0005 BEEF\n"
      "boot-devices\tBoot000A 0001\n";
  const std::string same = entryNumbers({3, 1, 2}), q300(300, 'q'),
                    usage = "usage: nvram -p | NAME | NAME=VALUE ...\n";
  auto order = [](std::string data) {
    return [data](FakeFirmwareVariables& f) { f.variables["BootOrder"].data = data; };
  };
  auto no = [](const std::string& name) { return "nvram: no boot entry is named \"" + name + "\"\n"; };
  const Case cases[] = {
      {{}, {"-p"}, 0, "boot-device\tBoot0003\n" + list, "", same},
      {{}, {"boot-device=Boot0001", "boot-device"}, 0, "boot-device\tBoot0001\n", "",
       entryNumbers({1, 3, 2}), "none", "Boot0001\n"},
      {{}, {"boot-device=0001"}, 0, "", "", entryNumbers({1, 3, 2}), "none", "Boot0001\n"},
      {{}, {"boot-device=boot000a"}, 0, "", "", entryNumbers({10, 3, 1, 2}), "none", "Boot000A\n"},
      {{}, {"boot-device=BEEF"}, 0, "", "", entryNumbers({5, 3, 1, 2}), "none", "Boot0005\n"},
      {{}, {"boot-device=UEFI PXE \u00e9"}, 0, "", "", same, "none", "Boot0003\n"},
      {{}, {"boot-device-once=0002", "boot-device-once"}, 0, "boot-device-once\tBoot0002\n", "",
       same, entryNumbers({2}), "Boot0003\n"},
      {{}, {"boot-device-once"}, 1, "", "nvram: boot-device-once is not set\n", same},
      {{}, {"boot-device=debian"}, 1, "",
       "nvram: \"debian\" names more than one boot entry: Boot0001 Boot0002\n", same},
      {{}, {"boot-device=" + q300}, 1, "", no(q300), same},
      {{}, {"boot-device=0002", "boot-device=0004", "boot-device=1"}, 1, "", no("0004"),
       entryNumbers({2, 3, 1}), "none", "Boot0002\n"},
      {{}, {"boot-device=uefi pxe \u00e9"}, 1, "", no("uefi pxe \u00e9"), same},
      {{}, {"boot-device=a\nb"}, 1, "", no("a?b"), same},
      {{}, {"boot-devices=0001"}, 1, "", "nvram: boot-devices cannot be set\n", same},
      {{}, {"color=red"}, 1, "", "nvram: \"color\" is not a variable nvram knows\n", same},
      {{}, {}, 2, "", usage, same},
      {{}, {"boot-device=0001", "-d", "boot-device"}, 2, "", usage, same},
      {order("\x01"), {"boot-device=0001"}, 1, "",
       "nvram: BootOrder is malformed: an odd number of bytes\n", "\x01"},
      {order(entryNumbers({2, 1, 2})), {"boot-device=0002"}, 0, "", "", entryNumbers({2, 1}),
       "none", "Boot0002\n"},
      {[](auto& f) { f.variables.erase("BootOrder"); }, {"boot-device"}, 1, "",
       "nvram: boot-device is not set: BootOrder is empty\n", "none"},
      {[](auto& f) { f.variables.erase("BootOrder"); }, {"boot-device-once=3"}, 1, "", no("3"),
       "none"},
      {order(""), {"boot-device-once=0003"}, 0, "", "", "", entryNumbers({3}), ""},
      // Not offered: cut short, no terminator, a path list past the end.
      {[](auto& f) {
         f.variables = {{"Boot0004", {7, loadOption(u"short").substr(0, 5)}},
                        {"Boot0005", {7, loadOption(u"open").substr(0, 14)}},
                        {"Boot0006", {7, loadOption(u"long").replace(4, 1, "\x09")}}};
       },
       {"boot-devices", "boot-device=0004", "boot-device=0005", "boot-device=0006"}, 1, "",
       no("0004"), "none"},
      // What is printed selects the same entry, control characters and all.
      {[](auto& f) { f.variables = {{"Boot00AB", {7, loadOption(u"a\tb\u0085")}}}; },
       {"boot-devices", "boot-device=a?b?", "boot-device"}, 0,
       "boot-devices\tBoot00AB a?b?\nboot-device\tBoot00AB\n", "", entryNumbers({0xAB}), "none",
       "Boot00AB\n"},
      {[](auto& f) { f.present = false; }, {"-p"}, 1, "",
       "nvram: this machine has no UEFI variables\n", same},
      {[](auto& f) { f.readOnly = true; }, {"boot-device=0001"}, 1, "",
       "nvram: cannot write BootOrder: Read-only file system\n", same},
      {[](auto& f) { f.readOnly = true; }, {"boot-device=0003"}, 0, "", "", same, "none",
       "Boot0003\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    reset();
    if (c.setup) c.setup(firmware_);
    EXPECT_EQ(run(c.arguments), c.exit);
    EXPECT_EQ(out_, c.out);
    EXPECT_EQ(err_, c.err);
    EXPECT_EQ(data("BootOrder"), c.order);
    EXPECT_EQ(data("BootNext"), c.next);
    EXPECT_EQ(scratch_.read("IODeviceTree/options/boot-device"), c.registry);
  }
}

// A second run refuses to change while the first holds the lock; reading goes on.
TEST_F(NvramTest, ChangesRefuseWhileAnotherRunHoldsTheLock) {
  reset();
  int held = open(scratch_.path("lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  EXPECT_EQ(run({"boot-device=0001"}), 1);
  EXPECT_EQ(err_, "nvram: another nvram is changing the firmware's variables\n");
  EXPECT_EQ(run({"boot-device"}), 0);
  EXPECT_EQ(out_, "boot-device\tBoot0003\n");
  close(held);
  EXPECT_EQ(run({"boot-device=0001"}), 0);
}

}  // namespace
}  // namespace steward::nvram
