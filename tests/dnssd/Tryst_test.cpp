// The service-discovery classes against a fake dns_sd library defined here. Each operation gets a
// socket pair, so a run loop sees it become readable exactly when a test queues a reply, which
// DNSServiceProcessResult then delivers. Calls are recorded as text; starts can fail.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <deque>
#include <functional>
#include <map>

#include "CommonLib/TrystBrowser.h"
#include "CommonLib/TrystPublisher.h"
#include "CommonLib/TrystResolver.h"
#include "tests/support/LogCapture.h"

struct _DNSServiceRef_t {
  int id;
  void (*callback)();  // of the operation's type
  void* context;
  int fds[2] = {-1, -1};  // [0] the client's descriptor, [1] the daemon's end
  bool open = true;
  int processed = 0;  // calls of DNSServiceProcessResult
  std::deque<std::function<void()>> replies = {};
};

namespace fake {

struct State {
  std::vector<std::string> calls;
  std::map<std::string, DNSServiceErrorType> failures;  // of the next start of a function
  bool failSockFD = false;
  std::vector<DNSServiceRef> started;  // operation N at N - 1
} state;
std::vector<std::unique_ptr<_DNSServiceRef_t>> all;  // never freed: late deallocations are harmless

std::string text(const char* s) { return s ? s : "(null)"; }
std::string text(std::uint32_t n) { return std::to_string(n); }

// Records "FUNCTION ARGUMENTS... #N" for operation N, or "... -> ERROR" for a start made to fail.
template <typename Callback, typename... Arguments>
DNSServiceErrorType start(const char* function, DNSServiceRef* out, Callback callback,
                          void* context, Arguments... arguments) {
  std::string call = function;
  ((call += " " + text(arguments)), ...);
  if (DNSServiceErrorType error = std::exchange(state.failures[function], 0)) {
    state.calls.push_back(call + " -> " + std::to_string(error));
    return error;
  }
  DNSServiceRef ref = all.emplace_back(new _DNSServiceRef_t{
      static_cast<int>(state.started.size()) + 1, reinterpret_cast<void (*)()>(callback), context}).get();
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ref->fds) != 0) std::abort();
  state.calls.push_back(call + " #" + std::to_string(ref->id));
  state.started.push_back(*out = ref);
  return kDNSServiceErr_NoError;
}

int liveCount() {
  return std::count_if(state.started.begin(), state.started.end(), [](auto r) { return r->open; });
}

// Queues a reply for operation N: arguments for its callback, between operation and context.
template <typename Callback, typename... Arguments>
void reply(int n, Arguments... arguments) {
  DNSServiceRef ref = state.started.at(n - 1);
  ref->replies.push_back(
      [=] { reinterpret_cast<Callback>(ref->callback)(ref, arguments..., ref->context); });
  if (write(ref->fds[1], "", 1) != 1) std::abort();
}

void browseReply(int n, DNSServiceFlags flags, DNSServiceErrorType error, const char* name) {
  reply<DNSServiceBrowseReply>(n, flags, 3u, error, name, "_http._tcp.", "local.");
}
void resolveReply(int n, DNSServiceErrorType error, const char* host, std::uint16_t port) {
  reply<DNSServiceResolveReply>(n, 0u, 3u, error, "full.name.", host, port, std::uint16_t{1},
                                reinterpret_cast<const unsigned char*>(""));
}
void queryReply(int n, DNSServiceFlags flags, int error, std::uint16_t type,
                const std::string& data) {
  reply<DNSServiceQueryRecordReply>(n, flags, 0u, error, "host.local", type, std::uint16_t{1},
                                    static_cast<std::uint16_t>(data.size()), data.data(), 0u);
}

}  // namespace fake

