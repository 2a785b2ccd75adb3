#include "machreport/Pci.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "machreport/PciNames.h"

namespace steward::machreport {

namespace {

constexpr std::string_view kDevices = "/sys/bus/pci/devices/";

// sysfs' hexadecimal ID form ("0x8086"), at most `digits` digits after the
// prefix; none for anything else.
std::optional<std::uint32_t> sysfsHex(const std::string& text,
                                      std::size_t digits) {
  if (text.size() < 3 || text.size() > 2 + digits || text[0] != '0' ||
      (text[1] != 'x' && text[1] != 'X') ||
      text.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos)
    return std::nullopt;
  return static_cast<std::uint32_t>(std::stoul(text.substr(2), nullptr, 16));
}

struct Function {
  std::string path;
  std::uint16_t vendor = 0, device = 0, classCode = 0;
  std::optional<std::uint32_t> subVendor, subDevice, revision;
};

// A function whose identity files are missing or garbled is left out.
std::optional<Function> readFunction(const FileTree& tree,
                                     const std::string& name) {
  Function function;
  function.path = std::string(kDevices) + name;
  auto vendor = sysfsHex(tree.value(function.path + "/vendor"), 4);
  auto device = sysfsHex(tree.value(function.path + "/device"), 4);
  auto classCode = sysfsHex(tree.value(function.path + "/class"), 6);
  if (!vendor || !device || !classCode) return std::nullopt;
  function.vendor = static_cast<std::uint16_t>(*vendor);
  function.device = static_cast<std::uint16_t>(*device);
  function.classCode = static_cast<std::uint16_t>(*classCode >> 8);
  function.subVendor =
      sysfsHex(tree.value(function.path + "/subsystem_vendor"), 4);
  function.subDevice =
      sysfsHex(tree.value(function.path + "/subsystem_device"), 4);
  function.revision = sysfsHex(tree.value(function.path + "/revision"), 2);
  return function;
}

std::string hex4(std::uint32_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value & 0xFFFF);
  return text;
}

// "8.0 GT/s PCIe x4": what the link runs at now, as the kernel words it.
std::string linkText(const FileTree& tree, const std::string& path) {
  std::string speed = tree.value(path + "/current_link_speed");
  std::string width = tree.value(path + "/current_link_width");
  if (speed.empty() || speed.rfind("Unknown", 0) == 0 || width.empty() ||
      width == "0")
    return {};
  return speed + " x" + width;
}

void addFields(const FileTree& tree, const Function& function, Detail detail,
               PciNames& names, Section* section, Item* item) {
  section->add(&item->fields, "Class", names.className(function.classCode));
  section->add(&item->fields, "Vendor", names.vendor(function.vendor));
  section->add(&item->fields, "Device",
               names.device(function.vendor, function.device));
  if (detail == Detail::kBasic) return;
  // Zero subsystem IDs (bridges, many virtual devices) name nothing.
  if (function.subVendor.value_or(0) != 0)
    section->add(
        &item->fields, "Subsystem",
        names.subsystem(function.vendor, function.device, *function.subVendor,
                        function.subDevice.value_or(0)));
  section->add(&item->fields, "Driver",
               tree.linkName(function.path + "/driver"));
  if (detail != Detail::kFull) return;
  std::string ids = hex4(function.vendor) + ":" + hex4(function.device);
  if (function.subVendor.value_or(0) != 0 && function.subDevice)
    ids += " (subsystem " + hex4(*function.subVendor) + ":" +
           hex4(*function.subDevice) + ")";
  section->add(&item->fields, "IDs", ids);
  if (function.revision)
    section->add(&item->fields, "Revision", std::to_string(*function.revision));
  section->add(&item->fields, "Link", linkText(tree, function.path));
  std::string node = tree.value(function.path + "/numa_node");
  if (!node.empty() && node[0] != '-')
    section->add(&item->fields, "NUMA Node", node);
}

}  // namespace

Section pciSection(const FileTree& tree, Detail detail) {
  Section section{"PCI Devices", "", "Address", {}, {}};
  std::vector<std::string> entries = tree.list(kDevices);
  if (entries.empty()) return section;
  PciNames names;  // opened only when there is something to name
  // Addresses are fixed-width hexadecimal, so name order is address order.
  for (const std::string& name : entries) {
    auto function = readFunction(tree, name);
    if (!function) continue;
    Item item{printable(name), {}};
    addFields(tree, *function, detail, names, &section, &item);
    section.items.push_back(std::move(item));
  }
  return section;
}

}  // namespace steward::machreport
