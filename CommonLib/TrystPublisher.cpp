#include "CommonLib/TrystPublisher.h"

#include <unistd.h>

#include <chrono>
#include <map>
#include <vector>

#include "platform/Format.h"

namespace steward {

namespace {

std::map<std::string, std::shared_ptr<TrystPublisher>>& registry() {
  static std::map<std::string, std::shared_ptr<TrystPublisher>> publishers;
  return publishers;
}

std::string registryKey(const StringRef& uniqueID, const StringRef& serviceType,
                        const StringRef& serviceName) {
  return stringWithFormat("%@/%@/%@", uniqueID, serviceType, serviceName);
}

}  // namespace

std::shared_ptr<TrystPublisher> TrystPublisher::publisherWithServiceName(
    StringRef serviceName, StringRef serviceType, StringRef domain, std::int32_t port,
    std::int32_t interfaceIndex) {
  auto publisher = std::make_shared<TrystPublisher>();
  publisher->setServiceName(std::move(serviceName));
  publisher->setServiceType(std::move(serviceType));
  publisher->setDomain(std::move(domain));
  publisher->setPort(port);
  publisher->setInterfaceIndex(interfaceIndex);
  return publisher;
}

void TrystPublisher::savePublisherWithUniqueID(
    const StringRef& uniqueID, const std::shared_ptr<TrystPublisher>& trystPublisher) {
  if (!trystPublisher) return;
  registry().emplace(
      registryKey(uniqueID, trystPublisher->serviceType(), trystPublisher->serviceName()),
      trystPublisher);
}

std::shared_ptr<TrystPublisher> TrystPublisher::getPublisherWithUniqueID(
    const StringRef& uniqueID, const StringRef& serviceType, const StringRef& serviceName) {
  auto found = registry().find(registryKey(uniqueID, serviceType, serviceName));
  return found == registry().end() ? nullptr : found->second;
}

void TrystPublisher::releasePublishersWithUniqueID(const StringRef& uniqueID) {
  const std::string prefix = textOf(uniqueID);
  std::erase_if(registry(), [&](const auto& entry) { return entry.first.starts_with(prefix); });
}

void TrystPublisher::unPublishAll() {
  if (registry().empty()) return;
  for (const auto& [key, publisher] : registry()) publisher->unPublish();
  RunLoop::current().runUntilDate(RunLoopClock::now() + std::chrono::seconds(1));
}

TrystPublisher::~TrystPublisher() {
  stopConnectionWatch(&_dnsServiceRef, &_dnsSocketRef, &_dnsRunLoopSource);
  _error = 0;
}

bool TrystPublisher::publish() {
  unPublish();
  _error = DNSServiceRegister(&_dnsServiceRef, 0, static_cast<std::uint32_t>(interfaceIndex_),
                              utf8OrNone(serviceName_), utf8OrNone(serviceType_),
                              utf8OrNone(domain_), nullptr,
                              static_cast<std::uint16_t>(port_ & 0xffff), 0, nullptr,
                              DNSServiceRegisterCallback, this);
  if (_error != kDNSServiceErr_NoError) {
    _dnsServiceRef = nullptr;
    trystLog(stringWithFormat("[%d] TrystPublisher.DNSServiceRegister failed with %d", getpid(),
                              _error));
    return false;
  }
  return startConnectionWatch(_dnsServiceRef, &_dnsSocketRef, &_dnsRunLoopSource);
}

void TrystPublisher::unPublish() {
  stopConnectionWatch(&_dnsServiceRef, &_dnsSocketRef, &_dnsRunLoopSource);
}

std::string TrystPublisher::description() const {
  return stringWithFormat("%@/%@/%d/%d", serviceType_, serviceName_, port_, interfaceIndex_);
}

void TrystPublisher::DNSServiceRegisterCallback(DNSServiceRef, DNSServiceFlags,
                                                DNSServiceErrorType errorCode, const char*,
                                                const char*, const char*, void* context) {
  if (errorCode == kDNSServiceErr_NoError) return;
  auto* publisher = static_cast<TrystPublisher*>(context);
  trystLog(stringWithFormat("[%d] TrystPublisher.DNSServiceRegisterCallback: Failed to register %s: %d",
                            getpid(), publisher->description(), errorCode));
}

}  // namespace steward
