// The identify light's lease: who lit it, why, and until when. The request
// tool keeps it beside the light's registry property, as the entry's file
// "LEDLease" (an XML property list only root reads); the monitor daemon
// switches the light off at the deadline and removes the record. Both
// change the light and its record only while holding the entry's lock, so
// an expiry never switches off a light that someone lit again meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/PropertyValue.h"

namespace steward {

inline constexpr const char* kLightLeaseName = "LEDLease";
inline constexpr std::int64_t kLongestLightLease = 7 * 24 * 3600;  // seconds
inline constexpr std::size_t kLongestLightLeaseReason = 200;      // bytes

struct LightLease {
  std::string owner;  // "" when the caller was not known
  std::string reason;
  double deadline = 0;  // Unix time; the record keeps whole seconds
};

std::string lightLeasePath(const std::string& entryDirectory);

// {"Owner", "Reason", "Deadline" (a date)}, and back; none for a record
// without a deadline date or with entries of the wrong kind.
MutableDictionaryRef lightLeaseRecord(const LightLease& lease);
std::optional<LightLease> lightLeaseFromRecord(const ValueRef& record);

// None when there is no record or it cannot be read.
std::optional<LightLease> readLightLease(const std::string& path);
// Replaces the record as a whole; a new file gets mode 0600.
[[nodiscard]] bool writeLightLease(const std::string& path, const LightLease& lease,
                                   std::string* error);
// True when no record is left.
bool removeLightLease(const std::string& path);

// What "status" shows of a running lease: "Owner" (when known), "Reason",
// "Deadline" and "SecondsLeft" (whole seconds, rounded up; 0 once past).
MutableDictionaryRef lightLeaseStatus(const LightLease& lease, double now);

// The lock of the light's entry (its directory), held while this lives.
class LightEntryLock {
 public:
  // With `wait` false, gives up at once when another process holds it.
  LightEntryLock(const std::string& entryDirectory, bool wait);
  ~LightEntryLock();
  LightEntryLock(const LightEntryLock&) = delete;
  LightEntryLock& operator=(const LightEntryLock&) = delete;

  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

}  // namespace steward
