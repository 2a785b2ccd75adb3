// The front-panel service light: a Linux LED class device that the device
// registry entry "IOService:/FrontPanel/OrchardFPButton" stands for. The
// entry's property "LED" is a symbolic link to the LED's brightness
// attribute, so the request tool's "serviceid" write of 1 or 0 switches the
// light itself.
#pragma once

#include <string>

#include "platform/PropertyValue.h"

namespace steward::vigild {

class ServiceLight {
 public:
  static constexpr const char* kRegistryRoot = "/var/lib/stewardd/registry/";
  static constexpr const char* kLedDirectory = "/sys/class/leds";

  explicit ServiceLight(std::string registryRoot = kRegistryRoot,
                        std::string ledDirectory = kLedDirectory);

  // Picks the LED: `configured` when not empty (none when no such LED has a
  // brightness), else the first LED, in byte order of names, whose name
  // holds "identify" or "locate" in any case.
  void choose(const std::string& configured);
  // The chosen LED's name; "" when there is none.
  const std::string& device() const { return device_; }
  std::string brightnessPath() const;
  // Without an LED, whether the management controller's identify stands
  // for the light: "LED" is then a plain file holding the wanted state.
  void useManagementController(bool use) { managementController_ = use; }
  bool usesManagementController() const { return device_.empty() && managementController_; }
  // The registry property's path, and the entry's directory that holds it
  // (and the light's lease).
  std::string propertyPath() const;
  std::string entryDirectory() const;

  // Makes the registry tree down to the entry, owned by this user with
  // mode 0755, and points "LED" at the chosen LED. Without one the entry
  // and any lease are removed, so that nothing stands for a light that is
  // not there. A lease of a light that is there stays for the daemon to
  // end.
  // Links and files found where the tree's directories belong are
  // replaced, never followed. False, with the reason in *error, when the
  // tree cannot be made.
  [[nodiscard]] bool setUp(std::string* error) const;

 private:
  std::string registryRoot_;
  std::string ledDirectory_;
  std::string device_;
  bool managementController_ = false;
};

// The LED named by the settings' "ServiceLED"; "" when none. (The status
// reply carries the settings' keys over the daemon's, so this key is not
// "ServiceLight".)
std::string configuredServiceLight(const ValueRef& settings);

}  // namespace steward::vigild
