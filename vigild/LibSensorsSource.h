// Sensors read through libsensors, with the labels and computations of its
// configuration (/etc/sensors3.conf and /etc/sensors.d) applied.
#pragma once

#include <string>

#include "vigild/SensorSource.h"

namespace steward::vigild {

class LibSensorsSource final : public SensorSource {
 public:
  // Loads the chip list; when that fails, read() answers no sensors and
  // *error (when given) says why.
  explicit LibSensorsSource(std::string* error = nullptr);
  ~LibSensorsSource() override;
  LibSensorsSource(const LibSensorsSource&) = delete;
  LibSensorsSource& operator=(const LibSensorsSource&) = delete;

  std::vector<SensorReading> read() override;

 private:
  bool ready_ = false;
};

}  // namespace steward::vigild
