// Watches the service light's registry property when it is a plain file:
// the request tool's "serviceid" rewrites it, and each new value is handed
// on (to the management controller's identify). Runs on the calling
// thread's run loop through inotify.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/RunLoop.h"

namespace steward::vigild {

class LightPropertyWatch {
 public:
  // Gets true for a value other than 0.
  using Callback = std::function<void(bool on)>;

  LightPropertyWatch(std::string propertyPath, Callback callback);
  ~LightPropertyWatch();
  LightPropertyWatch(const LightPropertyWatch&) = delete;
  LightPropertyWatch& operator=(const LightPropertyWatch&) = delete;

  // Watches the property's directory on this thread's run loop; false with
  // the reason when it cannot.
  [[nodiscard]] bool start(std::string* error);

  // The property's value: none when it is missing or not a number.
  static std::optional<bool> readState(const std::string& path);

 private:
  void handleEvents();

  std::string path_;
  Callback callback_;
  int inotify_ = -1;
  std::shared_ptr<RunLoopSource> source_;
};

}  // namespace steward::vigild
