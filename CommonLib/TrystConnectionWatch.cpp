#include "CommonLib/TrystConnectionWatch.h"

#include <syslog.h>

namespace steward {

void trystLog(const std::string& message) {
  syslog(LOG_USER | LOG_NOTICE, "%s", message.c_str());
}

bool startConnectionWatch(DNSServiceRef serviceRef, std::shared_ptr<SocketWatch>* socketRef,
                          std::shared_ptr<RunLoopSource>* runLoopSource) {
  *socketRef = SocketWatch::create(DNSServiceRefSockFD(serviceRef), [serviceRef](SocketWatch& watch) {
    // A connection that fails to read (its daemon gone) stays readable
    // forever; stop watching it instead of spinning the loop.
    if (DNSServiceProcessResult(serviceRef) != kDNSServiceErr_NoError) watch.invalidate();
  });
  if (!*socketRef) return false;
  *runLoopSource = RunLoopSource::create(*socketRef);
  if (!*runLoopSource) return false;
  RunLoop::current().addSource(*runLoopSource, kRunLoopCommonModes);
  return true;
}

void stopConnectionWatch(DNSServiceRef* serviceRef, std::shared_ptr<SocketWatch>* socketRef,
                         std::shared_ptr<RunLoopSource>* runLoopSource) {
  if (*runLoopSource) {
    RunLoop::current().removeSource(*runLoopSource, kRunLoopCommonModes);
    (*runLoopSource)->invalidate();
    runLoopSource->reset();
  }
  if (*socketRef) {
    (*socketRef)->invalidate();
    socketRef->reset();
  }
  if (*serviceRef) {
    DNSServiceRefDeallocate(*serviceRef);
    *serviceRef = nullptr;
  }
}

}  // namespace steward
