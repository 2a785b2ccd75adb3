// The UEFI boot manager's state as the boot device: the entries (Boot0000 to
// BootFFFF, each a load option), the order the firmware tries them in
// (BootOrder) and the entry for the next start only (BootNext). The boot
// device is the entry the firmware starts when BootNext is not set: the
// first of BootOrder that exists and is active, named "Boot" and four
// hexadecimal digits. It is published, with BootNext and the entries, as
// properties of the registry entry "IODeviceTree:/options", where the
// request tool reads them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/BootEntry.h"
#include "platform/FirmwareVariables.h"

namespace steward {

struct BootState {
  std::vector<BootEntry> entries;  // by number
  std::vector<std::uint16_t> order;
  std::uint32_t orderAttributes = FirmwareVariable::kDefaultAttributes;
  std::optional<std::uint16_t> next;
};

// BootOrder's data: 16-bit little-endian numbers; none for an odd length.
std::optional<std::vector<std::uint16_t>> parseBootOrder(std::string_view data);
std::string bootOrderData(const std::vector<std::uint16_t>& order);
// `order` with `number` first and nowhere else.
std::vector<std::uint16_t> movedToFront(const std::vector<std::uint16_t>& order,
                                        std::uint16_t number);
// A load option; none when it is malformed.
std::optional<BootEntry> parseLoadOption(std::uint16_t number, std::string_view data);

// Reads the entries, BootOrder and BootNext. Malformed entries are left
// out, and a BootNext that is not one number counts as none. False, with
// the reason, when BootOrder cannot be read or is malformed.
[[nodiscard]] bool readBootState(const FirmwareVariables& variables, BootState* state,
                                 std::string* error);
// The boot device's name; none when BootOrder has no active entry.
std::optional<std::string> bootDevice(const BootState& state);

// Publishes into "IODeviceTree:/options" of the registry at `registryRoot`
// (ending with "/"): "boot-device", the current boot device;
// "boot-device-once", BootNext's entry; "boot-devices", the entries as the
// XML text of bootEntriesValue. Each file is replaced atomically, and
// removed when there is no such value or no UEFI variables.
[[nodiscard]] bool publishBootDevice(const FirmwareVariables& variables,
                                     const std::string& registryRoot, std::string* error);
// The same for the machine's variables and the default registry.
[[nodiscard]] bool publishBootDevice(std::string* error);

}  // namespace steward
