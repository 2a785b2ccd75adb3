#include "CommonLib/TrystBrowser.h"

#include <unistd.h>

#include <map>

#include "CommonLib/TrystResolver.h"
#include "platform/Format.h"

namespace steward {

void TrystBrowserDelegate::trystBrowserAddedService(TrystBrowser&, const DictionaryRef&) {}
void TrystBrowserDelegate::trystBrowserRemovedService(TrystBrowser&, const DictionaryRef&) {}

namespace {

std::map<std::string, std::shared_ptr<TrystBrowser>>& registry() {
  static std::map<std::string, std::shared_ptr<TrystBrowser>> browsers;
  return browsers;
}

std::string registryKey(const StringRef& uniqueID, const StringRef& serviceType) {
  return stringWithFormat("%@/%@", uniqueID, serviceType);
}

}  // namespace

std::shared_ptr<TrystBrowser> TrystBrowser::browserWithServiceType(StringRef serviceType,
                                                                   StringRef domain,
                                                                   std::int32_t interfaceIndex) {
  auto browser = std::make_shared<TrystBrowser>();
  browser->setServiceType(std::move(serviceType));
  browser->setDomain(std::move(domain));
  browser->setInterfaceIndex(interfaceIndex);
  return browser;
}

void TrystBrowser::saveBrowserWithUniqueID(const StringRef& uniqueID,
                                           const std::shared_ptr<TrystBrowser>& trystBrowser) {
  if (!trystBrowser) return;
  registry().emplace(registryKey(uniqueID, trystBrowser->serviceType()), trystBrowser);
}

std::shared_ptr<TrystBrowser> TrystBrowser::getBrowserWithUniqueID(const StringRef& uniqueID,
                                                                   const StringRef& serviceType) {
  auto found = registry().find(registryKey(uniqueID, serviceType));
  return found == registry().end() ? nullptr : found->second;
}

void TrystBrowser::releaseBrowsersWithUniqueID(const StringRef& uniqueID) {
  const std::string prefix = textOf(uniqueID);
  // Destroying a browser may run arbitrary delegate code: take them out first.
  std::vector<std::shared_ptr<TrystBrowser>> released;
  std::erase_if(registry(), [&](const auto& entry) {
    if (!entry.first.starts_with(prefix)) return false;
    released.push_back(entry.second);
    return true;
  });
}

void TrystBrowser::stopSearchinghAll() {
  for (const auto& [key, browser] : registry()) browser->stopSearching();
}

TrystBrowser::~TrystBrowser() {
  _error = 0;
  stopConnectionWatch(&_serviceRef, &_socketRef, &_runLoopSource);
  for (const auto& resolver : resolvers_) {
    resolver->stopResolving();
    // Its answer could reach nobody now.
    resolver->abandonQuery();
  }
}

bool TrystBrowser::startSearching() {
  stopSearching();
  _error = DNSServiceBrowse(&_serviceRef, 0, static_cast<std::uint32_t>(interfaceIndex_),
                            utf8OrNone(serviceType_), utf8OrNone(domain_),
                            DNSServiceBrowseCallback, this);
  if (_error != kDNSServiceErr_NoError) {
    _serviceRef = nullptr;
    trystLog(stringWithFormat("[%d] TrystBrowser.startSearching: DNSServiceBrowse failed with %d",
                              getpid(), _error));
    return false;
  }
  return startConnectionWatch(_serviceRef, &_socketRef, &_runLoopSource);
}

void TrystBrowser::stopSearching() {
  stopConnectionWatch(&_serviceRef, &_socketRef, &_runLoopSource);
}

std::string TrystBrowser::description() const {
  return stringWithFormat("%@.%@", serviceType_, domain_);
}

void TrystBrowser::removeResolver(const TrystResolver* resolver) {
  std::erase_if(resolvers_, [&](const auto& r) { return r.get() == resolver; });
}

void TrystBrowser::DNSServiceBrowseCallback(DNSServiceRef, DNSServiceFlags flags,
                                            std::uint32_t interfaceIndex,
                                            DNSServiceErrorType errorCode,
                                            const char* serviceName, const char* serviceType,
                                            const char* domain, void* context) {
  auto* browser = static_cast<TrystBrowser*>(context);
  if (errorCode != kDNSServiceErr_NoError) {
    trystLog(stringWithFormat("[%d] TrystBrowser.DNSServiceBrowseCallback: Failed to browse for %s: %d",
                              getpid(), browser->description(), errorCode));
    return;
  }
  if (flags & kTrystAddFlag) {
    browser->_addedService(serviceName, serviceType, domain, interfaceIndex);
    return;
  }
  auto info = std::make_shared<Dictionary>(std::vector<Dictionary::Entry>{
      {"ServiceName", makeString(serviceName ? serviceName : "")},
      {"Type", makeString(serviceType ? serviceType : "")},
      {"Domain", makeString(domain ? domain : "")},
  });
  // The delegate may drop the last outside reference to the browser.
  auto keepAlive = browser->weak_from_this().lock();
  if (browser->delegate_) browser->delegate_->trystBrowserRemovedService(*browser, info);
}

void TrystBrowser::_addedService(const char* serviceName, const char* serviceType,
                                 const char* domain, std::uint32_t interfaceIndex) {
  auto resolver = TrystResolver::resolverWithServiceName(
      makeString(serviceName ? serviceName : ""), makeString(serviceType ? serviceType : ""),
      makeString(domain ? domain : ""), static_cast<std::int32_t>(interfaceIndex),
      weak_from_this().lock());
  resolvers_.push_back(resolver);
  if (resolver->startResolving()) return;
  trystLog(stringWithFormat(
      "[%d] TrystBrowser.DNSServiceBrowseCallback: Failed to create a resolver for %s.%s",
      getpid(), serviceName ? serviceName : "", description()));
  resolver->stopResolving();
  removeResolver(resolver.get());
}

}  // namespace steward
