// The profile's sections, each read from where Linux keeps it under a
// FileTree. A source that is missing leaves its lines out; a section is
// always there, even empty, so two profiles line up.
#pragma once

#include <vector>

#include "machreport/FileTree.h"
#include "machreport/Profile.h"

namespace steward::machreport {

Section hardwareSection(const FileTree& tree,
                        Detail detail);  // /sys/class/dmi/id
Section firmwareSection(const FileTree& tree,
                        Detail detail);  // dmi, /sys/firmware/efi
Section processorsSection(const FileTree& tree,
                          Detail detail);  // /proc/cpuinfo, cpufreq
Section memorySection(const FileTree& tree,
                      Detail detail);  // meminfo, SMBIOS type 17
Section storageSection(const FileTree& tree, Detail detail);  // /sys/block
Section networkSection(const FileTree& tree, Detail detail);  // /sys/class/net
Section softwareSection(const FileTree& tree,
                        Detail detail);  // os-release, kernel

// Every section, in the fixed order of the report.
std::vector<Section> collectProfile(const FileTree& tree, Detail detail);

}  // namespace steward::machreport
