// The nvram program: prints and sets the firmware's boot device.
//
//   nvram -p                    every variable below, one "NAME<tab>VALUE" a line
//   nvram NAME                  one of them
//   nvram NAME=VALUE            sets boot-device or boot-device-once
//   nvram -d boot-device-once   deletes BootNext
//
// boot-device is the first active entry of BootOrder, boot-device-once is
// BootNext; both are set to active entries only. boot-devices lists every
// entry as "Boot0003 description", one a line, "(inactive)" after those the
// firmware skips. Changes take a lock shared by all nvram runs, and each is
// published into the device registry.
#pragma once

#include <string>
#include <vector>

#include "platform/DeviceRegistry.h"
#include "platform/FirmwareVariables.h"

namespace steward::nvram {

class Nvram {
 public:
  static constexpr const char* kLockPath = "/run/nvram.lock";

  // `variables` must outlive the object.
  explicit Nvram(FirmwareVariables& variables,
                 std::string registryRoot = DeviceRegistry::kDefaultRoot,
                 std::string lockPath = kLockPath)
      : variables_(variables), registryRoot_(std::move(registryRoot)),
        lockPath_(std::move(lockPath)) {}
  Nvram(const Nvram&) = delete;
  Nvram& operator=(const Nvram&) = delete;

  // Runs the arguments (the program name left out) in order, up to the
  // first refusal. Printed lines go to `*out`, the refusal's one line to
  // `*err`. Returns the exit status: 0, 1 after a refusal, 2 for a usage
  // error, which changes nothing.
  int run(const std::vector<std::string>& arguments, std::string* out, std::string* err);

 private:
  struct Action;

  bool print(const std::string& name, std::string* out, std::string* error) const;
  bool change(const std::string& name, const std::string& value, std::string* error);
  bool remove(const std::string& name, std::string* error);
  // Publishes the changed variables into the registry.
  bool published(const std::string& done, std::string* error);

  FirmwareVariables& variables_;
  std::string registryRoot_;
  std::string lockPath_;
};

}  // namespace steward::nvram