extern "C" {

int DNSSD_API DNSServiceRefSockFD(DNSServiceRef sdRef) {
  return std::exchange(fake::state.failSockFD, false) || !sdRef->open ? -1 : sdRef->fds[0];
}

DNSServiceErrorType DNSSD_API DNSServiceProcessResult(DNSServiceRef sdRef) {
  sdRef->processed++;
  char byte;
  if (!sdRef->open || read(sdRef->fds[0], &byte, 1) != 1) return kDNSServiceErr_Unknown;
  auto deliver = std::move(sdRef->replies.front());
  sdRef->replies.pop_front();
  deliver();  // may deallocate sdRef, which stays allocated
  return kDNSServiceErr_NoError;
}

void DNSSD_API DNSServiceRefDeallocate(DNSServiceRef sdRef) {
  if (!std::exchange(sdRef->open, false)) std::abort();  // deallocated twice
  for (int fd : sdRef->fds) close(fd);
  fake::state.calls.push_back("Deallocate #" + std::to_string(sdRef->id));
}

DNSServiceErrorType DNSSD_API DNSServiceBrowse(DNSServiceRef* r, DNSServiceFlags f, uint32_t i,
                                               const char* type, const char* domain,
                                               DNSServiceBrowseReply cb, void* c) {
  return fake::start("Browse", r, cb, c, f, i, type, domain);
}

DNSServiceErrorType DNSSD_API DNSServiceResolve(DNSServiceRef* r, DNSServiceFlags f, uint32_t i,
                                                const char* name, const char* type,
                                                const char* domain, DNSServiceResolveReply cb,
                                                void* c) {
  return fake::start("Resolve", r, cb, c, f, i, name, type, domain);
}

DNSServiceErrorType DNSSD_API DNSServiceQueryRecord(DNSServiceRef* r, DNSServiceFlags f,
                                                    uint32_t i, const char* name, uint16_t rrtype,
                                                    uint16_t rrclass, DNSServiceQueryRecordReply cb,
                                                    void* c) {
  return fake::start("Query", r, cb, c, f, i, name, rrtype, rrclass);
}

DNSServiceErrorType DNSSD_API DNSServiceRegister(DNSServiceRef* r, DNSServiceFlags f, uint32_t i,
                                                 const char* name, const char* type,
                                                 const char* domain, const char* host,
                                                 uint16_t port, uint16_t txtLen, const void*,
                                                 DNSServiceRegisterReply cb, void* c) {
  return fake::start("Register", r, cb, c, f, i, name, type, domain, host, port, txtLen);
}

}  // extern "C"

namespace steward {
namespace {

using fake::browseReply, fake::resolveReply, fake::queryReply, fake::liveCount, fake::state;
using Lines = std::vector<std::string>;
const std::string kPort80 = std::to_string(htons(80));  // 20480 on this machine
const std::string kAddress("\xa9\xfe\x4d\x01", 4);       // 169.254.77.1

struct RecordingDelegate : TrystBrowserDelegate {  // one line per report
  void trystBrowserAddedService(TrystBrowser&, const DictionaryRef& i) override { add("added", i); }
  void trystBrowserRemovedService(TrystBrowser&, const DictionaryRef& i) override { add("removed", i); }
  void add(std::string line, const DictionaryRef& info) {
    for (const auto& entry : info->entries()) line += " " + entry.key + "=" + textOf(entry.value);
    events.push_back(line);
  }
  Lines events;
};

// Browse #1 for _http._tcp. running, a publisher, the log captured; the loop is turned by hand.
class TrystTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state = {};
    browser->setDelegate(delegate);
    ASSERT_TRUE(browser->startSearching());
  }
  // Passes of the loop without waiting: each delivers what is queued then.
  static void pump(int times = 1) {
    while (times-- > 0) RunLoop::current().runInMode(kRunLoopDefaultMode, RunLoopClock::now(), false);
  }
  // The log so far, at user.notice, without the "[pid] " this process writes.
  Lines log() {
    Lines texts;
    for (const LogLine& line : capture_.lines())
      texts.push_back(line.priority == 13 ? line.text.substr(line.text.find("] ") + 2) : line.text);
    return texts;
  }
  // Announces a service and answers its resolve: the newest operation, the query if all went well.
  static int announce(const char* name, DNSServiceErrorType error = 0) {
    const std::size_t before = state.started.size();
    browseReply(1, kDNSServiceFlagsAdd, 0, name);
    pump();
    if (state.started.size() > before && state.started.back()->open)
      resolveReply(state.started.size(), error, "host.local.", htons(80));
    pump();
    return state.started.size();
  }

  LogCapture capture_;
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::shared_ptr<TrystBrowser> browser =
      TrystBrowser::browserWithServiceType(makeString("_http._tcp."), nullptr, 0);
  std::shared_ptr<TrystPublisher> web = TrystPublisher::publisherWithServiceName(
      makeString("web"), makeString("_http._tcp."), nullptr, htons(80), 2);
};

