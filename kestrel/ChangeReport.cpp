#include "kestrel/ChangeReport.h"

namespace steward {

namespace {

void set_if_present(const MutableDictionaryRef& dictionary, const ValueRef& value,
                    const char* key) {
  if (value) dictionary->setObject(value, key);
}

MutableArrayRef string_array(const std::vector<std::string>& strings) {
  auto array = makeMutableArray();
  for (const std::string& s : strings) array->addObject(makeString(s));
  return array;
}

}  // namespace

bool isDryRun(const DictionaryRef& request) {
  auto flag = as<Boolean>(request->objectForKey("dryRun"));
  return flag && flag->value();
}

bool hasMalformedDryRun(const DictionaryRef& request) {
  ValueRef flag = request->objectForKey("dryRun");
  return flag && !as<Boolean>(flag);
}

DictionaryRef makePlan(bool allowed, const std::vector<std::vector<std::string>>& run,
                       const std::vector<PlannedChange>& changes) {
  auto plan = makeMutableDictionary();
  plan->setObject(makeBoolean(allowed), "Allowed");
  auto commands = makeMutableArray();
  for (const auto& argv : run) commands->addObject(string_array(argv));
  plan->setObject(commands, "Run");
  auto entries = makeMutableArray();
  for (const PlannedChange& change : changes) {
    auto entry = makeMutableDictionary();
    entry->setObject(makeString(change.target), "Target");
    set_if_present(entry, change.old, "Old");
    set_if_present(entry, change.replacement, "New");
    entries->addObject(entry);
  }
  plan->setObject(entries, "Changes");
  return plan;
}

DictionaryRef makeVerified(const ValueRef& requested, const ValueRef& observed,
                           const ValueRef& previous) {
  auto verified = makeMutableDictionary();
  set_if_present(verified, requested, "Requested");
  set_if_present(verified, observed, "Observed");
  set_if_present(verified, previous, "Previous");
  verified->setObject(makeBoolean(observed && isEqual(requested, observed)), "Agree");
  return verified;
}

}  // namespace steward
