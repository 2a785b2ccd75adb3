// The tool's dispatch with what surrounds every request: a retry of a kept
// request id is answered from the context, and changing requests and
// refusals are written to the audit log.
#pragma once

#include "platform/PropertyValue.h"

namespace steward {

// The reply of kestrel_dispatch (an exception answered as replyGuarded does),
// or the reply kept for a retry, which then runs nothing. Requests that use
// neither "requestId" nor a changing or refused command take exactly the
// plain dispatch.
DictionaryRef dispatch_recorded(const DictionaryRef& request,
                                const MutableDictionaryRef& context, int& lockFileFD);

}  // namespace steward
