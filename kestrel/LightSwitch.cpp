#include "kestrel/LightSwitch.h"

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/CallerIdentity.h"
#include "kestrel/ChangeReport.h"
#include "kestrel/LightLease.h"
#include "platform/TextEncoding.h"

namespace steward {
namespace {

constexpr const char* kLightKey = "LED";
constexpr std::int32_t kNoErr = 0;
constexpr std::int32_t kIOErr = -36;
constexpr std::int32_t kParamErr = -50;

double unixNow() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

MutableDictionaryRef statusReply(std::int32_t status) {
  auto reply = makeMutableDictionary();
  reply->setObject(makeInteger(status), "OSStatus");
  return reply;
}

bool isOneLine(char32_t c) { return c >= 0x20 && c != 0x7F && !(c >= 0x80 && c < 0xA0); }

// What the request asks of the lease; none when it asks for something that
// makes no sense.
struct LeaseRequest {
  std::optional<std::int64_t> seconds;
  std::string reason;
};

std::optional<LeaseRequest> leaseRequest(const DictionaryRef& request, bool on) {
  LeaseRequest wanted;
  if (ValueRef seconds = request->objectForKey("seconds")) {
    auto integer = as<Integer>(seconds);
    if (!integer || integer->value() < 1 || integer->value() > kLongestLightLease || !on)
      return std::nullopt;
    wanted.seconds = integer->value();
  }
  if (ValueRef reason = request->objectForKey("reason")) {
    auto text = as<String>(reason);
    if (!text || !wanted.seconds || text->str().size() > kLongestLightLeaseReason ||
        unicode::replacingCharacters(text->str(), isOneLine, "") != text->str())
      return std::nullopt;
    wanted.reason = text->str();
  }
  return wanted;
}

// The property's number, or none when it cannot be read.
std::optional<std::int64_t> lightValue(const RegistryEntry& button) {
  StringRef text = button.copyProperty(kLightKey);
  if (!text) return std::nullopt;
  try {
    return std::stoll(text->str());
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// The light's real state: only where the property leads to the LED itself.
// (A plain file holds what was last asked of the management controller.)
ValueRef observedState(const RegistryEntry& button) {
  struct stat st;
  std::string path = button.directory() + "/" + kLightKey;
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return nullptr;
  auto value = lightValue(button);
  return value ? makeBoolean(*value > 0) : nullptr;
}

DictionaryRef plan(const RegistryEntry* button, bool on, const std::optional<LightLease>& lease) {
  std::vector<PlannedChange> changes;
  if (button) {
    auto value = lightValue(*button);
    changes.push_back({button->directory() + "/" + kLightKey,
                       value ? makeInteger(*value) : nullptr, makeInteger(on ? 1 : 0)});
    std::string path = lightLeasePath(button->directory());
    auto old = readLightLease(path);
    if (old || lease) {
      changes.push_back({path, old ? lightLeaseRecord(*old) : nullptr,
                         lease ? lightLeaseRecord(*lease) : nullptr});
    }
  }
  auto reply = makeMutableDictionary();
  reply->setObject(makePlan(true, {}, changes), "Plan");
  return reply;
}

}  // namespace

void switchLight(const RegistryEntry& button, bool on) {
  LightEntryLock lock(button.directory(), true);
  (void)removeLightLease(lightLeasePath(button.directory()));
  std::string error;
  (void)button.setProperty(kLightKey, makeInteger(on ? 1 : 0), &error);
}

bool usesLightAdditions(const DictionaryRef& request) {
  return request->objectForKey("seconds") || request->objectForKey("reason") ||
         isDryRun(request);
}

DictionaryRef switchLightWithAdditions(const DictionaryRef& request,
                                       const DictionaryRef& context, bool on,
                                       const std::optional<RegistryEntry>& button) {
  auto wanted = leaseRequest(request, on);
  if (!wanted) return statusReply(kParamErr);
  std::optional<LightLease> lease;
  if (wanted->seconds) {
    StringRef user = user_name_from_context(context);
    // Rounded up: the record keeps whole seconds, and no lease ends early.
    lease = LightLease{user ? user->str() : "", wanted->reason,
                       std::ceil(unixNow()) + static_cast<double>(*wanted->seconds)};
  }
  if (isDryRun(request)) return plan(button ? &*button : nullptr, on, lease);

  // Past a plan, "reason" alone is refused: a lease is asked for.
  auto reply = statusReply(kNoErr);
  ValueRef previous, observed;
  if (button) {
    LightEntryLock lock(button->directory(), true);
    previous = observedState(*button);
    std::string error;
    // Never a light left on without the lease that ends it.
    if (!writeLightLease(lightLeasePath(button->directory()), *lease, &error))
      return statusReply(kIOErr);
    (void)button->setProperty(kLightKey, makeInteger(1), &error);
    observed = observedState(*button);
    reply->setObject(lightLeaseRecord(*lease), "Lease");
  }
  reply->setObject(makeVerified(makeBoolean(on), observed, previous), "Verified");
  return reply;
}

}  // namespace steward
