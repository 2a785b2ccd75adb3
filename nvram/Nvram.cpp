#include "nvram/Nvram.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include "platform/BootDevice.h"

namespace steward::nvram {
namespace {

constexpr const char* kBootDevice = "boot-device";
constexpr const char* kBootDeviceOnce = "boot-device-once";
constexpr const char* kBootDevices = "boot-devices";
constexpr const char* kUsage = "usage: nvram -p | -d NAME | NAME | NAME=VALUE ...";

// flock on a file of its own: held until the object goes, and never waited
// for, so that a second run refuses at once.
class ChangeLock {
 public:
  explicit ChangeLock(const std::string& path)
      : fd_(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {}
  ChangeLock(const ChangeLock&) = delete;
  ChangeLock& operator=(const ChangeLock&) = delete;
  ~ChangeLock() {
    if (fd_ >= 0) close(fd_);
  }

  bool take(const std::string& path, std::string* error) {
    if (fd_ < 0) {
      *error = "cannot open " + path + ": " + std::strerror(errno);
      return false;
    }
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
    *error = errno == EWOULDBLOCK ? "another nvram is changing the firmware's variables"
                                  : "cannot lock " + path + ": " + std::strerror(errno);
    return false;
  }

 private:
  int fd_;
};

void appendLine(std::string* out, const char* name, const std::string& value) {
  *out += std::string(name) + "\t" + value + "\n";
}

}  // namespace

struct Nvram::Action {
  std::string name;
  std::optional<std::string> value;
  bool remove = false;
};

int Nvram::run(const std::vector<std::string>& arguments, std::string* out, std::string* err) {
  std::vector<Action> actions;
  for (auto argument = arguments.begin(); argument != arguments.end(); ++argument) {
    if (*argument == "-p") {
      actions.push_back({"", std::nullopt});
    } else if (*argument == "-d" && argument + 1 != arguments.end()) {
      ++argument;
      actions.push_back({*argument, std::nullopt, true});
    } else if (argument->empty() || (*argument)[0] == '-') {
      *err += std::string(kUsage) + "\n";
      return 2;
    } else if (std::size_t equals = argument->find('='); equals != std::string::npos) {
      actions.push_back({argument->substr(0, equals), argument->substr(equals + 1)});
    } else {
      actions.push_back({*argument, std::nullopt});
    }
  }
  if (actions.empty()) {
    *err += std::string(kUsage) + "\n";
    return 2;
  }
  std::string error;
  std::unique_ptr<ChangeLock> lock;
  bool done = variables_.available();
  if (!done) error = "this machine has no UEFI variables";
  for (auto action = actions.begin(); done && action != actions.end(); ++action) {
    if (!action->value && !action->remove) {
      done = print(action->name, out, &error);
      continue;
    }
    if (!lock) {
      lock = std::make_unique<ChangeLock>(lockPath_);
      done = lock->take(lockPath_, &error);
    }
    done = done && (action->remove ? remove(action->name, &error)
                                   : change(action->name, *action->value, &error));
  }
  if (done) return 0;
  *err += "nvram: " + error + "\n";
  return 1;
}

// An empty name prints everything there is.
bool Nvram::print(const std::string& name, std::string* out, std::string* error) const {
  bool all = name.empty();
  if (!all && name != kBootDevice && name != kBootDeviceOnce && name != kBootDevices) {
    *error = "\"" + printableText(name) + "\" is not a variable nvram knows";
    return false;
  }
  BootState state;
  if (!readBootState(variables_, &state, error)) return false;
  std::string lines;
  if (all || name == kBootDevice) {
    if (auto device = bootDevice(state)) {
      appendLine(&lines, kBootDevice, *device);
    } else if (!all) {
      *error = "boot-device is not set: BootOrder names no active entry";
      return false;
    }
  }
  if (all || name == kBootDeviceOnce) {
    if (state.next) {
      appendLine(&lines, kBootDeviceOnce, bootEntryName(*state.next));
    } else if (!all) {
      *error = "boot-device-once is not set";
      return false;
    }
  }
  if (all || name == kBootDevices) {
    for (const BootEntry& entry : state.entries) {
      appendLine(&lines, kBootDevices,
                 bootEntryName(entry.number) + " " + entry.description +
                     (entry.active ? "" : " (inactive)"));
    }
  }
  *out += lines;
  return true;
}

bool Nvram::change(const std::string& name, const std::string& value, std::string* error) {
  if (name != kBootDevice && name != kBootDeviceOnce) {
    *error = name == kBootDevices ? "boot-devices cannot be set"
                                  : "\"" + printableText(name) + "\" is not a variable nvram knows";
    return false;
  }
  BootState state;
  if (!readBootState(variables_, &state, error)) return false;
  auto number = resolveActiveBootEntry(state.entries, value, error);
  if (!number) return false;
  if (name == kBootDeviceOnce) {
    if (!variables_.set("BootNext", {FirmwareVariable::kDefaultAttributes,
                                     bootOrderData({*number})}, error)) {
      return false;
    }
  } else if (auto order = movedToFront(state.order, *number); order != state.order) {
    if (!variables_.set("BootOrder", {state.orderAttributes, bootOrderData(order)}, error)) {
      return false;
    }
  }
  return published(name + " is set", error);
}

// Only BootNext can go: the firmware then starts the boot device.
bool Nvram::remove(const std::string& name, std::string* error) {
  if (name != kBootDeviceOnce) {
    *error = name == kBootDevice || name == kBootDevices
                 ? name + " cannot be deleted"
                 : "\"" + printableText(name) + "\" is not a variable nvram knows";
    return false;
  }
  return variables_.remove("BootNext", error) && published(name + " is deleted", error);
}

bool Nvram::published(const std::string& done, std::string* error) {
  std::string publishError;
  if (!publishBootDevice(variables_, registryRoot_, &publishError)) {
    *error = done + ", but the registry is not: " + publishError;
    return false;
  }
  return true;
}

}  // namespace steward::nvram
