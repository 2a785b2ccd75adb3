#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "machreport/Command.h"
#include "machreport/MemoryDevice.h"
#include "machreport/Pci.h"
#include "machreport/Sensors.h"
#include "machreport/Sources.h"
#include "platform/PropertyList.h"
#include "tests/support/ValueBuilders.h"

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
    write("/sys/firmware/dmi/entries/17-3/raw", memoryRecord().substr(0, 0x14));
    write("/sys/firmware/dmi/entries/17-2/raw", "\x11\x30garbage");
    write("/sys/firmware/dmi/entries/17-10/raw", memoryRecord(0));
    const std::pair<const char*, const char*> disk[] = {
        {"size", "2048"}, {"dev", "8:0"}, {"device/model", "KDisk"},
        {"queue/rotational", "0"}, {"sda1/partition", "1"}, {"sda1/size", "1024"},
        {"sda1/dev", "8:1"}};
    for (const auto& [file, value] : disk)
      write(std::string("/sys/devices/pci0000:00/0000:00:1f.2/ata1/block/sda/") + file,
            value + std::string("\n"));
    write("/sys/block/loop0/size", "8\n");
    write("/sys/class/net/eth\xff" "0/address", "02:00:00:00:00:01\x1b\n");
    write("/sys/class/net/lo/address", "00:00:00:00:00:00\n");
    write("/etc/os-release", "NAME=x\nPRETTY_NAME=\"Kestrel OS 1\"\n");
    write("/sys/firmware/efi/efivars/SecureBoot-8be4df61-93ca-11d2-aa0d-"
          "00e098032b8c", std::string("\x06\0\0\0\x01", 5));
    for (int cpu = 0; cpu < 8; ++cpu) {  // L1d per core, L3 per socket
      std::string cache = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/cache/";
      write(cache + "index0/shared_cpu_list", std::to_string(cpu / 2 * 2) + "-" +
                                              std::to_string(cpu / 2 * 2 + 1));
      write(cache + "index3/shared_cpu_list", cpu < 4 ? "0-3\n" : "4-7\n");
    }
    const std::pair<const char*, const char*> caches[] = {
        {"index0/level", "1"}, {"index0/type", "Data"}, {"index0/size", "48K"},
        {"index3/level", "3"}, {"index3/type", "Unified"}, {"index3/size", "32768K"}};
    for (const auto& [file, value] : caches)
      write(std::string("/sys/devices/system/cpu/cpu0/cache/") + file, value);
    fs::create_symlink("../devices/pci0000:00/0000:00:1f.2/ata1/block/sda",
                       root_ + "/sys/block/sda");
    // A serial number only udev knows, and a file system on the partition.
    write("/run/udev/data/b8:0", "S:disk/by-id/x\nE:ID_SERIAL_SHORT=WD-\x01 9\n");
    write("/run/udev/data/b8:1", "E:ID_FS_TYPE=ext4\n");
    const std::pair<const char*, const char*> pci[] = {
        {"0000:00:1f.2/vendor", "0x8086"}, {"0000:00:1f.2/device", "0x2922"},
        {"0000:00:1f.2/class", "0x010601"}, {"0000:00:1f.2/subsystem_vendor", "0x1af4"},
        {"0000:00:1f.2/subsystem_device", "0x1100"}, {"0000:00:1f.2/revision", "0x02"},
        {"0000:00:1f.2/current_link_speed", "8.0 GT/s PCIe"},
        {"0000:00:1f.2/current_link_width", "4"}, {"0000:00:1f.2/numa_node", "-1"},
        {"0000:00:00.0/vendor", "0x8086"}, {"0000:00:00.0/device", "0xfff0"},
        {"0000:00:00.0/class", "0x060000"}, {"0000:00:03.0/vendor", "zz"}};
    for (const auto& [file, value] : pci)
      write(std::string("/sys/bus/pci/devices/") + file, value + std::string("\n"));
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
  L1d Cache: 48K (4 instances)
  L3 Cache: 32768K (2 instances)
)"},
      {memorySection, Detail::kBasic, "Memory:\n  Total: 16777216 bytes (0.0 GB)\n"},
      {memorySection, Detail::kUsual, R"(Memory:
  Total: 16777216 bytes (0.0 GB)
  Slots: 2 of 3 in use
  DIMM_A1:
    Bank: BANK 0
    Size: 8589934592 bytes (8.6 GB)
    Type: DDR4
    Speed: 3200 MT/s
    Manufacturer: Hynix
    Part Number: HMA81
  17-3:
    Size: 8589934592 bytes (8.6 GB)
    Type: DDR4
  DIMM_A1:
    Bank: BANK 0
    Size: empty
    Type: DDR4
    Speed: 3200 MT/s
    Manufacturer: Hynix
    Part Number: HMA81
)"},
      {storageSection, Detail::kBasic, "Storage:\n  sda:\n    Size: 1048576 bytes (0.0 GB)\n"},
      {storageSection, Detail::kFull, R"(Storage:
  sda:
    Size: 1048576 bytes (0.0 GB)
    Model: KDisk
    Serial Number: WD-? 9
    Transport: SATA
    Rotational: no
    Partitions: sda1 524288 bytes (0.0 GB) ext4
)"},
      {networkSection, Detail::kBasic, "Network:\n  eth?0:\n    MAC Address: 02:00:00:00:00:01?\n"},
      {firmwareSection, Detail::kBasic, "Firmware:\n  Boot Mode: UEFI\n  Secure Boot: enabled\n"},
      {pciSection, Detail::kFull, R"(PCI Devices:
  0000:00:00.0:
    Class: Host bridge
    Vendor: Intel Corporation
    Device: Device fff0
    IDs: 8086:fff0
  0000:00:1f.2:
    Class: SATA controller
    Vendor: Intel Corporation
    Device: 82801IR/IO/IH (ICH9R/DO/DH) 6 port SATA Controller [AHCI mode]
    Subsystem: Red Hat, Inc. QEMU Virtual Machine
    IDs: 8086:2922 (subsystem 1af4:1100)
    Revision: 2
    Link: 8.0 GT/s PCIe x4
)"},
      {softwareSection, Detail::kBasic, "Software:\n  System: Kestrel OS 1\n"},
  };
  // clang-format on
  for (const Case& c : cases) {
    EXPECT_EQ(formatText({c.source(FileTree(root_), c.detail)}), c.text);
  }
}

