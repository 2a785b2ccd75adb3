// "setBootPath" with the keys that make the change last for the next start
// only ("once"), take back a pending once-device ("clearOnce") or only plan
// it ("dryRun"). The firmware variable tool makes the change and publishes
// the result into the registry, where it is read back.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kestrel/BootPublication.h"
#include "platform/DeviceRegistry.h"
#include "platform/PropertyValue.h"

namespace steward {

struct BootChange {
  enum class Kind { kPersistent, kOnce, kClearOnce };
  Kind kind = Kind::kPersistent;
  std::string value;  // the boot path; empty for kClearOnce
};

// True when a "setBootPath" request has "once", "clearOnce" or "dryRun".
bool usesBootChangeKeys(const DictionaryRef& request);

// The change the request asks for; none, with the reason, when "once" or
// "clearOnce" is there but not a boolean (an integer 1 must not quietly
// become a persistent change), the boot path is missing, not a string or
// holds a NUL byte, or "clearOnce" comes with a boot path or "once" true.
std::optional<BootChange> parseBootChange(const DictionaryRef& request, std::string* error);

// What the change would do to the published state.
struct BootPlan {
  std::vector<std::string> arguments;  // the tool's argument vector
  std::string key;                     // the property that would change
  StringRef old;                       // its value now; none when there is none
  // Its value afterwards: the entry the boot path names, or the boot path
  // itself when the entries are not published; none when it would go.
  StringRef replacement;
  std::string failure;  // why the tool would refuse; empty when it would not
};

BootPlan planBootChange(const BootChange& change, const PublishedBoot& published,
                        const std::string& toolPath);

// The reply to a request with those keys: an error, a "Plan", "CONNECT-AUTH"
// for a caller who may not change the firmware, or "SUCCESS" with
// "Verified" and, when the tool refused, "Failure" with its message.
DictionaryRef answerBootChange(const DictionaryRef& request, bool admin,
                               const std::string& toolPath,
                               const DeviceRegistry& registry = DeviceRegistry());

}  // namespace steward
