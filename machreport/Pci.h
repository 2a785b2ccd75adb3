// The PCI functions of the machine as sysfs lists them under
// /sys/bus/pci/devices, named from the PCI ID database.
#pragma once

#include "machreport/FileTree.h"
#include "machreport/Profile.h"

namespace steward::machreport {

// One item per function, titled by its address ("0000:00:1f.2"), in
// address order. A machine without PCI, or without sysfs, has none.
Section pciSection(const FileTree& tree, Detail detail);

}  // namespace steward::machreport
