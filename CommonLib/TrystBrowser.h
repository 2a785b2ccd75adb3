// TrystBrowser browses for the DNS-SD services of one type in one domain on
// the calling thread's run loop. Every announced service is resolved and
// looked up (TrystResolver, TrystQuerier) before the delegate hears of it
// with its address and port; every withdrawn service is passed on at once.
// Browsers can be kept in a class-level registry under the caller's id.
//
// Objects live in shared_ptrs (the factory, or make_shared): the resolvers
// a browser makes refer back to it. One thread: replies arrive while that
// thread's loop runs. Neither the instances nor the registry are locked.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CommonLib/TrystConnectionWatch.h"
#include "platform/PropertyValue.h"

namespace steward {

class TrystBrowser;
class TrystResolver;

// Receives what a browser finds. The default operations ignore the news.
class TrystBrowserDelegate {
 public:
  virtual ~TrystBrowserDelegate() = default;
  // Service info: "ServiceName", "Type", "Domain", "IPv4Address" (dotted
  // decimal) and "Port", the port exactly as the resolve reply carries it:
  // in network byte order, not converted.
  virtual void trystBrowserAddedService(TrystBrowser& browser, const DictionaryRef& service);
  // Service info: "ServiceName", "Type", "Domain".
  virtual void trystBrowserRemovedService(TrystBrowser& browser, const DictionaryRef& service);
};

class TrystBrowser : public std::enable_shared_from_this<TrystBrowser> {
 public:
  static std::shared_ptr<TrystBrowser> browserWithServiceType(StringRef serviceType,
                                                              StringRef domain,
                                                              std::int32_t interfaceIndex);
  // Keeps the first browser saved under the key "<uniqueID>/<serviceType>".
  static void saveBrowserWithUniqueID(const StringRef& uniqueID,
                                      const std::shared_ptr<TrystBrowser>& trystBrowser);
  static std::shared_ptr<TrystBrowser> getBrowserWithUniqueID(const StringRef& uniqueID,
                                                              const StringRef& serviceType);
  // Drops every entry whose key begins with the id's text: "ab" drops "abc/...".
  static void releaseBrowsersWithUniqueID(const StringRef& uniqueID);
  // Stops every registered browser; they stay registered.
  static void stopSearchinghAll();

  TrystBrowser() = default;
  ~TrystBrowser();
  TrystBrowser(const TrystBrowser&) = delete;
  TrystBrowser& operator=(const TrystBrowser&) = delete;

  const StringRef& serviceType() const { return serviceType_; }
  void setServiceType(StringRef serviceType) { serviceType_ = std::move(serviceType); }
  // None browses the default domains.
  const StringRef& domain() const { return domain_; }
  void setDomain(StringRef domain) { domain_ = std::move(domain); }
  // 0 browses on every interface.
  std::int32_t interfaceIndex() const { return interfaceIndex_; }
  void setInterfaceIndex(std::int32_t interfaceIndex) { interfaceIndex_ = interfaceIndex; }
  // The services being resolved or looked up at the moment.
  const std::vector<std::shared_ptr<TrystResolver>>& resolvers() const { return resolvers_; }
  void setResolvers(std::vector<std::shared_ptr<TrystResolver>> resolvers) {
    resolvers_ = std::move(resolvers);
  }
  const std::shared_ptr<TrystBrowserDelegate>& delegate() const { return delegate_; }
  void setDelegate(std::shared_ptr<TrystBrowserDelegate> delegate) {
    delegate_ = std::move(delegate);
  }

  // Ends any earlier browse first, so there is never more than one.
  [[nodiscard]] bool startSearching();
  void stopSearching();
  // "<serviceType>.<domain>"
  std::string description() const;

  // For the querier, at the end of the browse chain.
  void removeResolver(const TrystResolver* resolver);

 private:
  static void DNSServiceBrowseCallback(DNSServiceRef serviceRef, DNSServiceFlags flags,
                                       std::uint32_t interfaceIndex,
                                       DNSServiceErrorType errorCode, const char* serviceName,
                                       const char* serviceType, const char* domain,
                                       void* context);
  void _addedService(const char* serviceName, const char* serviceType, const char* domain,
                     std::uint32_t interfaceIndex);

  StringRef serviceType_;
  StringRef domain_;
  std::int32_t interfaceIndex_ = 0;
  std::vector<std::shared_ptr<TrystResolver>> resolvers_;
  std::shared_ptr<TrystBrowserDelegate> delegate_;
  DNSServiceRef _serviceRef = nullptr;
  std::shared_ptr<SocketWatch> _socketRef;
  std::shared_ptr<RunLoopSource> _runLoopSource;
  std::int32_t _error = 0;
};

}  // namespace steward
