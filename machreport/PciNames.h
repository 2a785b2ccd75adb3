// Names of PCI vendors, devices and classes from the PCI ID database
// (/usr/share/misc/pci.ids), looked up through libpci. An ID the database
// does not know reads as libpci's numeric form ("Device 1234").
#pragma once

#include <cstdint>
#include <string>

struct pci_access;

namespace steward::machreport {

class PciNames {
 public:
  PciNames();
  ~PciNames();
  PciNames(const PciNames&) = delete;
  PciNames& operator=(const PciNames&) = delete;

  std::string vendor(std::uint16_t vendorID);
  std::string device(std::uint16_t vendorID, std::uint16_t deviceID);
  // classCode: base class in the high byte, subclass in the low one.
  std::string className(std::uint16_t classCode);
  std::string subsystem(std::uint16_t vendorID, std::uint16_t deviceID,
                        std::uint16_t subVendorID, std::uint16_t subDeviceID);

 private:
  std::string lookup(int flags, unsigned a, unsigned b = 0, unsigned c = 0,
                     unsigned d = 0);

  pci_access* access_;  // none when libpci could not start
};

}  // namespace steward::machreport
