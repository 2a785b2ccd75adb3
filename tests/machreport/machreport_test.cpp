#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "machreport/Command.h"
#include "machreport/MemoryDevice.h"
#include "machreport/Sources.h"
#include "platform/PropertyList.h"

namespace steward::machreport {
namespace {

namespace fs = std::filesystem;

// A memory-device record: 8 GiB DDR4 at 3200 MT/s unless told otherwise,
// its four strings after the formatted area.
std::string memoryRecord(std::uint16_t size = 8192, std::uint8_t type = 0x1A,
                         std::vector<std::string> strings = {
                             "DIMM_A1", "BANK 0", "Hynix", "HMA81"}) {
  std::string raw(0x28, '\0');
  raw[0] = 17, raw[1] = 0x28, raw[0x0C] = char(size & 0xFF),
  raw[0x0D] = char(size >> 8);
  raw[0x10] = 1, raw[0x11] = 2, raw[0x12] = char(type), raw[0x15] = char(0x80),
  raw[0x16] = 0x0C;
  raw[0x17] = 3, raw[0x1A] = 4, raw[0x1C] = 0, raw[0x1D] = 0,
  raw[0x1E] = 1;  // extended: 64 GiB
  for (const std::string& text : strings) raw += text + '\0';
  return raw + '\0';
}

TEST(MemoryDevice, ReadsWhatTheBytesHoldAndNothingPast) {
  struct Case {
    std::string raw;
    bool parsed;
    std::uint64_t size;
    std::string type, locator, part;
  };
  std::string good = memoryRecord();
  std::string noTerminator =
      memoryRecord().substr(0, 0x28 + 10);  // "DIMM_A1\0BA"
  std::string badIndex = good;
  badIndex[0x17] = 9;
  const Case cases[] = {
      {good, true, 8ull << 30, "DDR4", "DIMM_A1", "HMA81"},
      {memoryRecord(0x7FFF), true, 64ull << 30, "DDR4", "DIMM_A1", "HMA81"},
      {memoryRecord(0x8000 | 512, 0x22), true, 512ull << 10, "DDR5", "DIMM_A1",
       "HMA81"},
      {memoryRecord(0xFFFF, 0x99), true, 0, "", "DIMM_A1", "HMA81"},
      {good.substr(0, 0x14), true, 8ull << 30, "DDR4", "",
       ""},  // strings cut off
      {noTerminator, true, 8ull << 30, "DDR4", "DIMM_A1", ""},
      {good.substr(0, 0x11), false, 0, "", "", ""},
      {"\x10" + good.substr(1), false, 0, "", "", ""},
      {"", false, 0, "", "", ""},
  };
  for (const Case& c : cases) {
    auto device = parseMemoryDevice(c.raw);
    ASSERT_EQ(device.has_value(), c.parsed) << c.raw.size();
    if (!device) continue;
    EXPECT_EQ(device->sizeBytes, c.size);
    EXPECT_EQ(device->type, c.type);
    EXPECT_EQ(device->locator, c.locator);
    EXPECT_EQ(device->partNumber, c.part);
  }
  EXPECT_EQ(parseMemoryDevice(good)->speedMTs, 3200u);
  EXPECT_EQ(parseMemoryDevice(badIndex)->manufacturer, "");
  EXPECT_FALSE(parseMemoryDevice(memoryRecord(0))->installed);
}

TEST(Printable, ReplacesWhatATextReplyCannotCarry) {
  const std::pair<std::string, std::string> cases[] = {
      {"  plain text \t", "plain text ?"},
      {"a\x01"
       "b\x7f",
       "a?b?"},
      {"\xc3\xa9t\xc3", "\xc3\xa9t?"},  // é kept, a cut sequence replaced
      {"\xc0\xaf\xff", "???"},          // overlong, never-valid
      {"\xc2\x85\xef\xbf\xbe", "??"},   // C1 control, U+FFFE
      {"\xf0\x9f\x90\xa6", "\xf0\x9f\x90\xa6"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(printable(in), out);
}

class FakeMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/machreport_test.XXXXXX";
    root_ = mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(root_); }
  void write(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(root_ + path).parent_path());
    std::ofstream(root_ + path, std::ios::binary) << bytes;
  }
  void populate() {
    const std::pair<const char*, const char*> dmi[] = {
        {"sys_vendor", "Kestrel Systems\n"},
        {"product_name", "KS\x01-2000\xff\n"},
        {"product_serial", "SN123\n"},
        {"chassis_type", "23\n"},
        {"board_vendor", "Kestrel\n"},
        {"board_name", "KB-1\n"},
        {"board_version", "\n"},
        {"chassis_asset_tag", "AT-9\n"}};
    for (const auto& [name, value] : dmi)
      write(std::string("/sys/class/dmi/id/") + name, value);
    std::string cpuinfo;
    for (int cpu = 0; cpu < 8; ++cpu) {
      cpuinfo += "processor\t: " + std::to_string(cpu) +
                 "\nmodel name\t: Kestrel K9\nphysical id\t: " +
                 std::to_string(cpu / 4) +
                 "\ncore id\t\t: " + std::to_string(cpu % 4 / 2) +
                 "\ncpu MHz\t\t: 1200.5\nflags\t\t: fpu sse\n\n";
    }
    write("/proc/cpuinfo", cpuinfo);
    write("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", "3500000\n");
    write("/proc/meminfo",
          "MemTotal:       16384 kB\nMemFree:         100 kB\n");
    write("/sys/firmware/dmi/entries/17-0/raw", memoryRecord());
    write("/sys/firmware/dmi/entries/17-1/raw", memoryRecord().substr(0, 0x14));
    write("/sys/firmware/dmi/entries/17-2/raw", "\x11\x30garbage");
    write("/sys/block/sda/size", "2048\n");
    write("/sys/block/sda/device/model", "KDisk\n");
    write("/sys/block/sda/queue/rotational", "0\n");
    write("/sys/block/sda/sda1/partition", "1\n");
    write("/sys/block/sda/sda1/size", "1024\n");
    write("/sys/block/loop0/size", "8\n");
    write("/sys/class/net/eth\xff" "0/address", "02:00:00:00:00:01\x1b\n");
    write("/sys/class/net/lo/address", "00:00:00:00:00:00\n");
    write("/etc/os-release", "NAME=x\nPRETTY_NAME=\"Kestrel OS 1\"\n");
  }
  std::string root_;
};

TEST_F(FakeMachine, EachLevelTellsMore) {
  populate();
  struct Case {
    Section (*source)(const FileTree&, Detail);
    Detail detail;
    const char* text;
  };
  // clang-format off
  const Case cases[] = {
      {hardwareSection, Detail::kBasic, R"(Hardware:
  Vendor: Kestrel Systems
  Product: KS?-2000?
)"},
      {hardwareSection, Detail::kFull, R"(Hardware:
  Vendor: Kestrel Systems
  Product: KS?-2000?
  Serial Number: SN123
  Chassis: Rack Mount Chassis
  Board Vendor: Kestrel
  Board: KB-1
  Chassis Asset Tag: AT-9
)"},
      {processorsSection, Detail::kUsual, R"(Processors:
  Model: Kestrel K9
  Sockets: 2
  Cores: 4
  Threads: 8
  Speed: 3500 MHz
)"},
      {memorySection, Detail::kBasic, "Memory:\n  Total: 16777216 bytes (0.0 GB)\n"},
      {memorySection, Detail::kUsual, R"(Memory:
  Total: 16777216 bytes (0.0 GB)
  DIMM_A1:
    Bank: BANK 0
    Size: 8589934592 bytes (8.6 GB)
    Type: DDR4
    Speed: 3200 MT/s
    Manufacturer: Hynix
    Part Number: HMA81
  17-1:
    Size: 8589934592 bytes (8.6 GB)
    Type: DDR4
)"},
      {storageSection, Detail::kBasic, "Storage:\n  sda:\n    Size: 1048576 bytes (0.0 GB)\n"},
      {storageSection, Detail::kFull, R"(Storage:
  sda:
    Size: 1048576 bytes (0.0 GB)
    Model: KDisk
    Rotational: no
    Partitions: sda1 524288 bytes (0.0 GB)
)"},
      {networkSection, Detail::kBasic, "Network:\n  eth?0:\n    MAC Address: 02:00:00:00:00:01?\n"},
      {firmwareSection, Detail::kBasic, "Firmware:\n  Boot Mode: Legacy BIOS\n"},
      {softwareSection, Detail::kBasic, "Software:\n  System: Kestrel OS 1\n"},
  };
  // clang-format on
  for (const Case& c : cases) {
    EXPECT_EQ(formatText({c.source(FileTree(root_), c.detail)}), c.text);
  }
}

TEST_F(FakeMachine, TheXmlFormHoldsTheSameValues) {
  populate();
  std::string out, err, error;
  ASSERT_EQ(
      runMachreport({"-xml", "-root", root_, "-detailLevel", "-1"}, &out, &err),
      0)
      << err;
  auto root = std::dynamic_pointer_cast<Dictionary>(
      propertyListFromData(out, Mutability::kImmutable, nullptr, &error));
  ASSERT_TRUE(root) << error;
  auto string = [](const ValueRef& value) { return textOf(value); };
  auto section = [&](const char* name) {
    return std::dynamic_pointer_cast<Dictionary>(root->objectForKey(name));
  };
  EXPECT_EQ(string(section("Hardware")->objectForKey("Product")), "KS?-2000?");
  EXPECT_EQ(string(section("Processors")->objectForKey("Flags")), "fpu sse");
  auto modules = std::dynamic_pointer_cast<Array>(
      section("Memory")->objectForKey("Modules"));
  ASSERT_EQ(modules->count(), 2u);
  auto first = std::dynamic_pointer_cast<Dictionary>(modules->objectAtIndex(0));
  EXPECT_EQ(string(first->objectForKey("Locator")), "DIMM_A1");
  EXPECT_EQ(string(first->objectForKey("Speed")), "3200 MT/s");
  auto network =
      std::dynamic_pointer_cast<Array>(root->objectForKey("Network"));
  ASSERT_EQ(network->count(), 1u);
  EXPECT_EQ(
      string(std::dynamic_pointer_cast<Dictionary>(network->objectAtIndex(0))
                 ->objectForKey("Name")),
      "eth?0");
}

TEST_F(FakeMachine, AnEmptyMachineStillHasAProfile) {
  std::string out, err;
  EXPECT_EQ(runMachreport({"-root", root_, "-detailLevel", "-1"}, &out, &err),
            0);
  EXPECT_EQ(out,
            "Hardware:\n\nFirmware:\n\nProcessors:\n\nMemory:\n\nStorage:"
            "\n\nNetwork:\n\nSoftware:\n\nManagement Controller:\n");
  EXPECT_EQ(runMachreport({"-root", root_ + "/missing", "-xml"}, &out, &err),
            0);
}

TEST(Command, RefusesBadArgumentsAndRunsOnThisMachine) {
  const std::vector<std::string> bad[] = {
      {"-detailLevel"}, {"-detailLevel", "2"}, {"-detailLevel", "x"},
      {"-root"},        {"-root", ""},         {"-v"}};
  for (const auto& arguments : bad) {
    std::string out, err;
    EXPECT_EQ(runMachreport(arguments, &out, &err), kExitUsage);
    EXPECT_EQ(err,
              "usage: machreport [-detailLevel 0|1|-1] [-xml] [-root DIR]\n");
    EXPECT_EQ(out, "");
  }
  std::string out, err, error;
  ASSERT_EQ(runMachreport({"-detailLevel", "-1", "-xml"}, &out, &err), 0)
      << err;
  EXPECT_TRUE(
      propertyListFromData(out, Mutability::kImmutable, nullptr, &error))
      << error;
}

}  // namespace
}  // namespace steward::machreport
