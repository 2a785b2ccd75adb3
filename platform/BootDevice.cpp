#include "platform/BootDevice.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/AtomicFile.h"
#include "platform/DeviceRegistry.h"
#include "platform/PropertyList.h"

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
constexpr const char* kBootDeviceOnceKey = "boot-device-once";
constexpr const char* kBootDevicesKey = "boot-devices";
// Attributes (4 bytes) and the length of the device path list (2 bytes).
constexpr std::size_t kLoadOptionHeaderSize = 6;
constexpr std::uint32_t kLoadOptionActive = 1;

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

// Replaces the property's file with the value and a line feed, or removes
// it for none.
bool publishProperty(const std::string& path, const std::optional<std::string>& value,
                     std::string* error) {
  if (value) return writeFileAtomically(path, *value + "\n", error);
  std::error_code failure;
  fs::remove(path, failure);
  if (failure) *error = "cannot remove " + path + ": " + failure.message();
  return !failure;
}

}  // namespace

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

std::vector<std::uint16_t> movedToFront(const std::vector<std::uint16_t>& order,
                                        std::uint16_t number) {
  std::vector<std::uint16_t> moved = {number};
  std::copy_if(order.begin(), order.end(), std::back_inserter(moved),
               [number](std::uint16_t other) { return other != number; });
  return moved;
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
  BootState state;
  std::string ignored;  // what cannot be read is not published
  bool known = variables.available() && readBootState(variables, &state, &ignored);
  std::optional<std::string> device, once, devices;
  if (known) {
    device = bootDevice(state);
    if (state.next) once = bootEntryName(*state.next);
    devices.emplace();
    if (!propertyListToData(bootEntriesValue(state.entries), PropertyListFormat::kXML,
                            &*devices, error)) {
      return false;
    }
  }
  std::string directory = registryRoot + kOptionsDirectory;
  std::error_code failure;
  if (known) fs::create_directories(directory, failure);
  if (failure) {
    *error = "cannot make " + directory + ": " + failure.message();
    return false;
  }
  // The boot device last: a reader that sees it new sees the others new.
  return publishProperty(directory + "/" + kBootDevicesKey, devices, error) &&
         publishProperty(directory + "/" + kBootDeviceOnceKey, once, error) &&
         publishProperty(directory + "/" + kBootDeviceKey, device, error);
}

bool publishBootDevice(std::string* error) {
  return publishBootDevice(*openFirmwareVariables(), DeviceRegistry::kDefaultRoot, error);
}

}  // namespace steward
