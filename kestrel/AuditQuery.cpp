#include "kestrel/AuditQuery.h"

#include <cstdint>

#include "host/JsonText.h"

namespace steward {

namespace {

constexpr std::int32_t kParamErr = -50;

// The bound's time text ("" for none: no bound); false for a bound that is
// not a date. Times of the log compare as text.
bool boundOf(const DictionaryRef& request, const char* key, std::string* text) {
  ValueRef value = request->objectForKey(key);
  if (!value) return true;
  auto date = as<Date>(value);
  if (date) *text = isoTime(date->unixTime());
  return date && !text->empty();
}

}  // namespace

DictionaryRef audit_log_reply(const DictionaryRef& request, const AuditLog::Contents& contents) {
  auto reply = makeMutableDictionary();
  std::string from, to;
  if (!boundOf(request, "from", &from) || !boundOf(request, "to", &to)) {
    reply->setObject(makeInteger(kParamErr), "OSStatus");
    return reply;
  }
  auto records = makeMutableArray();
  for (const std::string& line : contents.lines) {
    auto record = as<Dictionary>(valueOfJson(line));
    if (!record) {
      auto unreadable = makeMutableDictionary();
      unreadable->setObject(makeString(line), "Unreadable");
      records->addObject(unreadable);
      continue;
    }
    auto time = as<String>(record->objectForKey("time"));
    std::string when = time ? time->str() : "";
    if ((from.empty() || when >= from) && (to.empty() || when <= to)) records->addObject(record);
  }
  reply->setObject(records, "Records");
  reply->setObject(makeBoolean(contents.intact), "ChainIntact");
  if (!contents.intact) reply->setObject(makeString(contents.brokenAt), "BrokenAt");
  return reply;
}

}  // namespace steward
