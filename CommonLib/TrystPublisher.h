// TrystPublisher announces one DNS-SD service on the calling thread's run
// loop and withdraws it again. Publishers can be kept in a class-level
// registry under the caller's id, and all registered ones withdrawn at once.
//
// The port is handed to the library as it is: the caller supplies it in
// network byte order. One thread; neither the instances nor the registry
// are locked.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "CommonLib/TrystConnectionWatch.h"
#include "platform/PropertyValue.h"

namespace steward {

class TrystPublisher {
 public:
  static std::shared_ptr<TrystPublisher> publisherWithServiceName(StringRef serviceName,
                                                                  StringRef serviceType,
                                                                  StringRef domain,
                                                                  std::int32_t port,
                                                                  std::int32_t interfaceIndex);
  // Keeps the first publisher saved under "<uniqueID>/<serviceType>/<serviceName>".
  static void savePublisherWithUniqueID(const StringRef& uniqueID,
                                        const std::shared_ptr<TrystPublisher>& trystPublisher);
  static std::shared_ptr<TrystPublisher> getPublisherWithUniqueID(const StringRef& uniqueID,
                                                                  const StringRef& serviceType,
                                                                  const StringRef& serviceName);
  // Drops every entry whose key begins with the id's text: "ab" drops "abc/...".
  static void releasePublishersWithUniqueID(const StringRef& uniqueID);
  // Withdraws every registered publisher (they stay registered) and, when
  // there was one, runs the current run loop for one second so that the
  // withdrawals go out.
  static void unPublishAll();

  TrystPublisher() = default;
  ~TrystPublisher();
  TrystPublisher(const TrystPublisher&) = delete;
  TrystPublisher& operator=(const TrystPublisher&) = delete;

  const StringRef& serviceName() const { return serviceName_; }
  void setServiceName(StringRef serviceName) { serviceName_ = std::move(serviceName); }
  const StringRef& serviceType() const { return serviceType_; }
  void setServiceType(StringRef serviceType) { serviceType_ = std::move(serviceType); }
  // None announces in the interface's default domain.
  const StringRef& domain() const { return domain_; }
  void setDomain(StringRef domain) { domain_ = std::move(domain); }
  // Network byte order; only the low 16 bits are announced. -1 until set.
  std::int32_t port() const { return port_; }
  void setPort(std::int32_t port) { port_ = port; }
  // 0 announces on every interface.
  std::int32_t interfaceIndex() const { return interfaceIndex_; }
  void setInterfaceIndex(std::int32_t interfaceIndex) { interfaceIndex_ = interfaceIndex; }

  // Withdraws an earlier registration first; true when the new one was
  // accepted.
  [[nodiscard]] bool publish();
  void unPublish();
  // "<serviceType>/<serviceName>/<port>/<interfaceIndex>"
  std::string description() const;

 private:
  static void DNSServiceRegisterCallback(DNSServiceRef serviceRef, DNSServiceFlags flags,
                                         DNSServiceErrorType errorCode, const char* name,
                                         const char* serviceType, const char* domain,
                                         void* context);

  StringRef serviceName_;
  StringRef serviceType_;
  StringRef domain_;
  std::int32_t port_ = -1;
  std::int32_t interfaceIndex_ = 0;
  DNSServiceRef _dnsServiceRef = nullptr;
  std::shared_ptr<SocketWatch> _dnsSocketRef;
  std::shared_ptr<RunLoopSource> _dnsRunLoopSource;
  std::int32_t _error = 0;
};

}  // namespace steward
