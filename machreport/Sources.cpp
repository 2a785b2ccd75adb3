#include "machreport/Sources.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "machreport/ManagementControllerSection.h"
#include "machreport/MemoryDevice.h"
#include "machreport/Pci.h"
#include "machreport/Sensors.h"

namespace steward::machreport {

namespace {

constexpr std::string_view kDmi = "/sys/class/dmi/id/";

std::string dmi(const FileTree& tree, std::string_view name) {
  return tree.value(std::string(kDmi) + std::string(name));
}

// "17179869184 bytes (17.2 GB)": exact for diffs, readable for people.
std::string bytesText(std::uint64_t bytes) {
  char text[64];
  std::snprintf(text, sizeof text, "%llu bytes (%.1f GB)",
                static_cast<unsigned long long>(bytes),
                static_cast<double>(bytes) / 1e9);
  return text;
}

// A whole number of at most 18 digits (so no overflow), or none.
std::optional<std::uint64_t> decimal(const std::string& text) {
  if (text.empty() || text.size() > 18 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return std::stoull(text);
}

std::string chassisName(const std::string& code) {
  // clang-format off
  static constexpr std::array<const char*, 37> kNames = {
      "", "Other", "Unknown", "Desktop", "Low Profile Desktop", "Pizza Box",
      "Mini Tower", "Tower", "Portable", "Laptop", "Notebook", "Hand Held",
      "Docking Station", "All in One", "Sub Notebook", "Space-saving",
      "Lunch Box", "Main Server Chassis", "Expansion Chassis", "SubChassis",
      "Bus Expansion Chassis", "Peripheral Chassis", "RAID Chassis",
      "Rack Mount Chassis", "Sealed-case PC", "Multi-system Chassis",
      "Compact PCI", "Advanced TCA", "Blade", "Blade Enclosure", "Tablet",
      "Convertible", "Detachable", "IoT Gateway", "Embedded PC", "Mini PC",
      "Stick PC"};
  // clang-format on
  auto number = decimal(code);
  return number && *number > 0 && *number < kNames.size() ? kNames[*number]
                                                          : code;
}

// "key : value" lines of /proc/cpuinfo; a blank line ends a processor.
std::vector<std::map<std::string, std::string>> cpuinfoBlocks(
    const std::string& text) {
  std::vector<std::map<std::string, std::string>> blocks(1);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) {
      if (!blocks.back().empty()) blocks.emplace_back();
      continue;
    }
    std::string key = line.substr(0, colon);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
      key.pop_back();
    std::size_t start = line.find_first_not_of(' ', colon + 1);
    blocks.back()[key] = start == std::string::npos ? "" : line.substr(start);
  }
  if (blocks.back().empty()) blocks.pop_back();
  return blocks;
}

std::string withUnit(std::uint64_t number, const char* unit) {
  return number == 0 ? "" : std::to_string(number) + unit;
}

// The memory-device entries ("17-N") in the firmware's order: by N as a
// number, so that "17-10" follows "17-9".
std::vector<std::string> memoryEntries(const FileTree& tree) {
  std::vector<std::pair<std::uint64_t, std::string>> numbered;
  for (std::string& entry : tree.list("/sys/firmware/dmi/entries"))
    if (entry.rfind("17-", 0) == 0)
      numbered.emplace_back(decimal(entry.substr(3)).value_or(UINT64_MAX),
                            std::move(entry));
  std::sort(numbered.begin(), numbered.end());
  std::vector<std::string> entries;
  for (auto& [number, entry] : numbered) entries.push_back(std::move(entry));
  return entries;
}

void addMemoryModules(const FileTree& tree, Section* section) {
  int slots = 0, used = 0;
  for (const std::string& entry : memoryEntries(tree)) {
    auto raw = tree.read("/sys/firmware/dmi/entries/" + entry + "/raw", 4096);
    if (!raw) continue;
    auto device = parseMemoryDevice(*raw);
    if (!device) continue;
    Item item{printable(device->locator), {}};
    if (item.title.empty()) item.title = printable(entry);
    section->add(&item.fields, "Bank", device->bankLocator);
    section->add(&item.fields, "Size",
                 !device->installed  ? "empty"
                 : device->sizeBytes ? bytesText(device->sizeBytes)
                                     : "unknown");
    section->add(&item.fields, "Type", device->type);
    section->add(&item.fields, "Speed", withUnit(device->speedMTs, " MT/s"));
    section->add(&item.fields, "Manufacturer", device->manufacturer);
    section->add(&item.fields, "Part Number", device->partNumber);
    section->items.push_back(std::move(item));
    ++slots;
    used += device->installed;
  }
  if (slots > 0)
    section->add("Slots", std::to_string(used) + " of " +
                              std::to_string(slots) + " in use");
}

std::uint64_t sectors(const FileTree& tree, const std::string& path) {
  // Sectors of 512 bytes, whatever the device's own block size; a count
  // too large for bytes in 64 bits is not believed.
  std::uint64_t count = decimal(tree.value(path + "/size")).value_or(0);
  return count < std::uint64_t{1} << 54 ? count : 0;
}

void addAddresses(const std::string& name, Section* section, Item* item) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return;
  std::vector<std::string> addresses;
  for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || name != entry->ifa_name) continue;
    int family = entry->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    char host[NI_MAXHOST];
    socklen_t length =
        family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    if (::getnameinfo(entry->ifa_addr, length, host, sizeof host, nullptr, 0,
                      NI_NUMERICHOST) == 0) {
      addresses.push_back(host);
    }
  }
  ::freeifaddrs(list);
  std::string joined;
  for (const std::string& address : addresses)
    joined += (joined.empty() ? "" : ", ") + address;
  section->add(&item->fields, "Addresses", joined);
}

