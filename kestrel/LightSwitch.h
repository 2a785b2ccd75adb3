// Switching the identify light: the plain on/off of "serviceid", which also
// ends any lease, and the same with a lease ("seconds", "reason") or as a
// plan ("dryRun"), whose replies add what was read back.
#pragma once

#include <optional>

#include "platform/DeviceRegistry.h"
#include "platform/PropertyValue.h"

namespace steward {

// Sets the light's property to 1 or 0 and removes any lease, both under
// the entry's lock; the outcome is not examined.
void switchLight(const RegistryEntry& button, bool on);

// Whether the request carries "seconds" or "reason", or asks for a dry run.
bool usesLightAdditions(const DictionaryRef& request);

// The reply to such a request: -50 for a bad "seconds" (an integer from 1
// to a week, only with the light on) or "reason" (one line of text, only
// with "seconds"); a plan for a dry run; else the switch with its lease,
// answered with "Verified" and the lease set. `button` is none when the
// machine has no light; the caller is whoever the context names.
DictionaryRef switchLightWithAdditions(const DictionaryRef& request,
                                       const DictionaryRef& context, bool on,
                                       const std::optional<RegistryEntry>& button);

}  // namespace steward
