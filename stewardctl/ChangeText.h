// What a change would do and what it did, in words for people: a dry run's
// plan, the read-back of a change, and the additions' summaries (the light's
// lease, a scheduled or pending power action, a test mail).
#pragma once

#include <string>

#include "platform/PropertyValue.h"

namespace steward::ctl {

// A value in one short piece: a string as itself, a date in UTC, none as
// "(none)", anything else as compact JSON.
std::string shortText(const ValueRef& value);

// The "Plan" entry: whether the caller may, each program that would run,
// and each target's old and new value (a multi-line value as the lines
// that go and come).
std::string planText(const Dictionary& plan);

// The "Verified" entry in one line, "" when the reply has none.
std::string verifiedText(const Dictionary& reply);

// Why a change did not take effect as asked ("Verified" observed something
// else, a test mail refused); "" when nothing says so. A change whose result
// could not be observed is no disagreement.
std::string changeFailure(const Dictionary& reply);

// "on", with the lease's owner, reason and time left while one runs.
std::string leaseText(const Dictionary& light);

// "restart graceful at 2026-12-07 06:00:00 UTC, forced after 60 s, asked by
// alice": a "Scheduled", "Pending" or "Cancelled" entry.
std::string powerText(const Dictionary& entry);

}  // namespace steward::ctl
