// What a host answered, in words for people: the verdict on one exchange,
// the status table, and one summary line per host.
#pragma once

#include <string>

#include "platform/PropertyValue.h"
#include "stewardctl/Transport.h"

namespace steward::ctl {

struct Outcome {
  DictionaryRef reply;  // the parsed reply, also when it is a refusal
  std::string failure;  // empty when the command was carried out
  bool ok() const { return failure.empty(); }
};

// Turns transport failures, HTTP refusals, unreadable bodies, error
// replies, "CONNECT-AUTH" and non-zero "OSStatus" into a failure in words.
Outcome judge(const Exchange& exchange);

// The host's error code in words, the code kept at the end.
std::string errorInWords(const std::string& code);

// The status reply as a table: health and service light on top, then the
// sensors grouped by kind with their units and limits, alarms marked, then
// the power supplies.
std::string statusTable(const Dictionary& reply);

// The boot entries of a "getBootPath" reply with "Devices", one a line:
// name, description, and whether it is the boot device, the next start's
// only or inactive.
std::string bootListText(const Dictionary& reply);
// The audit log's records as a table, oldest first, then whether the chain of
// record hashes holds.
std::string auditTable(const Dictionary& reply);

// One line for a command carried out: "health ok, 12 sensors, 1 alarm",
// "service light on", "restarting" ... `request` is what was sent.
// A change's line ends with its read-back ("...; verified: Boot0001").
std::string summaryOf(const Dictionary& request, const Dictionary& reply);

}  // namespace steward::ctl
