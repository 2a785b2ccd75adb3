#include "machreport/PciNames.h"

extern "C" {
#include <pci/pci.h>
}

#include <csetjmp>

namespace steward::machreport {

namespace {

// libpci reports a fatal error through a callback that must not return; it
// comes back here instead, and the name reads as unknown. One thread only.
std::jmp_buf* gRecovery = nullptr;

// The attribute is part of the callback's type, which [[noreturn]] is not for clang.
__attribute__((noreturn)) void onError(char*, ...) {
  if (gRecovery != nullptr) std::longjmp(*gRecovery, 1);
  __builtin_trap();
}

void ignore(char*, ...) {}

// udev's hardware database is not asked: the ID file alone gives the same
// names on every machine, and opening udev costs more than the lookups.
constexpr int kCommonFlags = PCI_LOOKUP_NO_HWDB;

}  // namespace

PciNames::PciNames() : access_(pci_alloc()) {
  if (access_ == nullptr) return;
  access_->error = onError;
  access_->warning = ignore;
  access_->debug = ignore;
  // Only names are wanted: the sysfs method starts without probing
  // hardware, and nothing here scans a bus.
  access_->method = PCI_ACCESS_SYS_BUS_PCI;
  std::jmp_buf recovery;
  gRecovery = &recovery;
  if (setjmp(recovery) == 0) {
    pci_init(access_);
  } else {
    access_ = nullptr;  // left as it is: its state is unknown
  }
  gRecovery = nullptr;
}

PciNames::~PciNames() {
  if (access_ != nullptr) pci_cleanup(access_);
}

std::string PciNames::lookup(int flags, unsigned a, unsigned b, unsigned c,
                             unsigned d) {
  if (access_ == nullptr) return {};
  char buffer[256];
  const char* volatile name = nullptr;  // read after a longjmp
  std::jmp_buf recovery;
  gRecovery = &recovery;
  if (setjmp(recovery) == 0) {
    name = pci_lookup_name(access_, buffer, sizeof buffer, flags | kCommonFlags,
                           a, b, c, d);
  }
  gRecovery = nullptr;
  return name != nullptr ? name : "";
}

std::string PciNames::vendor(std::uint16_t vendorID) {
  return lookup(PCI_LOOKUP_VENDOR, vendorID);
}

std::string PciNames::device(std::uint16_t vendorID, std::uint16_t deviceID) {
  return lookup(PCI_LOOKUP_DEVICE, vendorID, deviceID);
}

std::string PciNames::className(std::uint16_t classCode) {
  return lookup(PCI_LOOKUP_CLASS, classCode);
}

std::string PciNames::subsystem(std::uint16_t vendorID, std::uint16_t deviceID,
                                std::uint16_t subVendorID,
                                std::uint16_t subDeviceID) {
  return lookup(PCI_LOOKUP_SUBSYSTEM | PCI_LOOKUP_VENDOR | PCI_LOOKUP_DEVICE,
                vendorID, deviceID, subVendorID, subDeviceID);
}

}  // namespace steward::machreport