// SecureBoot holds four attribute bytes, then one byte: 1 when enforced.
std::string secureBootState(const FileTree& tree) {
  auto bytes = tree.read(
      "/sys/firmware/efi/efivars/"
      "SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c",
      16);
  if (!bytes || bytes->size() != 5) return {};
  return (*bytes)[4] == 1 ? "enabled" : (*bytes)[4] == 0 ? "disabled" : "";
}

// "L2 Cache: 1024K (4 instances)" per cache of cpu0: its size once and how
// many distinct groups of processors share one such cache.
void addCaches(const FileTree& tree, Section* section) {
  constexpr std::string_view kCpus = "/sys/devices/system/cpu/";
  std::vector<std::string> cpus;
  for (const std::string& name : tree.list(kCpus))
    if (name.size() > 3 && name.rfind("cpu", 0) == 0 &&
        name.find_first_not_of("0123456789", 3) == std::string::npos)
      cpus.push_back(name);
  std::string cache0 = std::string(kCpus) + "cpu0/cache/";
  for (const std::string& index : tree.list(cache0)) {
    if (index.rfind("index", 0) != 0) continue;
    std::string path = cache0 + index;
    std::string level = tree.value(path + "/level");
    std::string type = tree.value(path + "/type");
    std::string size = tree.value(path + "/size");
    if (level.empty() || size.empty()) continue;
    std::set<std::string> groups;
    for (const std::string& cpu : cpus) {
      std::string shared = tree.value(std::string(kCpus) + cpu + "/cache/" +
                                      index + "/shared_cpu_list");
      if (!shared.empty()) groups.insert(shared);
    }
    std::string name = "L" + level +
                       (type == "Data"          ? "d"
                        : type == "Instruction" ? "i"
                                                : "");
    std::string text = size;
    if (!groups.empty())
      text += " (" + std::to_string(groups.size()) +
              (groups.size() == 1 ? " instance)" : " instances)");
    section->add(name + " Cache", text);
  }
}

// udev's record of a device, /run/udev/data/bMAJOR:MINOR: its "E:KEY=VALUE"
// lines. Empty where udev does not run or has not seen the device.
std::map<std::string, std::string> udevProperties(const FileTree& tree,
                                                  const std::string& sysPath) {
  std::map<std::string, std::string> properties;
  std::string number = tree.value(sysPath + "/dev");
  if (number.empty() || number.find('/') != std::string::npos)
    return properties;
  std::istringstream lines(tree.read("/run/udev/data/b" + number).value_or(""));
  for (std::string line; std::getline(lines, line);) {
    std::size_t equals = line.find('=');
    if (line.rfind("E:", 0) == 0 && equals != std::string::npos)
      properties[line.substr(2, equals - 2)] = line.substr(equals + 1);
  }
  return properties;
}

std::string lookup(const std::map<std::string, std::string>& map,
                   const std::string& key) {
  auto found = map.find(key);
  return found == map.end() ? "" : found->second;
}

// How the disk is attached, read from where the kernel placed it; udev's
// bus name when the path does not tell.
std::string transport(const FileTree& tree, const std::string& name,
                      const std::map<std::string, std::string>& udev) {
  std::string target = tree.linkTarget("/sys/block/" + name);
  const std::pair<const char*, const char*> kinds[] = {
      {"/nvme", "NVMe"},     {"/usb", "USB"}, {"/ata", "SATA"},
      {"/virtio", "virtio"}, {"/mmc", "MMC"}, {"/host", "SAS/SCSI"}};
  for (const auto& [part, kind] : kinds)
    if (target.find(part) != std::string::npos) return kind;
  return lookup(udev, "ID_BUS");
}

}  // namespace

