// TrystResolver resolves one service that a TrystBrowser saw announced to
// the host that offers it and its port, once, and hands the result to a
// TrystQuerier for the host's IPv4 address. Made and discarded by the
// browse chain; only the first reply counts.
//
// The resolver refers to its browser weakly: the browser holds its
// resolvers, and a resolver whose lookup failed stays in that list, so a
// counted reference back would keep both alive for good. For the same
// reason a browser that goes away ends the queries its resolvers started.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "CommonLib/TrystConnectionWatch.h"
#include "platform/PropertyValue.h"

namespace steward {

class TrystBrowser;
class TrystQuerier;

class TrystResolver : public std::enable_shared_from_this<TrystResolver> {
 public:
  static std::shared_ptr<TrystResolver> resolverWithServiceName(
      StringRef serviceName, StringRef serviceType, StringRef domain,
      std::int32_t interfaceIndex, const std::shared_ptr<TrystBrowser>& parent);

  TrystResolver() = default;
  ~TrystResolver();
  TrystResolver(const TrystResolver&) = delete;
  TrystResolver& operator=(const TrystResolver&) = delete;

  const StringRef& serviceName() const { return serviceName_; }
  void setServiceName(StringRef serviceName) { serviceName_ = std::move(serviceName); }
  const StringRef& serviceType() const { return serviceType_; }
  void setServiceType(StringRef serviceType) { serviceType_ = std::move(serviceType); }
  const StringRef& domain() const { return domain_; }
  void setDomain(StringRef domain) { domain_ = std::move(domain); }
  std::int32_t interfaceIndex() const { return interfaceIndex_; }
  void setInterfaceIndex(std::int32_t interfaceIndex) { interfaceIndex_ = interfaceIndex; }
  // None once the browse chain has finished, or when the browser is gone.
  std::shared_ptr<TrystBrowser> parent() const { return parent_.lock(); }
  void setParent(const std::shared_ptr<TrystBrowser>& parent) { parent_ = parent; }

  [[nodiscard]] bool startResolving();
  void stopResolving();
  // Ends the address query this resolver started, if it still runs.
  void abandonQuery();
  // "<serviceName>.<serviceType><domain>"
  std::string description() const;

 private:
  static void DNSServiceResolveCallback(DNSServiceRef serviceRef, DNSServiceFlags flags,
                                        std::uint32_t interfaceIndex,
                                        DNSServiceErrorType errorCode, const char* fullName,
                                        const char* hostTarget, std::uint16_t port,
                                        std::uint16_t txtLength, const unsigned char* txtRecord,
                                        void* context);
  void _resolved(const char* hostTarget, std::uint16_t port, std::uint32_t interfaceIndex);

  StringRef serviceName_;
  StringRef serviceType_;
  StringRef domain_;
  std::int32_t interfaceIndex_ = 0;
  std::weak_ptr<TrystBrowser> parent_;
  std::weak_ptr<TrystQuerier> _querier;  // the query in flight, held by itself
  DNSServiceRef _serviceRef = nullptr;
  std::shared_ptr<SocketWatch> _socketRef;
  std::shared_ptr<RunLoopSource> _runLoopSource;
  std::int32_t _error = 0;
};

}  // namespace steward
