// Sensors read through libsensors, with the labels and computations of its
// configuration (/etc/sensors3.conf and /etc/sensors.d) applied.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <utility>

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

  // Values and alarm flags are read at every call; labels and limits, which
  // seldom change, at most once per kDetailsLifetime, so that a poll of
  // hundreds of sensors costs few file reads.
  std::vector<SensorReading> read() override;

  static constexpr auto kDetailsLifetime = std::chrono::seconds(60);

 private:
  struct Details {
    std::string label;
    std::optional<double> min, max, crit;
    std::chrono::steady_clock::time_point readAt;
  };

  bool ready_ = false;
  // By chip (libsensors keeps its chips in place until cleanup) and feature.
  std::map<std::pair<const void*, int>, Details> details_;
};

}  // namespace steward::vigild
