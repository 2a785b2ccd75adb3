// Which boot entry a name given on the command line means, and the new
// BootOrder that starts with it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/BootDevice.h"

namespace steward::nvram {

// "Boot0003", "0003" (hexadecimal digits and the prefix in either case)
// name entry 3 when it exists. Any other name, and a number without an
// entry, must equal the description of exactly one entry. None, with the
// reason, otherwise.
std::optional<std::uint16_t> resolveBootEntry(const std::vector<BootEntry>& entries,
                                              std::string_view name, std::string* error);

// `order` with `number` first and nowhere else.
std::vector<std::uint16_t> movedToFront(const std::vector<std::uint16_t>& order,
                                        std::uint16_t number);

}  // namespace steward::nvram
