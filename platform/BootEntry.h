// The entries of the UEFI boot manager as people name them: by number
// ("Boot0003", "0003") or by description. Shared by nvram, which sets the
// firmware's variables, and the request tool, which reads what nvram
// publishes, so that both understand a name alike.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/PropertyValue.h"

namespace steward {

struct BootEntry {
  std::uint16_t number = 0;
  // As UTF-8, control characters and bytes that are not UTF-8 replaced by
  // '?', so that it prints on one line and can be typed back.
  std::string description;
  bool active = false;  // the firmware skips inactive entries
};

// "Boot0003" for 3.
std::string bootEntryName(std::uint16_t number);
// The number of a variable name "Boot" + four upper-case hexadecimal digits.
std::optional<std::uint16_t> bootEntryNumber(std::string_view name);

// The text with control characters, non-characters and bytes that are not
// UTF-8 replaced by '?'.
std::string printableText(std::string_view text);

// "Boot0003", "0003" (hexadecimal digits and the prefix in either case)
// name entry 3 when it exists. Any other name, and a number without an
// entry, must equal the description of exactly one entry. None, with the
// reason, otherwise.
std::optional<std::uint16_t> resolveBootEntry(const std::vector<BootEntry>& entries,
                                              std::string_view name, std::string* error);
// The same, refusing an inactive entry: setting it would not change what
// the firmware starts.
std::optional<std::uint16_t> resolveActiveBootEntry(const std::vector<BootEntry>& entries,
                                                    std::string_view name, std::string* error);

// The entries as an array of {"Name", "Description", "Active"}, and back;
// none when the value is not such an array.
ArrayRef bootEntriesValue(const std::vector<BootEntry>& entries);
std::optional<std::vector<BootEntry>> bootEntriesFromValue(const ValueRef& value);

}  // namespace steward
