#include "host/RecordedDispatch.h"

#include <time.h>

#include "host/AuditRecord.h"
#include "host/CallerIdentity.h"
#include "host/ExceptionGuard.h"
#include "host/RequestReplay.h"
#include "steward_kestreldispatcher.h"

namespace steward {

namespace {

double unixTimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

DictionaryRef dispatch_recorded(const DictionaryRef& request,
                                const MutableDictionaryRef& context, int& lockFileFD) {
  double now = unixTimeNow();
  auto command = as<String>(request->objectForKey("command"));
  bool changing = command && is_changing_command(command->str());
  RequestReplay replay(context, now);
  if (DictionaryRef kept = changing ? replay.storedReply(request) : nullptr) return kept;
  DictionaryRef reply =
      replyGuarded([&] { return kestrel_dispatch(request, context, lockFileFD); });
  if (changing) replay.keep(request, reply);
  AuditLog log;
  record_request(log, request, user_name_from_context(context), reply, now);
  return reply;
}

}  // namespace steward
