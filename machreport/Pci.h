// The PCI functions of the machine as sysfs lists them under
// /sys/bus/pci/devices, named from the PCI ID database.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "machreport/FileTree.h"
#include "machreport/Profile.h"

namespace steward::machreport {

// Reads sysfs' hexadecimal ID form ("0x8086"), at most `digits` digits
// after the prefix; none for anything else.
std::optional<std::uint32_t> sysfsHex(const std::string& text,
                                      std::size_t digits);

// One item per function, titled by its address ("0000:00:1f.2"), in
// address order. A machine without PCI, or without sysfs, has none.
Section pciSection(const FileTree& tree, Detail detail);

}  // namespace steward::machreport
