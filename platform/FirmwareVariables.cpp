#include "platform/FirmwareVariables.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <efivar/efivar.h>
}

namespace steward {
namespace {

const efi_guid_t kGlobalGuid = EFI_GLOBAL_GUID;

// libefivar keeps a stack of error records; one run needs errno only.
std::string lastError(const char* what, const std::string& name) {
  std::string text = std::string(what) + " " + name + ": " + std::strerror(errno);
  efi_error_clear();
  return text;
}

class EfivarVariables : public FirmwareVariables {
 public:
  bool available() const override { return efi_variables_supported() != 0; }

  std::vector<std::string> names() const override {
    std::vector<std::string> names;
    efi_guid_t* guid = nullptr;
    char* name = nullptr;
    // The walk runs to its end: libefivar restarts it only then.
    while (efi_get_next_variable_name(&guid, &name) > 0) {
      if (efi_guid_cmp(guid, &kGlobalGuid) == 0) names.emplace_back(name);
    }
    efi_error_clear();
    return names;
  }

  std::optional<FirmwareVariable> get(const std::string& name,
                                      std::string* error) const override {
    std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::uint32_t attributes = 0;
    if (efi_get_variable(kGlobalGuid, name.c_str(), &data, &size, &attributes) < 0) {
      if (errno == ENOENT) {
        efi_error_clear();
      } else {
        *error = lastError("cannot read", name);
      }
      return std::nullopt;
    }
    FirmwareVariable variable{attributes, std::string(reinterpret_cast<char*>(data), size)};
    std::free(data);
    return variable;
  }

  bool set(const std::string& name, const FirmwareVariable& variable,
           std::string* error) override {
    std::string data = variable.data;  // libefivar takes a mutable buffer
    // An append would leave the old value in front of the new.
    std::uint32_t attributes = variable.attributes & ~std::uint32_t{EFI_VARIABLE_APPEND_WRITE};
    if (efi_set_variable(kGlobalGuid, name.c_str(), reinterpret_cast<std::uint8_t*>(data.data()),
                         data.size(), attributes, 0644) < 0) {
      *error = lastError("cannot write", name);
      return false;
    }
    return true;
  }

  bool remove(const std::string& name, std::string* error) override {
    if (efi_del_variable(kGlobalGuid, name.c_str()) < 0 && errno != ENOENT) {
      *error = lastError("cannot delete", name);
      return false;
    }
    efi_error_clear();
    return true;
  }
};

}  // namespace

std::unique_ptr<FirmwareVariables> openFirmwareVariables() {
  return std::make_unique<EfivarVariables>();
}

}  // namespace steward
