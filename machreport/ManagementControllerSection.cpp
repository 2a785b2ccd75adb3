#include "machreport/ManagementControllerSection.h"

#include <cstdio>

#include "platform/IpmiConnection.h"
#include "platform/PropertyList.h"

namespace steward::machreport {

namespace {

constexpr const char* kSettingsPath = "/etc/vigild.conf";

std::string hexadecimal(unsigned number) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04x", number);
  return text;
}

}  // namespace

Section managementControllerSection(const FileTree& tree, Detail detail) {
  Section section{"Management Controller", "", "", {}, {}};
  std::string error;
  ValueRef settings;
  if (auto text = tree.read(kSettingsPath))
    settings = propertyListFromData(*text, Mutability::kImmutable, nullptr, &error);
  auto target = ipmiTargetFromSettings(settings, tree.path(""), &error);
  if (!target) return section;
  IpmiConnection connection(*target);
  if (detail != Detail::kBasic) section.add("Address", target->address());
  auto info = connection.deviceInfo(&error);
  if (!info) {
    section.add("Status", "not answering");
    return section;
  }
  section.add("Firmware Version", info->firmwareVersion);
  section.add("IPMI Version", info->ipmiVersion);
  if (detail == Detail::kBasic) return section;
  section.add("Manufacturer ID", std::to_string(info->manufacturerId));
  section.add("Product ID", hexadecimal(info->productId));
  auto [ip, mac] = connection.lanAddresses();
  section.add("IP Address", ip);
  section.add("MAC Address", mac);
  if (detail == Detail::kFull) {
    section.add("Device ID", std::to_string(info->deviceId));
    section.add("Device Revision", std::to_string(info->deviceRevision));
  }
  return section;
}

}  // namespace steward::machreport
