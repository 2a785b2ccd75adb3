// The firmware's variables in the global namespace of the UEFI boot manager
// (BootOrder, BootNext, Boot0000...). The real store is reached through
// libefivar, which honours EFIVARFS_PATH as it loads; tests use a fake.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace steward {

struct FirmwareVariable {
  // Non-volatile, boot-service and runtime access: what the boot manager's
  // variables carry.
  static constexpr std::uint32_t kDefaultAttributes = 7;

  std::uint32_t attributes = kDefaultAttributes;
  std::string data;
};

class FirmwareVariables {
 public:
  virtual ~FirmwareVariables() = default;

  // False on a machine without UEFI variables.
  virtual bool available() const = 0;
  // The names of the global variables, in no particular order.
  virtual std::vector<std::string> names() const = 0;
  // The variable; none when it does not exist (`*error` left empty) or
  // cannot be read (`*error` says why).
  virtual std::optional<FirmwareVariable> get(const std::string& name,
                                              std::string* error) const = 0;
  // Writes the variable whole in one operation: the firmware then holds the
  // old value or the new one, never a mix.
  [[nodiscard]] virtual bool set(const std::string& name, const FirmwareVariable& variable,
                                 std::string* error) = 0;
  // Deletes the variable; true when it is gone, or was never there.
  [[nodiscard]] virtual bool remove(const std::string& name, std::string* error) = 0;
};

// The machine's own variables, through libefivar.
std::unique_ptr<FirmwareVariables> openFirmwareVariables();

}  // namespace steward
