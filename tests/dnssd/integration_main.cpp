// dnssd_integration_test [--latency N]: publishes N services (default 1), browses for them and
// withdraws them against the real daemon of run-in-netns.sh, which must report them at DNSSD_IT_ADDR.
// dnssd_integration_test --announced TYPE PORT TXT: finds the service TYPE that the daemon announces
// from its service files, at PORT, with the TXT entry TXT.
// Prints a line per check and the publish -> added times; exits 0 when all went as expected.
#include <arpa/inet.h>
#include <dns_sd.h>
#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "CommonLib/TrystBrowser.h"
#include "CommonLib/TrystPublisher.h"

namespace steward {
namespace {

struct Recorder : TrystBrowserDelegate {
  void trystBrowserAddedService(TrystBrowser&, const DictionaryRef& i) override { added.push_back(i); }
  void trystBrowserRemovedService(TrystBrowser&, const DictionaryRef&) override { removed++; }
  std::vector<DictionaryRef> added;
  std::size_t removed = 0;
};

// Turns the run loop until `done` holds: the milliseconds that took, or -1 when the time ran out.
double runUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto start = RunLoopClock::now(), deadline = start + limit;
  while (!done()) {
    if (RunLoopClock::now() >= deadline) return -1;
    RunLoop::current().runInMode(kRunLoopDefaultMode, deadline, true);
  }
  return std::chrono::duration<double, std::milli>(RunLoopClock::now() - start).count();
}

bool check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
  return ok;
}

int roundTrip(std::size_t services, const std::string& address) {
  const std::string type = "_stewardtest._tcp";
  auto recorder = std::make_shared<Recorder>();
  auto browser = TrystBrowser::browserWithServiceType(makeString(type), nullptr, 0);
  browser->setDelegate(recorder);
  std::vector<double> times;
  if (!check(browser->startSearching(), "searching")) return 1;
  while (times.size() < services) {
    const std::string name = "kestrel-it-" + std::to_string(times.size());
    auto publisher = TrystPublisher::publisherWithServiceName(makeString(name), makeString(type),
                                                              nullptr, htons(8080), 0);
    TrystPublisher::savePublisherWithUniqueID(makeString("it-" + name), publisher);
    const auto seen = [&] { return recorder->added.size() == times.size() + 1; };
    times.push_back(publisher->publish() ? runUntil(seen, std::chrono::seconds(10)) : -1);
    if (!check(times.back() >= 0, name + " added")) return 1;
  }
  bool ok = true;  // the port as the resolve reply carries it, in network byte order
  for (auto [key, value] : {std::pair{"ServiceName", std::string("kestrel-it-0")},
                            {"IPv4Address", address}, {"Port", std::to_string(htons(8080))},
                            {"Type", type + "."}, {"Domain", std::string("local.")}}) {
    const std::string got = textOf(recorder->added[0]->objectForKey(key));
    ok = check(got == value, std::string(key) + " " + got) && ok;
  }
  ok = check(browser->resolvers().empty(), "resolvers cleaned up") && ok;
  TrystPublisher::unPublishAll();
  ok = check(runUntil([&] { return recorder->removed == services; }, std::chrono::seconds(5)) >= 0,
             "all removed after withdrawing") && ok;
  ok = check(recorder->added.size() == services, "each reported once") && ok;
  TrystPublisher::releasePublishersWithUniqueID(makeString("it-"));
  std::sort(times.begin(), times.end());
  std::printf("publish -> added: %zu services, min %.1f ms, median %.1f ms, max %.1f ms\n",
              services, times.front(), times[times.size() / 2], times.back());
  return ok ? 0 : 1;
}

void readTxt(DNSServiceRef, DNSServiceFlags, std::uint32_t, DNSServiceErrorType error, const char*,
             const char*, std::uint16_t, std::uint16_t length, const unsigned char* txt, void* out) {
  if (error == kDNSServiceErr_NoError)
    static_cast<std::string*>(out)->assign(reinterpret_cast<const char*>(txt), length);
}

// The TXT record as the resolve reply carries it (length-prefixed entries); empty when none came.
std::string resolveTxt(const std::string& name, const std::string& type, const std::string& domain) {
  std::string txt;
  DNSServiceRef ref = nullptr;
  if (DNSServiceResolve(&ref, 0, 0, name.c_str(), type.c_str(), domain.c_str(), readTxt, &txt) !=
      kDNSServiceErr_NoError)
    return txt;
  // The socket may wake up for other news first.
  pollfd socket = {DNSServiceRefSockFD(ref), POLLIN, 0};
  for (int wakeups = 0; txt.empty() && wakeups < 20 && poll(&socket, 1, 5000) == 1; ++wakeups)
    DNSServiceProcessResult(ref);
  DNSServiceRefDeallocate(ref);
  return txt;
}

int announced(const std::string& type, int port, const std::string& entry) {
  auto recorder = std::make_shared<Recorder>();
  auto browser = TrystBrowser::browserWithServiceType(makeString(type), nullptr, 0);
  browser->setDelegate(recorder);
  if (!check(browser->startSearching(), "searching")) return 1;
  const auto seen = [&] { return !recorder->added.empty(); };
  if (!check(runUntil(seen, std::chrono::seconds(10)) >= 0, type + " added")) return 1;
  const DictionaryRef& service = recorder->added[0];
  bool ok = check(textOf(service->objectForKey("Port")) == std::to_string(htons(port)), "port");
  ok = check(textOf(service->objectForKey("Type")) == type + ".", "type") && ok;
  const std::string txt = resolveTxt(textOf(service->objectForKey("ServiceName")), type,
                                     textOf(service->objectForKey("Domain")));
  return check(txt == std::string(1, static_cast<char>(entry.size())) + entry, "TXT " + txt) && ok
             ? 0 : 1;
}

}  // namespace
}  // namespace steward

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc == 5 && std::string(argv[1]) == "--announced")
    return steward::announced(argv[2], std::atoi(argv[3]), argv[4]);
  const char* address = std::getenv("DNSSD_IT_ADDR");
  return steward::roundTrip(argc == 3 ? std::max(1, std::atoi(argv[2])) : 1,
                            address ? address : "169.254.77.1");
}
