// dnssd_integration_test [--latency N]: publishes N services (default 1), browses for them and
// withdraws them against the real daemon of run-in-netns.sh, which must report them at DNSSD_IT_ADDR.
// Prints a line per check and the publish -> added times; exits 0 when all went as expected.
#include <arpa/inet.h>

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

}  // namespace
}  // namespace steward

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const char* address = std::getenv("DNSSD_IT_ADDR");
  return steward::roundTrip(argc == 3 ? std::max(1, std::atoi(argv[2])) : 1,
                            address ? address : "169.254.77.1");
}
