#include "vigild/LibSensorsSource.h"

#include <sensors/error.h>
#include <sensors/sensors.h>

#include <cstdlib>
#include <string_view>

namespace steward::vigild {
namespace {

constexpr int kNone = -1;

// What a feature type means and which of its subfeatures carry the value
// and the limits.
struct FeatureKind {
  sensors_feature_type type;
  const char* kind;
  const char* unit;
  int input, fallbackInput, min, max, crit;
};

constexpr FeatureKind kKinds[] = {
    {SENSORS_FEATURE_TEMP, "temperature", "°C", SENSORS_SUBFEATURE_TEMP_INPUT, kNone,
     SENSORS_SUBFEATURE_TEMP_MIN, SENSORS_SUBFEATURE_TEMP_MAX, SENSORS_SUBFEATURE_TEMP_CRIT},
    {SENSORS_FEATURE_FAN, "fan", "RPM", SENSORS_SUBFEATURE_FAN_INPUT, kNone,
     SENSORS_SUBFEATURE_FAN_MIN, SENSORS_SUBFEATURE_FAN_MAX, kNone},
    {SENSORS_FEATURE_IN, "voltage", "V", SENSORS_SUBFEATURE_IN_INPUT, kNone,
     SENSORS_SUBFEATURE_IN_MIN, SENSORS_SUBFEATURE_IN_MAX, SENSORS_SUBFEATURE_IN_CRIT},
    {SENSORS_FEATURE_CURR, "current", "A", SENSORS_SUBFEATURE_CURR_INPUT, kNone,
     SENSORS_SUBFEATURE_CURR_MIN, SENSORS_SUBFEATURE_CURR_MAX, SENSORS_SUBFEATURE_CURR_CRIT},
    {SENSORS_FEATURE_POWER, "power", "W", SENSORS_SUBFEATURE_POWER_INPUT,
     SENSORS_SUBFEATURE_POWER_AVERAGE, SENSORS_SUBFEATURE_POWER_MIN,
     SENSORS_SUBFEATURE_POWER_MAX, SENSORS_SUBFEATURE_POWER_CRIT},
    {SENSORS_FEATURE_ENERGY, "energy", "J", SENSORS_SUBFEATURE_ENERGY_INPUT, kNone, kNone, kNone,
     kNone},
    {SENSORS_FEATURE_HUMIDITY, "humidity", "%RH", SENSORS_SUBFEATURE_HUMIDITY_INPUT, kNone,
     kNone, kNone, kNone},
    {SENSORS_FEATURE_INTRUSION, "intrusion", "", SENSORS_SUBFEATURE_INTRUSION_ALARM, kNone,
     kNone, kNone, kNone},
};

bool endsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::optional<double> valueOf(const sensors_chip_name* chip, const sensors_feature* feature,
                              int type) {
  if (type == kNone) return std::nullopt;
  const sensors_subfeature* sub =
      sensors_get_subfeature(chip, feature, static_cast<sensors_subfeature_type>(type));
  double value;
  if (!sub || !(sub->flags & SENSORS_MODE_R) || sensors_get_value(chip, sub->number, &value) != 0)
    return std::nullopt;
  return value;
}

// Alarm and fault flags go by their kernel names: "temp1_crit_alarm",
// "fan2_fault", "intrusion0_alarm".
void readAlarms(const sensors_chip_name* chip, const sensors_feature* feature,
                SensorReading* reading) {
  int next = 0;
  while (const sensors_subfeature* sub = sensors_get_all_subfeatures(chip, feature, &next)) {
    std::string_view name = sub->name;
    if (!endsWith(name, "_alarm") && !endsWith(name, "_fault")) continue;
    double value;
    if (!(sub->flags & SENSORS_MODE_R) || sensors_get_value(chip, sub->number, &value) != 0 ||
        value == 0)
      continue;
    reading->alarm = true;
    if (endsWith(name, "_crit_alarm") || endsWith(name, "_emergency_alarm"))
      reading->criticalAlarm = true;
  }
}

std::string chipName(const sensors_chip_name* chip) {
  char name[256];
  if (sensors_snprintf_chip_name(name, sizeof name, chip) < 0) return chip->prefix;
  return name;
}

}  // namespace

LibSensorsSource::LibSensorsSource(std::string* error) {
  int status = sensors_init(nullptr);
  ready_ = status == 0;
  if (!ready_ && error) *error = sensors_strerror(status);
}

LibSensorsSource::~LibSensorsSource() {
  if (ready_) sensors_cleanup();
}

std::vector<SensorReading> LibSensorsSource::read() {
  std::vector<SensorReading> readings;
  if (!ready_) return readings;
  auto now = std::chrono::steady_clock::now();
  int chipIndex = 0;
  while (const sensors_chip_name* chip = sensors_get_detected_chips(nullptr, &chipIndex)) {
    int featureIndex = 0;
    while (const sensors_feature* feature = sensors_get_features(chip, &featureIndex)) {
      for (const FeatureKind& kind : kKinds) {
        if (kind.type != feature->type) continue;
        auto value = valueOf(chip, feature, kind.input);
        if (!value) value = valueOf(chip, feature, kind.fallbackInput);
        if (!value) break;
        Details& details = details_[{chip, feature->number}];
        if (details.readAt == decltype(now)() || now - details.readAt >= kDetailsLifetime) {
          char* label = sensors_get_label(chip, feature);
          details = {label ? label : feature->name, valueOf(chip, feature, kind.min),
                     valueOf(chip, feature, kind.max), valueOf(chip, feature, kind.crit), now};
          std::free(label);
        }
        SensorReading reading;
        reading.chip = chipName(chip);
        reading.kind = kind.kind;
        reading.label = details.label;
        reading.value = *value;
        reading.unit = kind.unit;
        reading.min = details.min;
        reading.max = details.max;
        reading.crit = details.crit;
        readAlarms(chip, feature, &reading);
        readings.push_back(std::move(reading));
        break;
      }
    }
  }
  return readings;
}

}  // namespace steward::vigild
