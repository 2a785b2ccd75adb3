// What goes into the audit log about one request: every changing request
// (a dry run aside) and every refusal, with the caller, the parameters with
// their secrets masked, the old and new value the reply's "Verified" read
// back, and the reply's verdict. Also sent to the system log, shortly.
#pragma once

#include <string>
#include <string_view>

#include "host/AuditLog.h"
#include "platform/PropertyValue.h"

namespace steward {

// Whether a command changes the machine; new changing commands join the list.
bool is_changing_command(std::string_view command);

// Whether the reply refuses the caller ("Message" "CONNECT-AUTH").
bool is_refusal(const DictionaryRef& reply);

// A copy in which the value of every dictionary key naming a password, secret
// or passphrase (in any case), at any depth, is replaced by "********".
ValueRef masked_secrets(const ValueRef& value);

// The members of the record's JSON object, in a fixed order: "time", "user"
// (null for none), "command", "parameters" (the request without "command"
// and "clientContext", masked; a note of its size instead when its JSON is
// longer than 64 KiB), "old", "new" (masked too), "result".
std::string audit_record_body(const DictionaryRef& request, const StringRef& user,
                              const DictionaryRef& reply, double unixTime);

// Appends the record when the request is one to record. A log that cannot be
// written is reported to the system log and otherwise ignored.
void record_request(AuditLog& log, const DictionaryRef& request, const StringRef& user,
                    const DictionaryRef& reply, double unixTime);

}  // namespace steward
