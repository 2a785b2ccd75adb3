// The tool's own request handler: reads the request's "command" and runs one
// of its command handlers. The caller adds "command" and "clientContext" to
// the response and answers a missing response with "UNEXPECTED_COMMAND".
#pragma once

#include "platform/PropertyValue.h"

namespace steward {

// One command handler: (request, context, lock descriptor) -> response or
// none. The context may be none (no context file could be opened); the lock
// descriptor is passed on untouched.
using KestrelHandler = DictionaryRef (*)(const DictionaryRef& request,
                                         const MutableDictionaryRef& context,
                                         int& lockFileFD);

// Looks up the request's "command" in the command table by exact,
// case-sensitive comparison and returns that handler's response, or none for
// a missing, non-string or unknown command. The request must not be none.
DictionaryRef kestrel_dispatch(const DictionaryRef& request,
                               const MutableDictionaryRef& context,
                               int& lockFileFD);

// The handlers: the eight of the service, then the additions.
DictionaryRef kestrel_status(const DictionaryRef& request,
                             const MutableDictionaryRef& context,
                             int& lockFileFD);
DictionaryRef kestrel_profile(const DictionaryRef& request,
                              const MutableDictionaryRef& context,
                              int& lockFileFD);
DictionaryRef kestrel_email(const DictionaryRef& request,
                            const MutableDictionaryRef& context,
                            int& lockFileFD);
DictionaryRef kestrel_serviceid(const DictionaryRef& request,
                                const MutableDictionaryRef& context,
                                int& lockFileFD);
DictionaryRef kestrel_restart(const DictionaryRef& request,
                              const MutableDictionaryRef& context,
                              int& lockFileFD);
DictionaryRef kestrel_shutdown(const DictionaryRef& request,
                               const MutableDictionaryRef& context,
                               int& lockFileFD);
DictionaryRef kestrel_set_boot_path(const DictionaryRef& request,
                                    const MutableDictionaryRef& context,
                                    int& lockFileFD);
DictionaryRef kestrel_get_boot_path(const DictionaryRef& request,
                                    const MutableDictionaryRef& context,
                                    int& lockFileFD);
// The audit log's records of a time range; administrators only.
DictionaryRef kestrel_get_audit_log(const DictionaryRef& request,
                                    const MutableDictionaryRef& context,
                                    int& lockFileFD);

// The pending delayed restart or shutdown, read or cancelled.
DictionaryRef kestrel_power_schedule(const DictionaryRef& request,
                                     const MutableDictionaryRef& context,
                                     int& lockFileFD);

}  // namespace steward
