// "restart" and "shutdown" with options, and "powerSchedule", which reads
// and cancels a delayed action. Everything is left to systemd's own timers
// and job time-outs, so no process of this tool stays behind.
#pragma once

#include "kestrel/PowerRequest.h"
#include "platform/PropertyValue.h"

namespace steward {

// The reply to a request that hasPowerOptions: "CONNECT-AUTH" for a caller
// outside "admin" (a dry run plans for everyone), "OSStatus" -50 for
// malformed options, else `successMessage` with "Scheduled" and "Verified".
DictionaryRef powerActionReply(const DictionaryRef& request, const MutableDictionaryRef& context,
                               PowerAction action, const char* successMessage);

// "Message" "PENDING" with "Pending", or "NOTHING-PENDING"; with "cancel"
// true the pending action is cancelled: "CANCELLED" with "Cancelled" and
// "Verified". Admins only, but a dry run plans for everyone.
DictionaryRef powerScheduleReply(const DictionaryRef& request, const MutableDictionaryRef& context);

}  // namespace steward
