#include "CommonLib/TrystResolver.h"

#include <unistd.h>

#include "CommonLib/TrystQuerier.h"
#include "platform/Format.h"

namespace steward {

std::shared_ptr<TrystResolver> TrystResolver::resolverWithServiceName(
    StringRef serviceName, StringRef serviceType, StringRef domain, std::int32_t interfaceIndex,
    const std::shared_ptr<TrystBrowser>& parent) {
  auto resolver = std::make_shared<TrystResolver>();
  resolver->setServiceName(std::move(serviceName));
  resolver->setServiceType(std::move(serviceType));
  resolver->setDomain(std::move(domain));
  resolver->setInterfaceIndex(interfaceIndex);
  resolver->setParent(parent);
  return resolver;
}

TrystResolver::~TrystResolver() {
  _error = 0;
  stopConnectionWatch(&_serviceRef, &_socketRef, &_runLoopSource);
}

bool TrystResolver::startResolving() {
  stopResolving();
  _error = DNSServiceResolve(&_serviceRef, 0, static_cast<std::uint32_t>(interfaceIndex_),
                             utf8OrNone(serviceName_), utf8OrNone(serviceType_),
                             utf8OrNone(domain_), DNSServiceResolveCallback, this);
  if (_error != kDNSServiceErr_NoError) {
    _serviceRef = nullptr;
    trystLog(stringWithFormat("[%d] TrystBrowser.startResolving: DNSServiceResolve failed with %d",
                              getpid(), _error));
    return false;
  }
  return startConnectionWatch(_serviceRef, &_socketRef, &_runLoopSource);
}

void TrystResolver::stopResolving() {
  stopConnectionWatch(&_serviceRef, &_socketRef, &_runLoopSource);
}

void TrystResolver::abandonQuery() {
  if (auto querier = _querier.lock()) {
    querier->stopQuerying();
    querier->setParent(nullptr);
    querier->releaseSelf();
  }
  _querier.reset();
}

std::string TrystResolver::description() const {
  return stringWithFormat("%@.%@%@", serviceName_, serviceType_, domain_);
}

void TrystResolver::DNSServiceResolveCallback(DNSServiceRef, DNSServiceFlags,
                                              std::uint32_t interfaceIndex,
                                              DNSServiceErrorType errorCode, const char*,
                                              const char* hostTarget, std::uint16_t port,
                                              std::uint16_t, const unsigned char*,
                                              void* context) {
  auto* resolver = static_cast<TrystResolver*>(context);
  auto keepAlive = resolver->weak_from_this().lock();
  if (errorCode != kDNSServiceErr_NoError) {
    trystLog(stringWithFormat(
        "[%d] TrystBrowser.DNSServiceResolveCallback: Failed to resolve for %s: %d", getpid(),
        resolver->description(), errorCode));
  } else {
    resolver->_resolved(hostTarget, port, interfaceIndex);
  }
  // Only the first reply counts.
  resolver->stopResolving();
}

void TrystResolver::_resolved(const char* hostTarget, std::uint16_t port,
                              std::uint32_t interfaceIndex) {
  // The port stays in network byte order, as the reply carries it.
  auto querier = TrystQuerier::querierWithHostTarget(
      makeString(hostTarget ? hostTarget : ""), port, static_cast<std::int32_t>(interfaceIndex),
      weak_from_this().lock());
  querier->retainSelf();
  if (querier->startQuerying()) {
    _querier = querier;
    return;
  }
  trystLog(stringWithFormat(
      "[%d] TrystBrowser.DNSServiceBrowseCallback: Failed to create a querier for %s:%d",
      getpid(), hostTarget ? hostTarget : "", querier->port()));
  querier->stopQuerying();
  querier->releaseSelf();
}

}  // namespace steward
