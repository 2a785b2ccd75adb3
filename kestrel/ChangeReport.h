// The two reply entries that the changing commands share: "Plan", what a dry
// run would do, and "Verified", what a change was read back as.
#pragma once

#include <string>
#include <vector>

#include "platform/PropertyValue.h"

namespace steward {

// True when the request asks for a dry run ("dryRun" true).
bool isDryRun(const DictionaryRef& request);
// True when "dryRun" is there but not a boolean: such a request must not be
// carried out, as its sender may have meant a dry run.
bool hasMalformedDryRun(const DictionaryRef& request);

// One file, property, variable or unit a command would change; old is none
// when there is nothing there yet or it cannot be read.
struct PlannedChange {
  std::string target;
  ValueRef old;
  ValueRef replacement;
};

// "Plan": {"Allowed", "Run" (argument vectors), "Changes" ({"Target", "Old",
// "New"} each)}.
DictionaryRef makePlan(bool allowed, const std::vector<std::vector<std::string>>& run,
                       const std::vector<PlannedChange>& changes);

// "Verified": {"Requested", "Observed", "Agree", and "Previous" when given};
// none values are left out, and a missing observation never agrees.
DictionaryRef makeVerified(const ValueRef& requested, const ValueRef& observed,
                           const ValueRef& previous = nullptr);

}  // namespace steward
