// TrystQuerier asks once for the IPv4 address of the host that a
// TrystResolver found, and on the first answer completes the browse chain:
// the browser's delegate hears of the added service, and the resolver
// leaves its browser's list. A started querier holds a reference to itself
// until that first answer has been handled.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "CommonLib/TrystConnectionWatch.h"
#include "platform/PropertyValue.h"

namespace steward {

class TrystResolver;

class TrystQuerier : public std::enable_shared_from_this<TrystQuerier> {
 public:
  static std::shared_ptr<TrystQuerier> querierWithHostTarget(
      StringRef hostTarget, std::int32_t port, std::int32_t interfaceIndex,
      const std::shared_ptr<TrystResolver>& parent);

  TrystQuerier() = default;
  ~TrystQuerier();
  TrystQuerier(const TrystQuerier&) = delete;
  TrystQuerier& operator=(const TrystQuerier&) = delete;

  const StringRef& hostTarget() const { return hostTarget_; }
  void setHostTarget(StringRef hostTarget) { hostTarget_ = std::move(hostTarget); }
  // In network byte order, as the resolve reply carried it.
  std::int32_t port() const { return port_; }
  void setPort(std::int32_t port) { port_ = port; }
  std::int32_t interfaceIndex() const { return interfaceIndex_; }
  void setInterfaceIndex(std::int32_t interfaceIndex) { interfaceIndex_ = interfaceIndex; }
  const std::shared_ptr<TrystResolver>& parent() const { return parent_; }
  void setParent(std::shared_ptr<TrystResolver> parent) { parent_ = std::move(parent); }

  // The extra reference that keeps a started querier alive until its
  // answer; the querier gives it up itself after the answer.
  void retainSelf() { _self = shared_from_this(); }
  void releaseSelf() { _self.reset(); }

  [[nodiscard]] bool startQuerying();
  void stopQuerying();
  // "<hostTarget>:<port>", the port in decimal as stored.
  std::string description() const;

 private:
  static void DNSServiceQueryCallback(DNSServiceRef serviceRef, DNSServiceFlags flags,
                                      std::uint32_t interfaceIndex,
                                      DNSServiceErrorType errorCode, const char* fullName,
                                      std::uint16_t recordType, std::uint16_t recordClass,
                                      std::uint16_t dataLength, const void* data,
                                      std::uint32_t timeToLive, void* context);
  // The address text, or none after logging why there is none.
  StringRef _addressText(std::uint16_t recordType, std::uint16_t dataLength,
                         const void* data) const;
  DictionaryRef _serviceInfo(const TrystResolver& resolver, const StringRef& address) const;
  void _finish(const std::shared_ptr<TrystResolver>& resolver,
               const std::shared_ptr<class TrystBrowser>& browser);

  StringRef hostTarget_;
  std::int32_t port_ = 0;
  std::int32_t interfaceIndex_ = 0;
  std::shared_ptr<TrystResolver> parent_;
  DNSServiceRef _serviceRef = nullptr;
  std::shared_ptr<SocketWatch> _socketRef;
  std::shared_ptr<RunLoopSource> _runLoopSource;
  std::int32_t _error = 0;
  std::shared_ptr<TrystQuerier> _self;
};

}  // namespace steward