Section hardwareSection(const FileTree& tree, Detail detail) {
  Section section{"Hardware", "", "", {}, {}};
  section.add("Vendor", dmi(tree, "sys_vendor"));
  section.add("Product", dmi(tree, "product_name"));
  if (detail == Detail::kBasic) return section;
  section.add("Serial Number", dmi(tree, "product_serial"));
  section.add("Chassis", chassisName(dmi(tree, "chassis_type")));
  section.add("Board Vendor", dmi(tree, "board_vendor"));
  section.add("Board", dmi(tree, "board_name"));
  if (detail != Detail::kFull) return section;
  section.add("Board Version", dmi(tree, "board_version"));
  section.add("Board Serial Number", dmi(tree, "board_serial"));
  section.add("Chassis Asset Tag", dmi(tree, "chassis_asset_tag"));
  return section;
}

Section firmwareSection(const FileTree& tree, Detail detail) {
  Section section{"Firmware", "", "", {}, {}};
  // The kernel makes /sys/firmware/efi only when UEFI booted it; without
  // it, and without DMI either, nothing is known of the firmware at all.
  if (tree.exists("/sys/firmware/efi")) {
    section.add("Boot Mode", "UEFI");
  } else if (!tree.list(kDmi).empty()) {
    section.add("Boot Mode", "Legacy BIOS");
  }
  section.add("Secure Boot", secureBootState(tree));
  section.add("Version", dmi(tree, "bios_version"));
  if (detail == Detail::kBasic) return section;
  section.add("Vendor", dmi(tree, "bios_vendor"));
  section.add("Date", dmi(tree, "bios_date"));
  return section;
}

Section processorsSection(const FileTree& tree, Detail detail) {
  Section section{"Processors", "", "", {}, {}};
  auto blocks = cpuinfoBlocks(tree.read("/proc/cpuinfo", 8 << 20).value_or(""));
  if (blocks.empty()) return section;
  std::set<std::string> sockets;
  std::set<std::pair<std::string, std::string>> cores;
  for (auto& block : blocks) {
    sockets.insert(block["physical id"]);
    // Without core ids (as on many ARM machines) each processor is a core.
    cores.insert({block["physical id"], block.count("core id")
                                            ? block["core id"]
                                            : "#" + block["processor"]});
  }
  auto& first = blocks.front();
  section.add("Model", first.count("model name") ? first["model name"]
                                                 : first["Processor"]);
  section.add("Sockets", std::to_string(sockets.size()));
  if (detail == Detail::kBasic) return section;
  section.add("Cores", std::to_string(cores.size()));
  section.add("Threads", std::to_string(blocks.size()));
  // The rated maximum: the current clock changes from one read to the next.
  if (auto khz = decimal(tree.value(
          "/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq"))) {
    section.add("Speed", std::to_string(*khz / 1000) + " MHz");
  } else if (detail == Detail::kFull) {
    section.add("Speed",
                first["cpu MHz"].empty() ? "" : first["cpu MHz"] + " MHz");
  }
  if (detail == Detail::kFull) {
    if (auto khz = decimal(tree.value(
            "/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_min_freq")))
      section.add("Minimum Speed", std::to_string(*khz / 1000) + " MHz");
  }
  addCaches(tree, &section);
  if (detail == Detail::kFull)
    section.add("Flags",
                first.count("flags") ? first["flags"] : first["Features"]);
  return section;
}

Section memorySection(const FileTree& tree, Detail detail) {
  Section section{"Memory", "Modules", "Locator", {}, {}};
  std::istringstream lines(tree.read("/proc/meminfo").value_or(""));
  for (std::string key; lines >> key;) {
    std::uint64_t kib = 0;
    if (key == "MemTotal:" && lines >> kib && kib < std::uint64_t{1} << 50) {
      section.add("Total", bytesText(kib * 1024));
    }
    lines.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  }
  if (detail != Detail::kBasic) addMemoryModules(tree, &section);
  return section;
}

