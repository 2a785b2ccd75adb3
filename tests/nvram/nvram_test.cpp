#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <functional>

#include "nvram/BootChoice.h"
#include "nvram/Nvram.h"
#include "tests/nvram/FakeFirmware.h"
#include "tests/support/ScratchDirectory.h"

namespace steward::nvram {
namespace {

TEST(BootChoice, NumbersComeFirstAndDescriptionsMustBeUnique) {
  const std::vector<BootEntry> entries = {{1, "debian", true}, {2, "debian", false},
                                          {3, "UEFI PXE", true}, {5, "BEEF", true},
                                          {10, "0001", true}};
  const std::pair<std::string, std::variant<int, std::string>> cases[] = {
      {"Boot0003", 3}, {"0003", 3}, {"boot000a", 10}, {"BOOT000A", 10}, {"UEFI PXE", 3},
      {"0001", 1},  // a number before a description that reads like one
      {"BEEF", 5},  // no entry BEEF: the description
      {"debian", "\"debian\" names more than one boot entry: Boot0001 Boot0002"},
      {"0009", "no boot entry is named \"0009\""},
      {"Boot0003 ", "no boot entry is named \"Boot0003 \""},
      {"Boot003", "no boot entry is named \"Boot003\""},
      {"uefi pxe", "no boot entry is named \"uefi pxe\""},
      {"", "no boot entry is named \"\""},
      {"a\nb", "no boot entry is named \"a?b\""},
  };
  for (const auto& [name, expected] : cases) {
    std::string error;
    auto number = resolveBootEntry(entries, name, &error);
    if (const int* wanted = std::get_if<int>(&expected)) {
      EXPECT_EQ(number, *wanted) << name;
    } else {
      EXPECT_EQ(number, std::nullopt) << name;
      EXPECT_EQ(error, std::get<std::string>(expected));
    }
  }
}

TEST(BootChoice, MovingKeepsTheOthersInOrder) {
  using Order = std::vector<std::uint16_t>;
  const std::tuple<Order, std::uint16_t, Order> cases[] = {
      {{3, 1, 2}, 1, {1, 3, 2}}, {{3, 1, 2}, 3, {3, 1, 2}}, {{3, 1, 2}, 2, {2, 3, 1}},
      {{}, 5, {5}},              {{1, 2}, 9, {9, 1, 2}},    {{2, 1, 2}, 2, {2, 1}},
  };
  for (const auto& [order, number, moved] : cases) EXPECT_EQ(movedToFront(order, number), moved);
}

class NvramTest : public ::testing::Test {
 protected:
  NvramTest() { reset(); }
  // Three entries, the second inactive, BootOrder 3 1 2, no registry value.
  void reset() {
    firmware_ = {};
    firmware_.variables = {{"Boot0001", {7, loadOption(u"debian")}},
                           {"Boot0002", {7, loadOption(u"debian", 0)}},
                           {"Boot0003", {7, loadOption(u"UEFI PXE \u00e9")}},
                           {"BootOrder", {7, entryNumbers({3, 1, 2})}}};
    std::filesystem::remove_all(scratch_.path("IODeviceTree"));
  }
  int run(const std::vector<std::string>& arguments) {
    out_.clear(), err_.clear();
    return Nvram(firmware_, scratch_.path() + "/", scratch_.path("lock")).run(arguments, &out_,
                                                                              &err_);
  }
  std::string published() { return scratch_.read("IODeviceTree/options/boot-device"); }
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
  using Setup = std::function<void(FakeFirmwareVariables&)>;
  struct Case {
    Setup setup;
    std::vector<std::string> arguments;
    int exit;
    std::string out, err, order, next = "none", registry = "";
  };
  const std::string list =
      "boot-devices\tBoot0001 debian\nboot-devices\tBoot0002 debian (inactive)\n"
      "boot-devices\tBoot0003 UEFI PXE \u00e9\n";
  const std::string unchanged = entryNumbers({3, 1, 2}), usage =
      "usage: nvram -p | NAME | NAME=VALUE ...\n";
  auto orderData = [](std::string data) {
    return [data](FakeFirmwareVariables& f) { f.variables["BootOrder"].data = data; };
  };
  const Case cases[] = {
      {{}, {"-p"}, 0, "boot-device\tBoot0003\n" + list, "", unchanged},
      {{}, {"boot-device", "boot-devices"}, 0, "boot-device\tBoot0003\n" + list, "", unchanged},
      {{}, {"boot-device=Boot0001", "boot-device"}, 0, "boot-device\tBoot0001\n", "",
       entryNumbers({1, 3, 2}), "none", "Boot0001\n"},
      {{}, {"boot-device=UEFI PXE \u00e9"}, 0, "", "", unchanged, "none", "Boot0003\n"},
      {{}, {"boot-device-once=0002", "-p"}, 0,
       "boot-device\tBoot0003\nboot-device-once\tBoot0002\n" + list, "", unchanged,
       entryNumbers({2}), "Boot0003\n"},
      {{}, {"boot-device-once"}, 1, "", "nvram: boot-device-once is not set\n", unchanged},
      {{}, {"boot-device=debian"}, 1, "",
       "nvram: \"debian\" names more than one boot entry: Boot0001 Boot0002\n", unchanged},
      {{}, {"boot-device=" + std::string(300, 'q')}, 1, "",
       "nvram: no boot entry is named \"" + std::string(300, 'q') + "\"\n", unchanged},
      // In order, up to the first refusal.
      {{}, {"boot-device=0002", "boot-device=0004", "boot-device=0001"}, 1, "",
       "nvram: no boot entry is named \"0004\"\n", entryNumbers({2, 3, 1}), "none",
       "Boot0002\n"},
      {{}, {"boot-devices=0001"}, 1, "", "nvram: boot-devices cannot be set\n", unchanged},
      {{}, {"color=red"}, 1, "", "nvram: \"color\" is not a variable nvram knows\n", unchanged},
      {{}, {}, 2, "", usage, unchanged},
      {{}, {"boot-device=0001", "-d", "boot-device"}, 2, "", usage, unchanged},
      {{}, {"boot-device=0001", ""}, 2, "", usage, unchanged},
      {orderData("\x01"), {"boot-device=0001"}, 1, "",
       "nvram: BootOrder is malformed: an odd number of bytes\n", "\x01"},
      {[](auto& f) { f.variables.erase("BootOrder"); }, {"boot-device"}, 1, "",
       "nvram: boot-device is not set: BootOrder is empty\n", "none"},
      {[](auto& f) { f.variables.erase("BootOrder"); }, {"boot-device=3"}, 1, "",
       "nvram: no boot entry is named \"3\"\n", "none"},
      {[](auto& f) { f.variables.erase("BootOrder"); }, {"boot-device=0003"}, 0, "", "",
       entryNumbers({3}), "none", "Boot0003\n"},
      // Malformed entries are not offered: cut short, no terminator, a
      // path list longer than the option.
      {[](auto& f) {
         f.variables["Boot0004"] = {7, loadOption(u"short").substr(0, 5)};
         f.variables["Boot0005"] = {7, loadOption(u"open").substr(0, 14)};
         f.variables["Boot0006"] = {7, loadOption(u"long")};
         f.variables["Boot0006"].data[4] = 9;
       },
       {"boot-device=0004", "boot-device=0005", "boot-device=0006"}, 1, "",
       "nvram: no boot entry is named \"0004\"\n", unchanged},
      // What is printed selects the same entry, control characters and all.
      {[](auto& f) { f.variables = {{"Boot00AB", {7, loadOption(u"a\tb\u0085")}}}; },
       {"boot-devices", "boot-device=a?b?", "boot-device"}, 0,
       "boot-devices\tBoot00AB a?b?\nboot-device\tBoot00AB\n", "", entryNumbers({0xAB}), "none",
       "Boot00AB\n"},
      {[](auto& f) { f.present = false; }, {"-p"}, 1, "",
       "nvram: this machine has no UEFI variables\n", unchanged},
      {[](auto& f) { f.readOnly = true; }, {"boot-device=0001"}, 1, "",
       "nvram: cannot write BootOrder: Read-only file system\n", unchanged},
      {[](auto& f) { f.readOnly = true; }, {"boot-device=0003"}, 0, "", "", unchanged, "none",
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
    EXPECT_EQ(published(), c.registry);
  }
}

// A stale value goes whenever there is no boot device to show.
TEST_F(NvramTest, RegistryShowsTheBootDeviceOrNothing) {
  using Setup = std::function<void(FakeFirmwareVariables&)>;
  const std::pair<Setup, std::string> cases[] = {
      {[](auto&) {}, "Boot0003\n"},
      {[](auto& f) { f.variables.erase("BootOrder"); }, ""},
      {[](auto& f) { f.variables["BootOrder"].data.clear(); }, ""},
      {[](auto& f) { f.variables["BootOrder"].data = "\x03"; }, ""},
      {[](auto& f) { f.present = false; }, ""},
  };
  for (const auto& [setup, expected] : cases) {
    reset();
    setup(firmware_);
    std::filesystem::create_directories(scratch_.path("IODeviceTree/options"));
    scratch_.write("IODeviceTree/options/boot-device", "Boot0009\n");
    std::string error;
    EXPECT_TRUE(publishBootDevice(firmware_, scratch_.path() + "/", &error)) << error;
    EXPECT_EQ(published(), expected);
  }
}

// Changes wait for nobody: a second run refuses while the first holds the
// lock, and reading goes on.
TEST_F(NvramTest, ChangesRefuseWhileAnotherRunHoldsTheLock) {
  int held = open(scratch_.path("lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  EXPECT_EQ(run({"boot-device=0001"}), 1);
  EXPECT_EQ(err_, "nvram: another nvram is changing the firmware's variables\n");
  EXPECT_EQ(run({"boot-device"}), 0);
  EXPECT_EQ(out_, "boot-device\tBoot0003\n");
  close(held);
  EXPECT_EQ(run({"boot-device=0001"}), 0);
  EXPECT_EQ(data("BootOrder"), entryNumbers({1, 3, 2}));
}

}  // namespace
}  // namespace steward::nvram
