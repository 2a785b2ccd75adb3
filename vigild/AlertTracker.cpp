#include "vigild/AlertTracker.h"

#include "vigild/Status.h"

namespace steward::vigild {

Level levelOf(const SensorReading& reading) {
  std::string health = healthOf({reading});
  if (health == "critical") return Level::kCritical;
  return health == "warning" ? Level::kWarning : Level::kOk;
}

std::vector<Alert> AlertTracker::observe(const std::vector<SensorReading>& readings,
                                         Level minimum, RunLoopClock::duration holdOff,
                                         RunLoopClock::time_point now) {
  std::map<std::string, int> seen;  // labels need not be unique on a chip
  for (const SensorReading& reading : readings) {
    std::string key = reading.chip + '\n' + reading.kind + '\n' + reading.label;
    Track& track = tracks_[key + '\n' + std::to_string(seen[key]++)];
    Level level = levelOf(reading);
    track.current = level >= minimum ? level : Level::kOk;
    track.last = reading;
  }
  std::vector<Alert> alerts;
  for (auto& [key, track] : tracks_) {
    if (track.current == track.reported) continue;
    if (track.everReported && now - track.reportedAt < holdOff) continue;
    alerts.push_back({track.last, track.current, track.reported});
    track.reported = track.current;
    track.everReported = true;
    track.reportedAt = now;
  }
  return alerts;
}

}  // namespace steward::vigild
