#include "vigild/LightLeaseKeeper.h"

#include <sys/timerfd.h>
#include <syslog.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "kestrel/LightLease.h"
#include "platform/DeviceRegistry.h"

namespace steward::vigild {
namespace {

// Another process changing the light holds the entry for a moment only.
constexpr double kLockRetry = 0.05;

double unixNow() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

LightLeaseKeeper::LightLeaseKeeper(std::string entryDirectory)
    : directory_(std::move(entryDirectory)),
      watch_(lightLeasePath(directory_), [this] { check(); }) {}

LightLeaseKeeper::~LightLeaseKeeper() {
  if (timerSource_) timerSource_->invalidate();
  if (timer_ >= 0) close(timer_);
}

bool LightLeaseKeeper::start(std::string* error) {
  timer_ = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
  if (timer_ < 0) {
    *error = std::string("cannot make the lease timer: ") + std::strerror(errno);
    return false;
  }
  if (!watch_.start(error)) return false;
  timerSource_ = RunLoopSource::create(SocketWatch::create(timer_, [this](SocketWatch&) {
    std::uint64_t expirations;
    if (read(timer_, &expirations, sizeof expirations) > 0) check();
  }));
  RunLoop::current().addSource(timerSource_, kRunLoopCommonModes);
  check();
  return true;
}

void LightLeaseKeeper::check() {
  std::string path = lightLeasePath(directory_);
  auto lease = readLightLease(path);
  double now = unixNow();
  if (!lease || lease->deadline > now) return armAt(lease ? lease->deadline : 0);
  LightEntryLock lock(directory_, false);
  if (!lock.held()) return armAt(now + kLockRetry);
  // Read again under the lock: the tool may have replaced or ended it.
  lease = readLightLease(path);
  if (!lease || lease->deadline > now) return armAt(lease ? lease->deadline : 0);
  std::string error;
  if (!RegistryEntry(directory_).setProperty("LED", makeInteger(0), &error))
    syslog(LOG_ERR, "cannot switch the service light off: %s", error.c_str());
  if (!removeLightLease(path)) syslog(LOG_ERR, "cannot remove %s: %m", path.c_str());
  syslog(LOG_NOTICE, "service light off: the lease of %s ended (%s)",
         lease->owner.empty() ? "an unknown caller" : lease->owner.c_str(),
         lease->reason.c_str());
  armAt(0);
}

// 0 disarms.
void LightLeaseKeeper::armAt(double unixTime) {
  itimerspec when{};
  if (unixTime > 0) {
    double whole = std::floor(unixTime);
    when.it_value.tv_sec = static_cast<time_t>(whole);
    when.it_value.tv_nsec = static_cast<long>((unixTime - whole) * 1e9);
    if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
  }
  if (timerfd_settime(timer_, TFD_TIMER_ABSTIME, &when, nullptr) != 0)
    syslog(LOG_ERR, "lease timer: %m");
}

}  // namespace steward::vigild