// Browse, resolve, query: the delegate gets the address and the port as the first resolve reply
// carried it, all is cleaned up, and a removal is passed on at once, added before or not.
TEST_F(TrystTest, AnnouncedServiceIsResolvedQueriedAndReported) {
  browseReply(1, kDNSServiceFlagsAdd, 0, "web");
  pump();
  resolveReply(2, 0, "host.local.", htons(80));
  resolveReply(2, 0, "second.local.", htons(81));  // never handled
  pump(2);
  queryReply(3, kDNSServiceFlagsAdd, 0, 1, kAddress);
  pump();
  browseReply(1, 0, 0, "other");
  pump();
  EXPECT_EQ(state.calls,
            (Lines{"Browse 0 0 _http._tcp. (null) #1", "Resolve 0 3 web _http._tcp. local. #2",
                   "Query 0 3 host.local. 1 1 #3", "Deallocate #2", "Deallocate #3"}));
  EXPECT_EQ(state.started[1]->processed, 1);
  EXPECT_EQ(delegate->events, (Lines{"added ServiceName=web IPv4Address=169.254.77.1 Port=" +
                                         kPort80 + " Domain=local. Type=_http._tcp.",
                                     "removed ServiceName=other Type=_http._tcp. Domain=local."}));
  EXPECT_TRUE(browser->resolvers().empty() && log().empty());
  EXPECT_EQ(liveCount(), 1);  // the browse goes on
}

// Query replies that report nothing still end the query and drop the resolver; so does a good one
// when the delegate is gone.
TEST_F(TrystTest, QueryRepliesWithoutUsableAddressOrDelegateReportNothing) {
  const std::tuple<DNSServiceFlags, int, std::uint16_t, std::string> cases[] = {
      {1, -65537, 1, kAddress},
      {1, 0, 28, std::string(16, '\1')},
      {1, 0, 1, "\1\2\3"},  // an A record of the wrong length
      {0, 0, 1, kAddress},  // no add flag
      {1, 0, 1, kAddress},  // good, but the delegate is gone
  };
  for (const auto& [flags, error, recordType, data] : cases) {
    queryReply(announce("web"), flags, error, recordType, data);
    if (flags && !error && data == kAddress) browser->setDelegate(nullptr);  // the good one
    pump();
    EXPECT_TRUE(browser->resolvers().empty());
    EXPECT_EQ(liveCount(), 1);
  }
  const std::string failed = "TrystQuerier.DNSServiceQueryCallback: Failed ";
  const std::string noName =
      failed + "getnameinfo() for host.local.:" + kPort80 + ": " + std::to_string(EAI_FAMILY);
  EXPECT_EQ(log(), (Lines{failed + "to query for host.local.:" + kPort80 + ": -65537", noName,
                          noName}));
  EXPECT_TRUE(delegate->events.empty());
}

// A resolver that cannot start is logged and dropped; a failed resolve or querier leaves it stopped
// in the list. A browser let go ends with them, and with a query in flight.
TEST_F(TrystTest, ResolveFailuresAreLoggedAndReleasedWithTheBrowser) {
  state.failures["Resolve"] = kDNSServiceErr_BadParam;
  announce("a");
  state.failSockFD = true;  // the watch cannot be made: no log of its own
  announce("b");
  announce("c", kDNSServiceErr_NoSuchRecord);
  state.failures["Query"] = kDNSServiceErr_Unknown;
  announce("d");
  announce("e");
  const std::string create = "TrystBrowser.DNSServiceBrowseCallback: Failed to create a ";
  EXPECT_EQ(log(), (Lines{"TrystBrowser.startResolving: DNSServiceResolve failed with -65540",
                          create + "resolver for a._http._tcp..(null)",
                          create + "resolver for b._http._tcp..(null)",
                          "TrystBrowser.DNSServiceResolveCallback: Failed to resolve for "
                          "c._http._tcp.local.: -65554",
                          "TrystBrowser.startQuerying: DNSServiceQueryRecord failed with -65537",
                          create + "querier for host.local.:" + kPort80}));
  ASSERT_EQ(browser->resolvers().size(), 3u);
  ASSERT_EQ(liveCount(), 2);  // browse and query
  std::weak_ptr<TrystResolver> resolver = browser->resolvers().at(2);
  browser.reset();
  EXPECT_TRUE(resolver.expired());  // with the browser, and the querier that held it
  EXPECT_EQ(liveCount(), 0);
  EXPECT_TRUE(delegate->events.empty());
}

