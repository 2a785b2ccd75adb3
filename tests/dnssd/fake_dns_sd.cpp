// The fake behind FakeDnsSd.h: the dns_sd functions the service-discovery
// classes call, with the signatures of the real header.
#include "tests/dnssd/FakeDnsSd.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <memory>

using fake_dns_sd::Kind;

struct _DNSServiceRef_t {
  Kind kind;
  int id;
  int fds[2];  // [0] the client's descriptor, [1] the daemon's end
  bool open = true;
  int processed = 0;
  void* context = nullptr;
  DNSServiceBrowseReply browseCallback = nullptr;
  DNSServiceResolveReply resolveCallback = nullptr;
  DNSServiceQueryRecordReply queryCallback = nullptr;
  DNSServiceRegisterReply registerCallback = nullptr;
  std::deque<std::function<void()>> replies;
};

namespace {

struct State {
  std::vector<std::string> calls;
  std::map<Kind, DNSServiceErrorType> failures;
  bool failSockFD = false;
  int nextID = 1;
  std::vector<DNSServiceRef> current;                    // since the last reset
  std::vector<std::unique_ptr<_DNSServiceRef_t>> all;  // never freed
};

State& state() {
  static State s;
  return s;
}

std::string text(const char* s) { return s ? s : "(null)"; }

// Records the call; none when the test asked this start to fail.
DNSServiceErrorType start(Kind kind, const std::string& call, DNSServiceRef* out, void* context) {
  State& s = state();
  auto failure = s.failures.find(kind);
  if (failure != s.failures.end()) {
    DNSServiceErrorType error = failure->second;
    s.failures.erase(failure);
    s.calls.push_back(call + " -> " + std::to_string(error));
    return error;
  }
  auto ref = std::make_unique<_DNSServiceRef_t>();
  ref->kind = kind;
  ref->id = s.nextID++;
  ref->context = context;
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ref->fds) != 0) std::abort();
  s.calls.push_back(call + " #" + std::to_string(ref->id));
  *out = ref.get();
  s.current.push_back(ref.get());
  s.all.push_back(std::move(ref));
  return kDNSServiceErr_NoError;
}

void queue(DNSServiceRef ref, std::function<void()> reply) {
  if (!ref || !ref->open) std::abort();  // a test error: no such operation
  ref->replies.push_back(std::move(reply));
  char byte = 1;
  if (write(ref->fds[1], &byte, 1) != 1) std::abort();
}

}  // namespace

namespace fake_dns_sd {

void reset() {
  State& s = state();
  s.calls.clear();
  s.failures.clear();
  s.failSockFD = false;
  s.nextID = 1;
  s.current.clear();
}

const std::vector<std::string>& calls() { return state().calls; }

void failNextStart(Kind kind, DNSServiceErrorType error) { state().failures[kind] = error; }
void failNextSockFD() { state().failSockFD = true; }

DNSServiceRef live(Kind kind) {
  const auto& current = state().current;
  for (auto it = current.rbegin(); it != current.rend(); ++it)
    if ((*it)->kind == kind && (*it)->open) return *it;
  return nullptr;
}

int liveCount() {
  int n = 0;
  for (DNSServiceRef ref : state().current) n += ref->open;
  return n;
}

int processCount(DNSServiceRef ref) { return ref->processed; }

void browseReply(DNSServiceRef ref, DNSServiceFlags flags, std::uint32_t interfaceIndex,
                 DNSServiceErrorType error, const std::string& name, const std::string& type,
                 const std::string& domain) {
  queue(ref, [=] {
    ref->browseCallback(ref, flags, interfaceIndex, error, name.c_str(), type.c_str(),
                        domain.c_str(), ref->context);
  });
}

void resolveReply(DNSServiceRef ref, DNSServiceErrorType error, const std::string& hostTarget,
                  std::uint16_t port, std::uint32_t interfaceIndex) {
  queue(ref, [=] {
    ref->resolveCallback(ref, 0, interfaceIndex, error, "full.name.", hostTarget.c_str(), port,
                         1, reinterpret_cast<const unsigned char*>(""), ref->context);
  });
}

void queryReply(DNSServiceRef ref, DNSServiceFlags flags, DNSServiceErrorType error,
                std::uint16_t recordType, const std::string& data) {
  queue(ref, [=] {
    ref->queryCallback(ref, flags, 0, error, "host.local", recordType, 1,
                       static_cast<std::uint16_t>(data.size()), data.data(), 0, ref->context);
  });
}

void registerReply(DNSServiceRef ref, DNSServiceErrorType error) {
  queue(ref, [=] { ref->registerCallback(ref, 0, error, "name", "type.", "local.", ref->context); });
}

void breakConnection(DNSServiceRef ref) {
  close(ref->fds[1]);
  ref->fds[1] = -1;
}

}  // namespace fake_dns_sd

