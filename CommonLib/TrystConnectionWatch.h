// The connection watch: how the service-discovery classes let the calling
// thread's run loop drive a DNS-SD connection. A socket watch on the
// connection's descriptor runs DNSServiceProcessResult whenever a reply is
// waiting, which calls the operation's reply function on the loop's thread.
// The descriptor belongs to the connection: the watch never closes it, and
// DNSServiceRefDeallocate does.
#pragma once

// The client header lives in its own folder with some libraries.
#if __has_include(<dns_sd.h>)
#include <dns_sd.h>
#else
#include <avahi-compat-libdns_sd/dns_sd.h>
#endif

#include <memory>
#include <string>

#include "platform/PropertyValue.h"
#include "platform/RunLoop.h"

namespace steward {

// The DNS-SD flag of a reply that announces (rather than withdraws).
inline constexpr DNSServiceFlags kTrystAddFlag = kDNSServiceFlagsAdd;

// The UTF-8 text of a string argument; none (asking the library for its
// default) when the string is absent.
inline const char* utf8OrNone(const StringRef& text) {
  return text ? text->str().c_str() : nullptr;
}

// Writes a service-discovery message to the system log at user.notice.
void trystLog(const std::string& message);

// Watches the descriptor of a started connection and adds a source for it
// to the current thread's run loop in the common modes. False, without a
// log entry, when the watch or the source cannot be made; the fields then
// keep what was made, for the stop to clean up, and the connection stays
// open until then.
[[nodiscard]] bool startConnectionWatch(DNSServiceRef serviceRef,
                                        std::shared_ptr<SocketWatch>* socketRef,
                                        std::shared_ptr<RunLoopSource>* runLoopSource);

// Ends what startConnectionWatch and the start function began: the source
// leaves the loop, the watch is invalidated, the connection deallocated,
// and all three fields are cleared. Safe inside the connection's own reply,
// and on an object that runs nothing.
void stopConnectionWatch(DNSServiceRef* serviceRef, std::shared_ptr<SocketWatch>* socketRef,
                         std::shared_ptr<RunLoopSource>* runLoopSource);

}  // namespace steward
