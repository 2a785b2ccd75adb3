// One memory slot as the firmware's SMBIOS "memory device" record (type 17)
// describes it. The record comes from outside: every offset is checked, a
// truncated record yields what it holds, and nothing is read past the bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace steward::machreport {

struct MemoryDevice {
  bool installed = false;
  std::uint64_t sizeBytes = 0;  // 0: installed but of unknown size
  std::string type;             // "DDR4", ... or empty when unknown
  std::uint32_t speedMTs = 0;   // 0: unknown
  // Strings as the record holds them, possibly not UTF-8.
  std::string locator;
  std::string bankLocator;
  std::string manufacturer;
  std::string partNumber;
};

// Reads a raw record (formatted area, then its NUL-terminated strings);
// none when it is not type 17 or too short to name its slot.
std::optional<MemoryDevice> parseMemoryDevice(std::string_view raw);

}  // namespace steward::machreport