extern "C" {

int DNSSD_API DNSServiceRefSockFD(DNSServiceRef sdRef) {
  if (state().failSockFD) {
    state().failSockFD = false;
    return -1;
  }
  return sdRef->open ? sdRef->fds[0] : -1;
}

DNSServiceErrorType DNSSD_API DNSServiceProcessResult(DNSServiceRef sdRef) {
  sdRef->processed++;
  char byte;
  if (!sdRef->open || read(sdRef->fds[0], &byte, 1) != 1 || sdRef->replies.empty())
    return kDNSServiceErr_Unknown;
  auto reply = std::move(sdRef->replies.front());
  sdRef->replies.pop_front();
  reply();  // may deallocate sdRef, which stays allocated
  return kDNSServiceErr_NoError;
}

void DNSSD_API DNSServiceRefDeallocate(DNSServiceRef sdRef) {
  if (!sdRef->open) std::abort();  // deallocated twice
  sdRef->open = false;
  for (int fd : sdRef->fds)
    if (fd >= 0) close(fd);
  sdRef->replies.clear();
  state().calls.push_back("DNSServiceRefDeallocate #" + std::to_string(sdRef->id));
}

DNSServiceErrorType DNSSD_API DNSServiceBrowse(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                               uint32_t interfaceIndex, const char* regtype,
                                               const char* domain, DNSServiceBrowseReply callBack,
                                               void* context) {
  std::string call = "DNSServiceBrowse flags=" + std::to_string(flags) +
                     " if=" + std::to_string(interfaceIndex) + " type=" + text(regtype) +
                     " domain=" + text(domain);
  DNSServiceErrorType error = start(Kind::kBrowse, call, sdRef, context);
  if (!error) (*sdRef)->browseCallback = callBack;
  return error;
}

DNSServiceErrorType DNSSD_API DNSServiceResolve(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                uint32_t interfaceIndex, const char* name,
                                                const char* regtype, const char* domain,
                                                DNSServiceResolveReply callBack, void* context) {
  std::string call = "DNSServiceResolve flags=" + std::to_string(flags) +
                     " if=" + std::to_string(interfaceIndex) + " name=" + text(name) +
                     " type=" + text(regtype) + " domain=" + text(domain);
  DNSServiceErrorType error = start(Kind::kResolve, call, sdRef, context);
  if (!error) (*sdRef)->resolveCallback = callBack;
  return error;
}

DNSServiceErrorType DNSSD_API DNSServiceQueryRecord(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                    uint32_t interfaceIndex,
                                                    const char* fullname, uint16_t rrtype,
                                                    uint16_t rrclass,
                                                    DNSServiceQueryRecordReply callBack,
                                                    void* context) {
  std::string call = "DNSServiceQueryRecord flags=" + std::to_string(flags) +
                     " if=" + std::to_string(interfaceIndex) + " name=" + text(fullname) +
                     " rrtype=" + std::to_string(rrtype) + " rrclass=" + std::to_string(rrclass);
  DNSServiceErrorType error = start(Kind::kQuery, call, sdRef, context);
  if (!error) (*sdRef)->queryCallback = callBack;
  return error;
}

DNSServiceErrorType DNSSD_API DNSServiceRegister(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                 uint32_t interfaceIndex, const char* name,
                                                 const char* regtype, const char* domain,
                                                 const char* host, uint16_t port,
                                                 uint16_t txtLen, const void*,
                                                 DNSServiceRegisterReply callBack,
                                                 void* context) {
  std::string call = "DNSServiceRegister flags=" + std::to_string(flags) +
                     " if=" + std::to_string(interfaceIndex) + " name=" + text(name) +
                     " type=" + text(regtype) + " domain=" + text(domain) +
                     " host=" + text(host) + " port=" + std::to_string(port) +
                     " txtLen=" + std::to_string(txtLen);
  DNSServiceErrorType error = start(Kind::kRegister, call, sdRef, context);
  if (!error) (*sdRef)->registerCallback = callBack;
  return error;
}

}  // extern "C"
