#include "host/RequestReplay.h"

#include <cmath>

#include "host/AuditRecord.h"
#include "host/CallerIdentity.h"
#include "kestrel/ChangeReport.h"

namespace steward {

namespace {

constexpr const char* kRepliesKey = "requestReplies";

std::string textFor(const ValueRef& value) {
  auto string = as<String>(value);
  return string ? string->str() : std::string();
}

}  // namespace

RequestReplay::RequestReplay(MutableDictionaryRef context, double now)
    : context_(std::move(context)), now_(now) {}

StringRef RequestReplay::requestId(const DictionaryRef& request) {
  auto id = as<String>(request->objectForKey("requestId"));
  if (!id || id->str().empty() || id->str().size() > kMaximumRequestIdLength ||
      isDryRun(request)) {
    return nullptr;
  }
  return id;
}

// An entry from a clock set back by more than the window is dropped too.
MutableArrayRef RequestReplay::liveEntries() const {
  auto live = makeMutableArray();
  auto kept = context_ ? as<Array>(context_->objectForKey(kRepliesKey)) : nullptr;
  if (!kept) return live;
  for (const ValueRef& value : kept->objects()) {
    auto entry = as<Dictionary>(value);
    auto time = entry ? as<Real>(entry->objectForKey("Time")) : nullptr;
    if (time && std::fabs(now_ - time->value()) < kWindowSeconds) live->addObject(entry);
  }
  return live;
}

bool RequestReplay::matches(const Dictionary& entry, const DictionaryRef& request) const {
  return textFor(entry.objectForKey("Id")) == textFor(request->objectForKey("requestId")) &&
         textFor(entry.objectForKey("User")) == textFor(user_name_from_context(context_)) &&
         textFor(entry.objectForKey("Command")) == textFor(request->objectForKey("command"));
}

DictionaryRef RequestReplay::storedReply(const DictionaryRef& request) const {
  if (!requestId(request)) return nullptr;
  auto entries = liveEntries();
  for (const ValueRef& value : entries->objects()) {
    auto entry = as<Dictionary>(value);
    if (matches(*entry, request)) return as<Dictionary>(entry->objectForKey("Reply"));
  }
  return nullptr;
}

void RequestReplay::keep(const DictionaryRef& request, const DictionaryRef& reply) {
  StringRef id = requestId(request);
  if (!context_ || !id || !reply || is_refusal(reply)) return;
  auto entries = liveEntries();
  for (std::size_t i = entries->count(); i-- > 0;) {
    auto entry = as<Dictionary>(entries->objectAtIndex(i));
    if (matches(*entry, request)) entries->removeObjectAtIndex(i);
  }
  while (entries->count() >= kCapacity) entries->removeObjectAtIndex(0);
  auto entry = makeMutableDictionary();
  entry->setObject(id, "Id");
  entry->setObject(makeString(textFor(user_name_from_context(context_))), "User");
  entry->setObject(makeString(textFor(request->objectForKey("command"))), "Command");
  entry->setObject(makeReal(now_), "Time");
  entry->setObject(reply, "Reply");
  entries->addObject(entry);
  context_->setObject(entries, kRepliesKey);
}

}  // namespace steward
