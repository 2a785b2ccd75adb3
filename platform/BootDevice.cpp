#include "platform/BootDevice.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/AtomicFile.h"
#include "platform/DeviceRegistry.h"
#include "platform/TextEncoding.h"

extern "C" {
#include <efivar/efivar.h>
#include <efivar/efiboot.h>
}

namespace steward {
namespace {

namespace fs = std::filesystem;

// The registry entry "IODeviceTree:/options".
constexpr const char* kOptionsDirectory = "IODeviceTree/options";
constexpr const char* kBootDeviceKey = "boot-device";
// Attributes (4 bytes) and the length of the device path list (2 bytes).
constexpr std::size_t kLoadOptionHeaderSize = 6;
constexpr std::uint32_t kLoadOptionActive = 1;

bool isPrintable(char32_t c) { return c >= 0x20 && c != 0x7f && !(c >= 0x80 && c < 0xa0); }

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::uint16_t little16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                    static_cast<unsigned char>(bytes[at + 1]) << 8);
}

// libefiboot walks the device path list without checking it, and loops on a
// node of length 0; so the nodes are checked here first: each at least 4
// bytes and inside the list, which ends with the end-of-path node.
bool hasWellFormedPathList(std::string_view option) {
  if (option.size() < kLoadOptionHeaderSize) return false;
  std::size_t at = kLoadOptionHeaderSize;
  while (at + 1 < option.size() && little16(option, at) != 0) at += 2;  // the description
  std::size_t end = at + 2 + little16(option, 4);
  if (end > option.size()) return false;
  for (at += 2; at + 4 <= end;) {
    std::size_t length = little16(option, at + 2);
    if (length < 4 || at + length > end) return false;
    if (option[at] == '\x7f' && option[at + 1] == '\xff') return true;
    at += length;
  }
  return false;
}

}  // namespace

std::string bootEntryName(std::uint16_t number) {
  char name[9];
  std::snprintf(name, sizeof name, "Boot%04X", number);
  return name;
}

std::optional<std::uint16_t> bootEntryNumber(std::string_view name) {
  if (name.size() != 8 || name.substr(0, 4) != "Boot") return std::nullopt;
  unsigned number = 0;
  for (char c : name.substr(4)) {
    int digit = hexDigit(c);
    if (digit < 0) return std::nullopt;
    number = number * 16 + static_cast<unsigned>(digit);
  }
  return static_cast<std::uint16_t>(number);
}

std::string printableText(std::string_view text) {
  return unicode::replacingCharacters(text, isPrintable, "?");
}

std::optional<std::vector<std::uint16_t>> parseBootOrder(std::string_view data) {
  if (data.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint16_t> order;
  for (std::size_t i = 0; i < data.size(); i += 2) order.push_back(little16(data, i));
  return order;
}

std::string bootOrderData(const std::vector<std::uint16_t>& order) {
  std::string data;
  for (std::uint16_t number : order) {
    data.push_back(static_cast<char>(number & 0xff));
    data.push_back(static_cast<char>(number >> 8));
  }
  return data;
}

std::optional<BootEntry> parseLoadOption(std::uint16_t number, std::string_view data) {
  if (!hasWellFormedPathList(data)) return std::nullopt;
  std::vector<std::uint8_t> copy(data.begin(), data.end());  // libefiboot wants it mutable
  auto* option = reinterpret_cast<efi_load_option*>(copy.data());
  if (!efi_loadopt_is_valid(option, copy.size())) {
    efi_error_clear();
    return std::nullopt;
  }
  const unsigned char* description =
      efi_loadopt_desc(option, static_cast<ssize_t>(copy.size()));
  if (!description) {
    efi_error_clear();
    return std::nullopt;
  }
  return BootEntry{number, printableText(reinterpret_cast<const char*>(description)),
                   (efi_loadopt_attrs(option) & kLoadOptionActive) != 0};
}

bool readBootState(const FirmwareVariables& variables, BootState* state, std::string* error) {
  *state = {};
  for (const std::string& name : variables.names()) {
    auto number = bootEntryNumber(name);
    if (!number) continue;
    std::string ignored;
    auto variable = variables.get(name, &ignored);
    auto entry = variable ? parseLoadOption(*number, variable->data) : std::nullopt;
    if (entry) state->entries.push_back(std::move(*entry));
  }
  std::sort(state->entries.begin(), state->entries.end(),
            [](const BootEntry& a, const BootEntry& b) { return a.number < b.number; });
  std::string readError;
  if (auto next = variables.get("BootNext", &readError); next && next->data.size() == 2) {
    state->next = parseBootOrder(next->data)->front();
  }
  readError.clear();
  auto order = variables.get("BootOrder", &readError);
  if (!readError.empty()) {
    *error = readError;
    return false;
  }
  if (!order) return true;
  auto numbers = parseBootOrder(order->data);
  if (!numbers) {
    *error = "BootOrder is malformed: an odd number of bytes";
    return false;
  }
  state->order = std::move(*numbers);
  state->orderAttributes = order->attributes;
  return true;
}

std::optional<std::string> bootDevice(const BootState& state) {
  for (std::uint16_t number : state.order) {
    for (const BootEntry& entry : state.entries) {
      if (entry.number == number && entry.active) return bootEntryName(number);
    }
  }
  return std::nullopt;
}

bool publishBootDevice(const FirmwareVariables& variables, const std::string& registryRoot,
                       std::string* error) {
  std::optional<std::string> value;
  BootState state;
  std::string ignored;  // what cannot be read is not published
  if (variables.available() && readBootState(variables, &state, &ignored)) {
    value = bootDevice(state);
  }
  std::string path = registryRoot + kOptionsDirectory + "/" + kBootDeviceKey;
  if (!value) {
    std::error_code failure;
    fs::remove(path, failure);
    if (failure) *error = "cannot remove " + path + ": " + failure.message();
    return !failure;
  }
  std::error_code failure;
  fs::create_directories(registryRoot + kOptionsDirectory, failure);
  if (failure) {
    *error = "cannot make " + registryRoot + kOptionsDirectory + ": " + failure.message();
    return false;
  }
  return writeFileAtomically(path, *value + "\n", error);
}

bool publishBootDevice(std::string* error) {
  return publishBootDevice(*openFirmwareVariables(), DeviceRegistry::kDefaultRoot, error);
}

}  // namespace steward