// Starting again ends the running browse first. Failures are logged where the library reports one;
// a browse without a watch stays until stopped; a connection whose daemon is gone is read once.
TEST_F(TrystTest, StartingAgainRestartsAndFailuresAreLogged) {
  browser->setDomain(makeString("local."));
  ASSERT_TRUE(browser->startSearching());
  browseReply(2, 0, kDNSServiceErr_Unknown, "");
  pump();
  close(std::exchange(state.started[1]->fds[1], -1));
  pump(2);
  EXPECT_EQ(state.started[1]->processed, 2);
  state.failures["Browse"] = kDNSServiceErr_Unknown;
  EXPECT_FALSE(browser->startSearching());
  state.failSockFD = true;
  EXPECT_FALSE(browser->startSearching());
  browser->stopSearching();
  browser->stopSearching();
  EXPECT_EQ(state.calls, (Lines{"Browse 0 0 _http._tcp. (null) #1", "Deallocate #1",
                                "Browse 0 0 _http._tcp. local. #2", "Deallocate #2",
                                "Browse 0 0 _http._tcp. local. -> -65537",
                                "Browse 0 0 _http._tcp. local. #3", "Deallocate #3"}));
  EXPECT_EQ(log(), (Lines{"TrystBrowser.DNSServiceBrowseCallback: Failed to browse for "
                          "_http._tcp..local.: -65537",
                          "TrystBrowser.startSearching: DNSServiceBrowse failed with -65537"}));
}

// The port goes out unchanged; publishing again withdraws first; a bare publisher announces port -1
// in 16 bits. Failures are logged, save one without a watch; a failed registration stays.
TEST_F(TrystTest, PublishHandsTheFieldsOverAndLogsFailures) {
  ASSERT_TRUE(web->publish() && web->publish());
  web->unPublish();
  web->unPublish();
  ASSERT_TRUE(std::make_shared<TrystPublisher>()->publish());  // destruction withdraws
  state.failures["Register"] = kDNSServiceErr_NameConflict;
  EXPECT_FALSE(web->publish());
  ASSERT_TRUE(web->publish());
  fake::reply<DNSServiceRegisterReply>(5, 0u, kDNSServiceErr_NameConflict, "", "", "");
  pump();
  state.failSockFD = true;
  EXPECT_FALSE(web->publish());
  const std::string registered = "Register 0 2 web _http._tcp. (null) (null) " + kPort80 + " 0";
  EXPECT_EQ(Lines(state.calls.begin() + 1, state.calls.end()),
            (Lines{registered + " #2", "Deallocate #2", registered + " #3", "Deallocate #3",
                   "Register 0 0 (null) (null) (null) (null) 65535 0 #4", "Deallocate #4",
                   registered + " -> -65548", registered + " #5", "Deallocate #5",
                   registered + " #6"}));
  EXPECT_EQ(log(), (Lines{"TrystPublisher.DNSServiceRegister failed with -65548",
                          "TrystPublisher.DNSServiceRegisterCallback: Failed to register "
                          "_http._tcp./web/" + kPort80 + "/2: -65548"}));
}

// The registry keeps the first browser saved under an id and a type, keeps them when all stop, and
// releases by prefix of the id. Withdrawing all publishers runs the loop for a second, only when
// there is something to withdraw: whether a reply waiting on the browse is handled shows it.
TEST_F(TrystTest, RegistriesKeepTheFirstReleaseByPrefixAndStopAll) {
  auto same = TrystBrowser::browserWithServiceType(makeString("_http._tcp."), nullptr, 0);
  for (auto& b : {browser, same}) TrystBrowser::saveBrowserWithUniqueID(makeString("abc"), b);
  browseReply(1, 0, 0, "web");
  TrystPublisher::unPublishAll();
  EXPECT_EQ(state.started[0]->processed, 0);
  TrystPublisher::savePublisherWithUniqueID(makeString("abc"), web);
  ASSERT_TRUE(web->publish());
  const auto start = RunLoopClock::now();
  TrystPublisher::unPublishAll();
  EXPECT_GE(RunLoopClock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(state.started[0]->processed, 1);
  TrystBrowser::stopSearchinghAll();
  EXPECT_EQ(liveCount(), 0);
  const auto type = makeString("_http._tcp.");
  EXPECT_EQ(TrystBrowser::getBrowserWithUniqueID(makeString("abc"), type), browser);
  TrystBrowser::releaseBrowsersWithUniqueID(makeString("ab"));
  TrystPublisher::releasePublishersWithUniqueID(makeString("ab"));
  EXPECT_EQ(TrystBrowser::getBrowserWithUniqueID(makeString("abc"), type), nullptr);
}

}  // namespace
}  // namespace steward