Section storageSection(const FileTree& tree, Detail detail) {
  Section section{"Storage", "", "Name", {}, {}};
  for (const std::string& name : tree.list("/sys/block")) {
    if (name.rfind("loop", 0) == 0 || name.rfind("ram", 0) == 0 ||
        name.rfind("zram", 0) == 0)
      continue;
    std::string path = "/sys/block/" + name;
    Item item{printable(name), {}};
    // A drive without a medium has size 0: nothing to tell.
    if (std::uint64_t count = sectors(tree, path))
      section.add(&item.fields, "Size", bytesText(count * 512));
    if (detail != Detail::kBasic) {
      auto udev = udevProperties(tree, path);
      std::string model = tree.value(path + "/device/model");
      std::string serial = tree.value(path + "/device/serial");
      section.add(&item.fields, "Model",
                  model.empty() ? lookup(udev, "ID_MODEL") : model);
      // SATA disks tell their serial number only through an inquiry,
      // which udev made at attach time.
      section.add(&item.fields, "Serial Number",
                  serial.empty() ? lookup(udev, "ID_SERIAL_SHORT") : serial);
      section.add(&item.fields, "Transport", transport(tree, name, udev));
      std::string rotational = tree.value(path + "/queue/rotational");
      if (!rotational.empty())
        section.add(&item.fields, "Rotational",
                    rotational == "1" ? "yes" : "no");
      std::string removable = tree.value(path + "/removable");
      if (!removable.empty())
        section.add(&item.fields, "Removable", removable == "1" ? "yes" : "no");
    }
    if (detail == Detail::kFull) {
      std::string partitions;
      for (const std::string& part : tree.list(path)) {
        if (!tree.exists(path + "/" + part + "/partition")) continue;
        std::string fileSystem =
            lookup(udevProperties(tree, path + "/" + part), "ID_FS_TYPE");
        partitions += (partitions.empty() ? "" : ", ") + part + " " +
                      bytesText(sectors(tree, path + "/" + part) * 512) +
                      (fileSystem.empty() ? "" : " " + fileSystem);
      }
      section.add(&item.fields, "Partitions", partitions);
    }
    section.items.push_back(std::move(item));
  }
  return section;
}

Section networkSection(const FileTree& tree, Detail detail) {
  Section section{"Network", "", "Name", {}, {}};
  for (const std::string& name : tree.list("/sys/class/net")) {
    std::string path = "/sys/class/net/" + name;
    if (name == "lo" || tree.value(path + "/type") == "772")
      continue;  // loopback
    Item item{printable(name), {}};
    section.add(&item.fields, "MAC Address", tree.value(path + "/address"));
    if (detail != Detail::kBasic) {
      section.add(&item.fields, "State", tree.value(path + "/operstate"));
      std::string speed = tree.value(path + "/speed");
      if (!speed.empty() && speed[0] != '-')
        section.add(&item.fields, "Speed", speed + " Mb/s");
      section.add(&item.fields, "Driver",
                  tree.linkName(path + "/device/driver"));
      if (tree.isRealRoot()) addAddresses(name, &section, &item);
    }
    if (detail == Detail::kFull)
      section.add(&item.fields, "MTU", tree.value(path + "/mtu"));
    section.items.push_back(std::move(item));
  }
  return section;
}

Section softwareSection(const FileTree& tree, Detail detail) {
  Section section{"Software", "", "", {}, {}};
  std::istringstream lines(tree.read("/etc/os-release").value_or(""));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
    std::string value = line.substr(12);
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') &&
        value.back() == value[0]) {
      value = value.substr(1, value.size() - 2);
    }
    section.add("System", value);
  }
  std::string kernel = tree.value("/proc/sys/kernel/ostype");
  std::string release = tree.value("/proc/sys/kernel/osrelease");
  section.add("Kernel", kernel.empty() || release.empty()
                            ? release
                            : kernel + " " + release);
  if (detail == Detail::kBasic) return section;
  section.add("Host Name", tree.value("/proc/sys/kernel/hostname"));
  if (detail != Detail::kFull) return section;
  section.add("Kernel Build", tree.value("/proc/sys/kernel/version"));
  std::istringstream uptime(tree.value("/proc/uptime"));
  double seconds = 0;
  if (uptime >> seconds && seconds >= 0 && seconds < 1e12) {
    auto whole = static_cast<std::uint64_t>(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%llu days %02llu:%02llu:%02llu",
                  static_cast<unsigned long long>(whole / 86400),
                  static_cast<unsigned long long>(whole / 3600 % 24),
                  static_cast<unsigned long long>(whole / 60 % 60),
                  static_cast<unsigned long long>(whole % 60));
    section.add("Uptime", text);
  }
  return section;
}

std::vector<Section> collectProfile(const FileTree& tree, Detail detail) {
  return {hardwareSection(tree, detail),   firmwareSection(tree, detail),
          processorsSection(tree, detail), memorySection(tree, detail),
          storageSection(tree, detail),    networkSection(tree, detail),
          pciSection(tree, detail),        softwareSection(tree, detail),
          managementControllerSection(tree, detail), sensorsSection(tree, detail)};
}

}  // namespace steward::machreport
