// Ends the identify light's lease: at its deadline the light is switched off
// through its registry property and the record removed. A new or changed
// lease is seen at once (inotify on the entry's directory), and a deadline
// that passed while the daemon was down is handled at start. Runs on this
// thread's run loop; the deadline is a wall-clock time.
#pragma once

#include <memory>
#include <string>

#include "platform/RunLoop.h"
#include "vigild/SettingsWatch.h"

namespace steward::vigild {

class LightLeaseKeeper {
 public:
  explicit LightLeaseKeeper(std::string entryDirectory);
  ~LightLeaseKeeper();
  LightLeaseKeeper(const LightLeaseKeeper&) = delete;
  LightLeaseKeeper& operator=(const LightLeaseKeeper&) = delete;

  // Watches the entry and ends a lease already due. False, with the
  // reason, when the watch or the timer cannot be made.
  [[nodiscard]] bool start(std::string* error);

 private:
  void check();
  void armAt(double unixTime);

  std::string directory_;
  SettingsWatch watch_;  // the lease file, as the settings file is followed
  int timer_ = -1;
  std::shared_ptr<RunLoopSource> timerSource_;
};

}  // namespace steward::vigild
