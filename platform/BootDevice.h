// The UEFI boot manager's state as the boot device: the entries (Boot0000 to
// BootFFFF, each a load option), the order the firmware tries them in
// (BootOrder) and the entry for the next start only (BootNext). The boot
// device is the entry the firmware starts when BootNext is not set: the
// first of BootOrder that exists and is active, named "Boot" and four
// hexadecimal digits. It is published as the property "boot-device" of the
// registry entry "IODeviceTree:/options", where the request tool reads it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FirmwareVariables.h"

namespace steward {

struct BootEntry {
  std::uint16_t number = 0;
  // As UTF-8, control characters and bytes that are not UTF-8 replaced by
  // '?', so that it prints on one line and can be typed back.
  std::string description;
  bool active = false;  // the firmware skips inactive entries
};

struct BootState {
  std::vector<BootEntry> entries;  // by number
  std::vector<std::uint16_t> order;
  std::uint32_t orderAttributes = FirmwareVariable::kDefaultAttributes;
  std::optional<std::uint16_t> next;
};

// "Boot0003" for 3.
std::string bootEntryName(std::uint16_t number);
// The number of a variable name "Boot" + four upper-case hexadecimal digits.
std::optional<std::uint16_t> bootEntryNumber(std::string_view name);

// The text with control characters and bytes that are not UTF-8 replaced
// by '?'.
std::string printableText(std::string_view text);

// BootOrder's data: 16-bit little-endian numbers; none for an odd length.
std::optional<std::vector<std::uint16_t>> parseBootOrder(std::string_view data);
std::string bootOrderData(const std::vector<std::uint16_t>& order);
// A load option; none when it is malformed.
std::optional<BootEntry> parseLoadOption(std::uint16_t number, std::string_view data);

// Reads the entries, BootOrder and BootNext. Malformed entries are left
// out, and a BootNext that is not one number counts as none. False, with
// the reason, when BootOrder cannot be read or is malformed.
[[nodiscard]] bool readBootState(const FirmwareVariables& variables, BootState* state,
                                 std::string* error);
// The boot device's name; none when BootOrder has no active entry.
std::optional<std::string> bootDevice(const BootState& state);

// Makes "boot-device" of "IODeviceTree:/options" in the registry at
// `registryRoot` (ending with "/") the current boot device, replacing the
// file atomically; removes it when there is none or no UEFI variables.
[[nodiscard]] bool publishBootDevice(const FirmwareVariables& variables,
                                     const std::string& registryRoot, std::string* error);
// The same for the machine's variables and the default registry.
[[nodiscard]] bool publishBootDevice(std::string* error);

}  // namespace steward
