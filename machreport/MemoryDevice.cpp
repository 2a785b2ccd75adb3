#include "machreport/MemoryDevice.h"

#include <algorithm>
#include <array>

namespace steward::machreport {

namespace {

constexpr unsigned char kMemoryDeviceType = 17;
// Through the bank locator string: the smallest record that names a slot.
constexpr std::size_t kMinimumLength = 0x12;

// Bytes of the formatted area: what the record's length claims, cut to
// what is there.
class Record {
 public:
  explicit Record(std::string_view raw)
      : raw_(raw),
        length_(raw.size() < 2
                    ? 0
                    : std::min<std::size_t>(static_cast<unsigned char>(raw[1]),
                                            raw.size())) {}

  std::size_t length() const { return length_; }
  bool has(std::size_t offset, std::size_t width) const {
    return offset + width <= length_;
  }
  std::uint32_t number(std::size_t offset, std::size_t width) const {
    std::uint32_t value = 0;
    for (std::size_t i = width; i-- > 0;)
      value = value << 8 | static_cast<unsigned char>(raw_[offset + i]);
    return value;
  }
  // The string a byte at offset names (1-based; 0 is none).
  std::string string(std::size_t offset) const {
    if (!has(offset, 1) || static_cast<unsigned char>(raw_[1]) > raw_.size())
      return {};
    std::size_t index = static_cast<unsigned char>(raw_[offset]);
    std::string_view rest = raw_.substr(static_cast<unsigned char>(raw_[1]));
    for (std::size_t n = 1; index != 0 && !rest.empty() && rest[0] != '\0';
         ++n) {
      std::size_t end = rest.find('\0');
      std::string_view text = rest.substr(0, end);
      if (n == index) return std::string(text);
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 1);
    }
    return {};
  }

 private:
  std::string_view raw_;
  std::size_t length_;
};

std::string memoryType(std::uint32_t code) {
  // clang-format off
  static constexpr std::array<const char*, 0x25> kNames = {
      "", "", "", "DRAM", "EDRAM", "VRAM", "SRAM", "RAM", "ROM", "Flash",
      "EEPROM", "FEPROM", "EPROM", "CDRAM", "3DRAM", "SDRAM", "SGRAM", "RDRAM",
      "DDR", "DDR2", "DDR2 FB-DIMM", "", "", "", "DDR3", "FBD2", "DDR4",
      "LPDDR", "LPDDR2", "LPDDR3", "LPDDR4", "Logical non-volatile device",
      "HBM", "HBM2", "DDR5", "LPDDR5", "HBM3"};
  // clang-format on
  return code < kNames.size() ? kNames[code] : "";
}

std::uint64_t sizeBytes(const Record& record) {
  if (!record.has(0x0C, 2)) return 0;
  std::uint32_t size = record.number(0x0C, 2);
  if (size == 0xFFFF) return 0;
  if (size == 0x7FFF) {  // larger than 32 GiB: the extended size, in MiB
    return record.has(0x1C, 4)
               ? std::uint64_t{record.number(0x1C, 4) & 0x7FFFFFFF} << 20
               : 0;
  }
  return size & 0x8000 ? std::uint64_t{size & 0x7FFF} << 10
                       : std::uint64_t{size} << 20;
}

}  // namespace

std::optional<MemoryDevice> parseMemoryDevice(std::string_view raw) {
  Record record(raw);
  if (record.length() < kMinimumLength ||
      static_cast<unsigned char>(raw[0]) != kMemoryDeviceType) {
    return std::nullopt;
  }
  MemoryDevice device;
  device.installed = record.number(0x0C, 2) != 0;
  device.sizeBytes = sizeBytes(record);
  device.type = memoryType(record.number(0x12, record.has(0x12, 1) ? 1 : 0));
  if (record.has(0x15, 2)) {
    device.speedMTs = record.number(0x15, 2);
    if (device.speedMTs == 0xFFFF)
      device.speedMTs = record.has(0x54, 4) ? record.number(0x54, 4) : 0;
  }
  device.locator = record.string(0x10);
  device.bankLocator = record.string(0x11);
  device.manufacturer = record.string(0x17);
  device.partNumber = record.string(0x1A);
  return device;
}

}  // namespace steward::machreport
