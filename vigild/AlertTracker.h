// Decides which sensor transitions are worth a mail. Each sensor's level
// (ok, warning, critical; below the minimum level counts as ok) is compared
// with the level last reported for it: a change is reported at once,
// unless the sensor was reported less than the hold-off ago; then it waits
// for the window's end and reports the level the sensor has then, or
// nothing when it is back where it was. So a flapping sensor costs at most
// one mail per window, and the last one tells how it settled.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/RunLoop.h"
#include "vigild/SensorSource.h"
#include "vigild/Settings.h"

namespace steward::vigild {

// The level of one reading, by the rule of the status' health.
Level levelOf(const SensorReading& reading);

struct Alert {
  SensorReading reading;  // the latest reading of the sensor
  Level level;            // what it is now
  Level was;              // what was reported before (ok at first)
};

class AlertTracker {
 public:
  // Takes one poll's readings; a sensor missing from them keeps its last
  // level. Answers the transitions to report now.
  std::vector<Alert> observe(const std::vector<SensorReading>& readings, Level minimum,
                             RunLoopClock::duration holdOff, RunLoopClock::time_point now);

 private:
  struct Track {
    SensorReading last;
    Level current = Level::kOk;
    Level reported = Level::kOk;
    bool everReported = false;
    RunLoopClock::time_point reportedAt;
  };

  std::map<std::string, Track> tracks_;  // by chip, kind, label and its count
};

}  // namespace steward::vigild
