// Calls back when a file is written, replaced, created or removed. The
// request tool replaces /etc/vigild.conf by renaming a new file over it, so
// the directory is watched (inotify), not the file. Runs on this thread's
// run loop.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/RunLoop.h"

namespace steward::vigild {

class SettingsWatch {
 public:
  // One call per batch of events, however many changes it holds.
  SettingsWatch(std::string path, std::function<void()> changed);
  ~SettingsWatch();
  SettingsWatch(const SettingsWatch&) = delete;
  SettingsWatch& operator=(const SettingsWatch&) = delete;

  // False, with the reason in *error, when the directory cannot be watched.
  [[nodiscard]] bool start(std::string* error);
  // Handles the changes that have happened by now, without waiting for the
  // run loop to come to them.
  void catchUp() {
    if (fd_ >= 0) readEvents();
  }

 private:
  void readEvents();

  std::string directory_, name_;
  std::function<void()> changed_;
  int fd_ = -1;
  std::shared_ptr<RunLoopSource> source_;
};

}  // namespace steward::vigild
