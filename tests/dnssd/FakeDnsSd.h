// A fake dns_sd library for unit tests, linked in place of the real one.
// Every started operation gets a socket pair, so a run loop sees it become
// readable exactly when a test queues a reply; DNSServiceProcessResult then
// delivers the oldest queued reply. Starts and deallocations are recorded
// as text, in order, and starts can be made to fail.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CommonLib/TrystConnectionWatch.h"

namespace fake_dns_sd {

enum class Kind { kBrowse, kResolve, kQuery, kRegister };

// Forgets the recorded calls, the queued failures and the operations
// (which stay allocated, so late deallocations stay harmless).
void reset();

// What was called, in order: "DNSServiceBrowse #1 if=0 type=_t._tcp
// domain=(null)", "DNSServiceRefDeallocate #1", ...
const std::vector<std::string>& calls();

// The next start of that kind returns `error` and makes nothing.
void failNextStart(Kind kind, DNSServiceErrorType error);
// The next DNSServiceRefSockFD answers -1.
void failNextSockFD();

// The newest operation of a kind still open, or none.
DNSServiceRef live(Kind kind);
int liveCount();
// How often DNSServiceProcessResult was called on the operation.
int processCount(DNSServiceRef ref);

// Queue a reply for an open operation; its descriptor becomes readable.
void browseReply(DNSServiceRef ref, DNSServiceFlags flags, std::uint32_t interfaceIndex,
                 DNSServiceErrorType error, const std::string& name, const std::string& type,
                 const std::string& domain);
void resolveReply(DNSServiceRef ref, DNSServiceErrorType error, const std::string& hostTarget,
                  std::uint16_t port, std::uint32_t interfaceIndex = 0);
void queryReply(DNSServiceRef ref, DNSServiceFlags flags, DNSServiceErrorType error,
                std::uint16_t recordType, const std::string& data);
void registerReply(DNSServiceRef ref, DNSServiceErrorType error);
// The daemon's end goes away: the descriptor reads end of file and
// DNSServiceProcessResult fails.
void breakConnection(DNSServiceRef ref);

}  // namespace fake_dns_sd