TEST(Sensors, TheSummaryGrowsWithTheLevel) {
  auto fan = dictionaryOf({{"chip", makeString("nct-isa")}, {"label", makeString("fan1")},
                           {"kind", makeString("fan")}, {"unit", makeString("RPM")},
                           {"value", makeReal(1200.25)}, {"min", makeInteger(300)},
                           {"alarm", makeBoolean(true)}});
  auto status = dictionaryOf(
      {{"Health", makeString("warning")},
       {"Sensors", arrayOf({fan, makeString("stray")})},
       {"PowerSupplies", arrayOf({dictionaryOf({{"name", makeString("PSU1")},
                                                {"online", makeBoolean(false)}})})},
       {"ServiceLight", dictionaryOf({{"Available", makeBoolean(true)},
                                      {"On", makeBoolean(true)}})}});
  const std::pair<Detail, const char*> cases[] = {
      {Detail::kBasic, "Sensors:\n  Health: warning\n"},
      {Detail::kFull, R"(Sensors:
  Health: warning
  Count: 1 (1 fan)
  Alarms: nct-isa fan1
  Power Supplies: PSU1 offline
  Service Light: on
  nct-isa fan1:
    Value: 1200.2 RPM
    Minimum: 300.0 RPM
    Alarm: yes
)"}};
  for (const auto& [detail, text] : cases)
    EXPECT_EQ(formatText({summarizeStatus(*status, detail)}), text);
  EXPECT_EQ(formatText({summarizeStatus(*dictionaryOf({}), Detail::kFull)}),
            "Sensors:\n  Count: 0\n");
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
  ASSERT_EQ(modules->count(), 3u);
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
            "\n\nNetwork:\n\nPCI Devices:\n\nSoftware:\n\nManagement Controller:\n\nSensors:\n");
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
