// Where sensor readings come from: libsensors on a real machine, a fixed
// list in tests.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace steward::vigild {

// One sensor as read: its value and the limits its chip reports, in the
// units named by `unit`.
struct SensorReading {
  std::string chip;   // e.g. "coretemp-isa-0000"
  std::string kind;   // temperature, fan, voltage, current, power, energy,
                      // humidity, intrusion
  std::string label;  // the configured label, else the feature's name
  double value = 0;
  std::string unit;   // "°C", "RPM", "V", "A", "W", "J", "%RH", "" (intrusion)
  std::optional<double> min, max, crit;
  bool alarm = false;          // any alarm flag the chip raised for it
  bool criticalAlarm = false;  // a critical-limit alarm among them
};

class SensorSource {
 public:
  virtual ~SensorSource() = default;
  // Every sensor readable right now; empty on a machine without any.
  virtual std::vector<SensorReading> read() = 0;
};

}  // namespace steward::vigild
