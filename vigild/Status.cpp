#include "vigild/Status.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "kestrel/LightLease.h"

namespace steward::vigild {
namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute; none when it cannot be read.
std::optional<std::string> attribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  return line;
}

std::optional<long long> number(const std::optional<std::string>& text) {
  if (!text || text->empty()) return std::nullopt;
  char* end;
  long long value = std::strtoll(text->c_str(), &end, 10);
  if (*end != '\0') return std::nullopt;
  return value;
}

MutableDictionaryRef sensorEntry(const SensorReading& reading) {
  auto entry = makeMutableDictionary();
  entry->setObject(makeString(reading.chip), "chip");
  entry->setObject(makeString(reading.kind), "kind");
  entry->setObject(makeString(reading.label), "label");
  entry->setObject(makeReal(reading.value), "value");
  entry->setObject(makeString(reading.unit), "unit");
  const std::pair<const std::optional<double>*, const char*> limits[] = {
      {&reading.min, "min"}, {&reading.max, "max"}, {&reading.crit, "crit"}};
  for (const auto& [limit, key] : limits) {
    if (*limit) entry->setObject(makeReal(**limit), key);
  }
  entry->setObject(makeBoolean(reading.alarm), "alarm");
  return entry;
}

}  // namespace

std::string healthOf(const std::vector<SensorReading>& readings) {
  bool warning = false;
  for (const SensorReading& r : readings) {
    if (r.criticalAlarm || (r.crit && r.value >= *r.crit)) return "critical";
    warning = warning || r.alarm || (r.max && r.value > *r.max) || (r.min && r.value < *r.min);
  }
  return warning ? "warning" : "ok";
}

MutableArrayRef readPowerSupplies(const std::string& directory) {
  std::vector<fs::path> supplies;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(directory, error)) supplies.push_back(entry.path());
  std::sort(supplies.begin(), supplies.end());
  auto array = makeMutableArray();
  for (const fs::path& supply : supplies) {
    auto entry = makeMutableDictionary();
    entry->setObject(makeString(supply.filename()), "name");
    for (const char* key : {"type", "status"}) {
      if (auto text = attribute(supply / key)) entry->setObject(makeString(*text), key);
    }
    if (auto online = number(attribute(supply / "online")))
      entry->setObject(makeBoolean(*online != 0), "online");
    if (auto capacity = number(attribute(supply / "capacity")))
      entry->setObject(makeInteger(*capacity), "capacity");
    array->addObject(entry);
  }
  return array;
}

MutableDictionaryRef readServiceLight(const ServiceLight& light) {
  auto brightness = number(attribute(light.brightnessPath()));
  auto entry = makeMutableDictionary();
  entry->setObject(makeBoolean(brightness.has_value()), "Available");
  entry->setObject(makeBoolean(brightness.value_or(0) > 0), "On");
  if (!light.device().empty()) entry->setObject(makeString(light.device()), "Device");
  return entry;
}

void addLightLease(const MutableDictionaryRef& lightStatus, const ServiceLight& light,
                   double unixTime) {
  if (auto lease = readLightLease(lightLeasePath(light.entryDirectory())))
    lightStatus->addEntriesFromDictionary(*lightLeaseStatus(*lease, unixTime));
}

MutableDictionaryRef buildStatus(SensorSource& sensors, const std::string& powerSupplyDirectory,
                                 const ServiceLight& light, double unixTime) {
  std::vector<SensorReading> readings = sensors.read();
  auto sensorArray = makeMutableArray();
  for (const SensorReading& reading : readings) sensorArray->addObject(sensorEntry(reading));
  auto status = makeMutableDictionary();
  status->setObject(sensorArray, "Sensors");
  status->setObject(readPowerSupplies(powerSupplyDirectory), "PowerSupplies");
  auto lightStatus = readServiceLight(light);
  addLightLease(lightStatus, light, unixTime);
  status->setObject(lightStatus, "ServiceLight");
  status->setObject(Date::fromUnixTime(unixTime), "Time");
  status->setObject(makeString(healthOf(readings)), "Health");
  return status;
}

}  // namespace steward::vigild
