// The status document vigild serves: sensors, power supplies, the service
// light, the time of the reading and an overall health word. The keys are
// listed in README.md.
#pragma once

#include <string>
#include <vector>

#include "platform/PropertyValue.h"
#include "vigild/SensorSource.h"
#include "vigild/ServiceLight.h"

namespace steward::vigild {

inline constexpr const char* kPowerSupplyDirectory = "/sys/class/power_supply";

// "critical" when a sensor raised a critical alarm or reached its critical
// limit; else "warning" when any alarm or fault is raised or a value lies
// outside its min/max; else "ok".
std::string healthOf(const std::vector<SensorReading>& readings);

// One dictionary per entry of `directory` (name, type, online, status,
// capacity: each only where the supply has that file), sorted by name.
// Empty when the directory is missing.
MutableArrayRef readPowerSupplies(const std::string& directory);

// Available, On (brightness above 0) and Device; the last only when the
// light has a device.
MutableDictionaryRef readServiceLight(const ServiceLight& light);

// While a lease of the light runs: its owner, reason, deadline and the
// seconds left, added to the light's dictionary.
void addLightLease(const MutableDictionaryRef& lightStatus, const ServiceLight& light,
                   double unixTime);

// The whole document, read now, dated `unixTime`.
MutableDictionaryRef buildStatus(SensorSource& sensors, const std::string& powerSupplyDirectory,
                                 const ServiceLight& light, double unixTime);

}  // namespace steward::vigild
