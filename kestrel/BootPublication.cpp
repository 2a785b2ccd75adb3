#include "kestrel/BootPublication.h"

#include "platform/XmlPropertyList.h"

namespace steward {
namespace {

constexpr const char* kOptionsNodePath = "IODeviceTree:/options";

bool flagIsSet(const DictionaryRef& request, const char* key) {
  auto flag = as<Boolean>(request->objectForKey(key));
  return flag && flag->value();
}

}  // namespace

PublishedBoot readPublishedBoot(const RegistryEntry& options) {
  PublishedBoot published{options.copyProperty("boot-device"),
                          options.copyProperty("boot-device-once"), std::nullopt};
  if (auto text = options.copyProperty("boot-devices")) {
    std::string error;
    published.devices = bootEntriesFromValue(
        readXMLPropertyList(text->str(), Mutability::kImmutable, &error));
  }
  return published;
}

PublishedBoot readPublishedBoot(const DeviceRegistry& registry) {
  auto options = registry.entryFromPath(kOptionsNodePath);
  return options ? readPublishedBoot(*options) : PublishedBoot{};
}

DictionaryRef withBootDetails(const DictionaryRef& request, const RegistryEntry& options,
                              MutableDictionaryRef reply) {
  bool list = flagIsSet(request, "list");
  if (!list && !flagIsSet(request, "once")) return reply;
  PublishedBoot published = readPublishedBoot(options);
  reply->setObject(published.once ? published.once : makeString(""), "OnceDevice");
  if (list && published.devices) reply->setObject(bootEntriesValue(*published.devices), "Devices");
  return reply;
}

}  // namespace steward
