#include "CommonLib/TrystQuerier.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "CommonLib/TrystBrowser.h"
#include "CommonLib/TrystResolver.h"
#include "platform/Format.h"

namespace steward {

namespace {
constexpr std::uint16_t kAddressRecordType = 1;  // A
constexpr std::uint16_t kInternetClass = 1;      // IN
}  // namespace

std::shared_ptr<TrystQuerier> TrystQuerier::querierWithHostTarget(
    StringRef hostTarget, std::int32_t port, std::int32_t interfaceIndex,
    const std::shared_ptr<TrystResolver>& parent) {
  auto querier = std::make_shared<TrystQuerier>();
  querier->setHostTarget(std::move(hostTarget));
  querier->setPort(port);
  querier->setInterfaceIndex(interfaceIndex);
  querier->setParent(parent);
  return querier;
}

TrystQuerier::~TrystQuerier() {
  _error = 0;
  stopConnectionWatch(&_serviceRef, &_socketRef, &_runLoopSource);
}

bool TrystQuerier::startQuerying() {
  stopQuerying();
  _error = DNSServiceQueryRecord(&_serviceRef, 0, static_cast<std::uint32_t>(interfaceIndex_),
                                 utf8OrNone(hostTarget_),
                                 kAddressRecordType, kInternetClass, DNSServiceQueryCallback,
                                 this);
  if (_error != kDNSServiceErr_NoError) {
    _serviceRef = nullptr;
    trystLog(stringWithFormat("[%d] TrystBrowser.startQuerying: DNSServiceQueryRecord failed with %d",
                              getpid(), _error));
    return false;
  }
  return startConnectionWatch(_serviceRef, &_socketRef, &_runLoopSource);
}

void TrystQuerier::stopQuerying() {
  stopConnectionWatch(&_serviceRef, &_socketRef, &_runLoopSource);
}

std::string TrystQuerier::description() const {
  return stringWithFormat("%@:%d", hostTarget_, port_);
}

StringRef TrystQuerier::_addressText(std::uint16_t recordType, std::uint16_t dataLength,
                                     const void* data) const {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  socklen_t length = 0;
  if (recordType == kAddressRecordType && dataLength == 4 && data) {
    address.sin_family = AF_INET;
    std::memcpy(&address.sin_addr, data, 4);
    length = sizeof address;
  }
  char host[46] = "";
  int rc = getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host,
                       nullptr, 0, NI_NUMERICHOST);
  if (rc != 0) {
    trystLog(stringWithFormat(
        "[%d] TrystQuerier.DNSServiceQueryCallback: Failed getnameinfo() for %s: %d", getpid(),
        description(), rc));
    return nullptr;
  }
  return makeString(host);
}

void TrystQuerier::DNSServiceQueryCallback(DNSServiceRef, DNSServiceFlags flags, std::uint32_t,
                                           DNSServiceErrorType errorCode, const char*,
                                           std::uint16_t recordType, std::uint16_t,
                                           std::uint16_t dataLength, const void* data,
                                           std::uint32_t, void* context) {
  auto* querier = static_cast<TrystQuerier*>(context);
  // Held here, so that all of them outlive the steps below.
  const std::shared_ptr<TrystResolver> resolver = querier->parent_;
  const std::shared_ptr<TrystBrowser> browser = resolver ? resolver->parent() : nullptr;
  const std::shared_ptr<TrystBrowserDelegate> delegate = browser ? browser->delegate() : nullptr;

  if (errorCode != kDNSServiceErr_NoError) {
    trystLog(stringWithFormat("[%d] TrystQuerier.DNSServiceQueryCallback: Failed to query for %s: %d",
                              getpid(), querier->description(), errorCode));
  } else if (StringRef address = querier->_addressText(recordType, dataLength, data)) {
    if ((flags & kTrystAddFlag) && delegate)
      delegate->trystBrowserAddedService(*browser, querier->_serviceInfo(*resolver, address));
  }
  querier->_finish(resolver, browser);
}

static ValueRef orEmpty(const StringRef& text) { return text ? text : makeString(""); }

DictionaryRef TrystQuerier::_serviceInfo(const TrystResolver& resolver,
                                         const StringRef& address) const {
  return std::make_shared<Dictionary>(std::vector<Dictionary::Entry>{
      {"ServiceName", orEmpty(resolver.serviceName())},
      {"IPv4Address", address},
      {"Port", makeInteger(port_)},
      {"Domain", orEmpty(resolver.domain())},
      {"Type", orEmpty(resolver.serviceType())},
  });
}

void TrystQuerier::_finish(const std::shared_ptr<TrystResolver>& resolver,
                           const std::shared_ptr<TrystBrowser>& browser) {
  stopQuerying();
  parent_.reset();
  if (resolver) resolver->setParent(nullptr);
  if (browser) browser->removeResolver(resolver.get());
  // May destroy this querier: nothing may follow.
  releaseSelf();
}

}  // namespace steward
