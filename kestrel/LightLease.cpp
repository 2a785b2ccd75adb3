#include "kestrel/LightLease.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>

#include "platform/AtomicFile.h"
#include "platform/PropertyList.h"

namespace steward {

std::string lightLeasePath(const std::string& entryDirectory) {
  return entryDirectory + "/" + kLightLeaseName;
}

MutableDictionaryRef lightLeaseRecord(const LightLease& lease) {
  auto record = makeMutableDictionary();
  record->setObject(makeString(lease.owner), "Owner");
  record->setObject(makeString(lease.reason), "Reason");
  record->setObject(Date::fromUnixTime(lease.deadline), "Deadline");
  return record;
}

std::optional<LightLease> lightLeaseFromRecord(const ValueRef& record) {
  auto dictionary = as<Dictionary>(record);
  if (!dictionary) return std::nullopt;
  auto deadline = as<Date>(dictionary->objectForKey("Deadline"));
  ValueRef owner = dictionary->objectForKey("Owner"), reason = dictionary->objectForKey("Reason");
  if (!deadline || (owner && !as<String>(owner)) || (reason && !as<String>(reason)))
    return std::nullopt;
  return LightLease{owner ? textOf(owner) : "", reason ? textOf(reason) : "",
                    deadline->unixTime()};
}

std::optional<LightLease> readLightLease(const std::string& path) {
  if (access(path.c_str(), F_OK) != 0) return std::nullopt;
  std::string error;
  return lightLeaseFromRecord(
      propertyListFromFile(path, Mutability::kImmutable, nullptr, &error));
}

bool writeLightLease(const std::string& path, const LightLease& lease, std::string* error) {
  std::string bytes;
  return propertyListToData(lightLeaseRecord(lease), PropertyListFormat::kXML, &bytes, error) &&
         writeFileAtomically(path, bytes, error, 0600);
}

bool removeLightLease(const std::string& path) {
  return unlink(path.c_str()) == 0 || errno == ENOENT;
}

MutableDictionaryRef lightLeaseStatus(const LightLease& lease, double now) {
  auto status = makeMutableDictionary();
  if (!lease.owner.empty()) status->setObject(makeString(lease.owner), "Owner");
  status->setObject(makeString(lease.reason), "Reason");
  status->setObject(Date::fromUnixTime(lease.deadline), "Deadline");
  double left = std::ceil(lease.deadline - now);
  status->setObject(makeInteger(left > 0 ? static_cast<std::int64_t>(left) : 0), "SecondsLeft");
  return status;
}

LightEntryLock::LightEntryLock(const std::string& entryDirectory, bool wait)
    : fd_(open(entryDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  if (fd_ < 0) return;
  int rc;
  while ((rc = flock(fd_, LOCK_EX | (wait ? 0 : LOCK_NB))) != 0 && errno == EINTR) {
  }
  held_ = rc == 0;
}

LightEntryLock::~LightEntryLock() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace steward
