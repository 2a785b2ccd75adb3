// Firmware variables in memory, and the bytes of boot manager variables.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/FirmwareVariables.h"

namespace steward {

// A read-only store refuses every write, as a read-only efivarfs does.
class FakeFirmwareVariables : public FirmwareVariables {
 public:
  bool present = true;
  bool readOnly = false;
  std::map<std::string, FirmwareVariable> variables;

  bool available() const override { return present; }
  std::vector<std::string> names() const override {
    std::vector<std::string> names;
    for (const auto& [name, variable] : variables) names.push_back(name);
    return names;
  }
  std::optional<FirmwareVariable> get(const std::string& name, std::string*) const override {
    auto found = variables.find(name);
    if (found == variables.end()) return std::nullopt;
    return found->second;
  }
  bool set(const std::string& name, const FirmwareVariable& variable,
           std::string* error) override {
    if (readOnly) *error = "cannot write " + name + ": Read-only file system";
    if (!readOnly) variables[name] = variable;
    return !readOnly;
  }
};

// A load option: attributes, the device path list's length, the description
// in UTF-16LE with its terminator, and a path list of the end node alone.
inline std::string loadOption(std::u16string_view description, std::uint32_t attributes = 1) {
  std::string option = {char(attributes), char(attributes >> 8), char(attributes >> 16),
                        char(attributes >> 24), 4, 0};
  for (char16_t c : description) option += {char(c & 0xff), char(c >> 8)};
  return option + std::string("\0\0\x7f\xff\x04\x00", 6);
}

// 16-bit little-endian numbers, as BootOrder and BootNext hold them.
inline std::string entryNumbers(std::initializer_list<std::uint16_t> numbers) {
  std::string data;
  for (std::uint16_t n : numbers) data += {char(n & 0xff), char(n >> 8)};
  return data;
}

// An efivarfs file: the attributes (non-volatile, boot-service and runtime
// access), then the data.
inline std::string variableFile(std::string_view data) {
  return std::string("\x07\0\0\0", 4) + std::string(data);
}

}  // namespace steward
