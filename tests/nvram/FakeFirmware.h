// Firmware variables in memory, and the bytes of boot manager variables.
#pragma once

#include <map>
#include <string>

#include "platform/FirmwareVariables.h"

namespace steward {

// A read-only store refuses every write, as a read-only efivarfs does.
struct FakeFirmwareVariables : FirmwareVariables {
  bool present = true, readOnly = false;
  std::map<std::string, FirmwareVariable> variables;

  bool available() const override { return present; }
  std::vector<std::string> names() const override {
    std::vector<std::string> names;
    for (const auto& entry : variables) names.push_back(entry.first);
    return names;
  }
  std::optional<FirmwareVariable> get(const std::string& name, std::string*) const override {
    auto found = variables.find(name);
    return found == variables.end() ? std::nullopt : std::optional(found->second);
  }
  bool set(const std::string& name, const FirmwareVariable& value, std::string* error) override {
    if (readOnly) *error = "cannot write " + name + ": Read-only file system";
    if (!readOnly) variables[name] = value;
    return !readOnly;
  }
  bool remove(const std::string& name, std::string* error) override {
    if (readOnly) *error = "cannot delete " + name + ": Read-only file system";
    if (!readOnly) variables.erase(name);
    return !readOnly;
  }
};

// Little-endian 16-bit numbers, as BootOrder and BootNext hold them.
inline std::string entryNumbers(std::initializer_list<std::uint16_t> numbers) {
  std::string data;
  for (std::uint16_t n : numbers) data += {char(n & 0xff), char(n >> 8)};
  return data;
}

// Attributes, the path list's length, the description in UTF-16LE and its
// terminator, and a path list of the end node alone.
inline std::string loadOption(std::u16string_view description, char attributes = 1) {
  std::string option = {attributes, 0, 0, 0, 4, 0};
  for (char16_t c : description) option += entryNumbers({c});
  return option + std::string("\0\0\x7f\xff\x04\x00", 6);
}

inline constexpr const char* kGlobalGuid = "8be4df61-93ca-11d2-aa0d-00e098032b8c";

// An efivarfs file: attributes 7 (non-volatile, boot and runtime), the data.
inline std::string variableFile(const std::string& data) {
  return std::string("\7\0\0\0", 4) + data;
}

}  // namespace steward
