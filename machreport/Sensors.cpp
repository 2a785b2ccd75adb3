#include "machreport/Sensors.h"

#include <cstdio>
#include <map>

#include "platform/MessagePort.h"
#include "platform/XmlPropertyList.h"

namespace steward::machreport {

namespace {

constexpr double kSendTimeout = 1.0;
constexpr double kReceiveTimeout = 2.0;

std::string stringAt(const Dictionary& dictionary, const char* key) {
  auto value = as<String>(dictionary.objectForKey(key));
  return value ? value->str() : "";
}

std::optional<double> numberAt(const Dictionary& dictionary, const char* key) {
  ValueRef value = dictionary.objectForKey(key);
  if (auto real = as<Real>(value)) return real->value();
  if (auto integer = as<Integer>(value))
    return static_cast<double>(integer->value());
  return std::nullopt;
}

bool flagAt(const Dictionary& dictionary, const char* key) {
  auto flag = as<Boolean>(dictionary.objectForKey(key));
  return flag && flag->value();
}

std::string join(std::string_view separator,
                 const std::vector<std::string>& parts) {
  std::string joined;
  for (const std::string& part : parts)
    joined += (joined.empty() ? "" : std::string(separator)) + part;
  return joined;
}

std::string reading(std::optional<double> value, const std::string& unit) {
  if (!value) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%.1f", *value);
  return unit.empty() ? text : std::string(text) + " " + unit;
}

std::vector<DictionaryRef> dictionariesAt(const Dictionary& status,
                                          const char* key) {
  std::vector<DictionaryRef> found;
  if (auto array = as<Array>(status.objectForKey(key)))
    for (const ValueRef& value : array->objects())
      if (auto dictionary = as<Dictionary>(value)) found.push_back(dictionary);
  return found;
}

// "12 (8 temperature, 3 fan, 1 voltage)"
std::string sensorCounts(const std::vector<DictionaryRef>& sensors) {
  if (sensors.empty()) return "0";
  std::map<std::string, int> kinds;
  for (const auto& sensor : sensors) ++kinds[stringAt(*sensor, "kind")];
  std::vector<std::string> parts;
  for (const auto& [kind, count] : kinds)
    parts.push_back(std::to_string(count) + " " +
                    (kind.empty() ? "other" : kind));
  return std::to_string(sensors.size()) + " (" + join(", ", parts) + ")";
}

std::string sensorName(const Dictionary& sensor) {
  return stringAt(sensor, "chip") + " " + stringAt(sensor, "label");
}

void addSupplies(const Dictionary& status, Section* section) {
  std::vector<std::string> supplies;
  for (const auto& supply : dictionariesAt(status, "PowerSupplies")) {
    std::string text = stringAt(*supply, "name");
    if (auto online = as<Boolean>(supply->objectForKey("online")))
      text += online->value() ? " online" : " offline";
    supplies.push_back(text);
  }
  section->add("Power Supplies", join(", ", supplies));
  if (auto light = as<Dictionary>(status.objectForKey("ServiceLight"));
      light && flagAt(*light, "Available"))
    section->add("Service Light", flagAt(*light, "On") ? "on" : "off");
}

Item sensorItem(const Dictionary& sensor, Section* section) {
  Item item{printable(sensorName(sensor)), {}};
  std::string unit = stringAt(sensor, "unit");
  section->add(&item.fields, "Value", reading(numberAt(sensor, "value"), unit));
  const std::pair<const char*, const char*> limits[] = {
      {"min", "Minimum"}, {"max", "Maximum"}, {"crit", "Critical"}};
  for (const auto& [key, title] : limits)
    section->add(&item.fields, title, reading(numberAt(sensor, key), unit));
  if (flagAt(sensor, "alarm")) section->add(&item.fields, "Alarm", "yes");
  return item;
}

}  // namespace

Section summarizeStatus(const Dictionary& status, Detail detail) {
  Section section{"Sensors", "Readings", "Sensor", {}, {}};
  section.add("Health", stringAt(status, "Health"));
  if (detail == Detail::kBasic) return section;
  auto sensors = dictionariesAt(status, "Sensors");
  section.add("Count", sensorCounts(sensors));
  std::vector<std::string> alarms;
  for (const auto& sensor : sensors)
    if (flagAt(*sensor, "alarm")) alarms.push_back(sensorName(*sensor));
  section.add("Alarms", join(", ", alarms));
  addSupplies(status, &section);
  if (detail != Detail::kFull) return section;
  for (const auto& sensor : sensors)
    section.items.push_back(sensorItem(*sensor, &section));
  return section;
}

Section sensorsSection(const FileTree& tree, Detail detail) {
  Section empty{"Sensors", "Readings", "Sensor", {}, {}};
  auto port = MessagePort::createRemote("vigildPort", tree.path("/var/run/"));
  if (!port) return empty;
  std::string bytes, error;
  if (port->sendRequest(0, {}, kSendTimeout, kReceiveTimeout, &bytes) !=
      MessagePort::kSuccess)
    return empty;
  auto status = as<Dictionary>(
      readXMLPropertyList(bytes, Mutability::kImmutable, &error));
  return status ? summarizeStatus(*status, detail) : empty;
}

}  // namespace steward::machreport
