// The baseboard management controller as the monitor sees it: its sensors,
// its chassis identify light and whether it answers. A worker thread talks
// to the controller, which can take seconds, so that the run loop only
// ever reads the last result and queues light changes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/IpmiConnection.h"
#include "platform/PropertyValue.h"
#include "vigild/SensorSource.h"

namespace steward::vigild {

class ManagementController : public SensorSource {
 public:
  static constexpr const char* kChip = "bmc";
  static constexpr const char* kCacheDirectory = "/var/cache/vigild/sdr";

  ManagementController(IpmiTarget target, std::string cacheDirectory = kCacheDirectory,
                       std::chrono::milliseconds pollInterval = std::chrono::seconds(10));
  ~ManagementController() override;  // stops the worker, waiting for its call to end
  ManagementController(const ManagementController&) = delete;
  ManagementController& operator=(const ManagementController&) = delete;

  // Reads everything now, on the calling thread.
  void poll();
  // From now on a worker polls every interval and applies light changes.
  void start();

  // The sensors of the last poll, with chip kChip. Never blocks on the
  // controller.
  std::vector<SensorReading> read() override;
  // Queues the identify light's state; the worker applies it, then reads
  // the state back.
  void requestIdentify(bool on);

  // "ServiceLight": Available while the controller answers, On as read
  // back (else as last applied), Confirmed whether it was read back,
  // Device "bmc".
  MutableDictionaryRef lightStatus();
  // "ManagementController": Address, Available, Error when the last poll
  // failed.
  MutableDictionaryRef status();

 private:
  void run();
  void applyIdentify(bool on);

  IpmiConnection connection_;  // the worker's alone once started
  std::string cacheDirectory_;
  std::chrono::milliseconds pollInterval_;
  std::thread worker_;

  std::mutex mutex_;  // guards what follows
  std::condition_variable wake_;
  bool stopping_ = false;
  std::optional<bool> pendingIdentify_;
  bool answered_ = false;
  std::string error_ = "not read yet";
  std::vector<SensorReading> readings_;
  std::optional<bool> identifyReadBack_;
  std::optional<bool> identifyApplied_;
};

}  // namespace steward::vigild
