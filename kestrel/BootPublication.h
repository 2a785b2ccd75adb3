// The firmware's boot state as nvram and vigild publish it in the registry
// entry "IODeviceTree:/options", and what "getBootPath" adds from it when
// asked: the pending once-device and the entries one may choose.
#pragma once

#include <optional>
#include <vector>

#include "platform/BootEntry.h"
#include "platform/DeviceRegistry.h"
#include "platform/PropertyValue.h"

namespace steward {

struct PublishedBoot {
  StringRef device;  // the persistent boot device; none when not published
  StringRef once;    // the device of the next start only; none when none is pending
  // None when not published or unreadable.
  std::optional<std::vector<BootEntry>> devices;
};

PublishedBoot readPublishedBoot(const RegistryEntry& options);
// The same from the registry's "IODeviceTree:/options"; all none without it.
PublishedBoot readPublishedBoot(const DeviceRegistry& registry);

// The reply with "OnceDevice" ("" when none is pending) when the request
// has "once" or "list" true, and "Devices" (the entries as {"Name",
// "Description", "Active"}, when published) for "list" true; any other
// request's reply unchanged.
DictionaryRef withBootDetails(const DictionaryRef& request, const RegistryEntry& options,
                              MutableDictionaryRef reply);

}  // namespace steward
