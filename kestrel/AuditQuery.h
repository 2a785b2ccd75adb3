// The reply of "getAuditLog": the records of a time range and whether the
// chain of the whole log holds.
#pragma once

#include "host/AuditLog.h"
#include "platform/PropertyValue.h"

namespace steward {

// {"Records": the records whose time lies within the request's "from" and
// "to" dates (each optional, both ends included), oldest first, each the
// record's JSON object as a dictionary (a line that does not read as one:
// {"Unreadable": line}, always listed); "ChainIntact"; "BrokenAt" when it is
// not}. {"OSStatus": -50} when "from" or "to" is there but not a date.
DictionaryRef audit_log_reply(const DictionaryRef& request, const AuditLog::Contents& contents);

}  // namespace steward
