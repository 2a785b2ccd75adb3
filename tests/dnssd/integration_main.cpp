// Publishes a service, browses for its type and withdraws it again against
// a real DNS-SD daemon; run-in-netns.sh provides a private one. Prints one
// line per step and exits 0 when all went as expected, 1 otherwise.
//
//   dnssd_integration_test              the round trip
//   dnssd_integration_test --latency N  N publish -> added timings, in ms
//
// DNSSD_IT_ADDR is the IPv4 address the service must be reported with.
#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "CommonLib/TrystBrowser.h"
#include "CommonLib/TrystPublisher.h"
#include "platform/RunLoop.h"

namespace steward {
namespace {

constexpr const char* kType = "_stewardtest._tcp";
const std::int32_t kPort = htons(8080);

double msSince(RunLoopClock::time_point start) {
  return std::chrono::duration<double, std::milli>(RunLoopClock::now() - start).count();
}

std::string field(const DictionaryRef& info, const char* key) {
  return textOf(info->objectForKey(key));
}

class Recorder : public TrystBrowserDelegate {
 public:
  void trystBrowserAddedService(TrystBrowser&, const DictionaryRef& service) override {
    added.push_back(service);
  }
  void trystBrowserRemovedService(TrystBrowser&, const DictionaryRef& service) override {
    removed.push_back(service);
  }
  std::vector<DictionaryRef> added, removed;
};

// Turns the run loop until `done` holds; false when the time ran out.
bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = RunLoopClock::now() + limit;
  while (!done()) {
    if (RunLoopClock::now() >= deadline) return false;
    RunLoop::current().runInMode(kRunLoopDefaultMode, deadline, true);
  }
  return true;
}

bool check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
  return ok;
}

int roundTrip(const std::string& address) {
  const auto start = RunLoopClock::now();
  auto recorder = std::make_shared<Recorder>();
  auto browser = TrystBrowser::browserWithServiceType(makeString(kType), nullptr, 0);
  browser->setDelegate(recorder);
  auto publisher = TrystPublisher::publisherWithServiceName(makeString("kestrel-it"),
                                                            makeString(kType), nullptr, kPort, 0);
  TrystPublisher::savePublisherWithUniqueID(makeString("it"), publisher);

  bool ok = check(browser->startSearching(), "startSearching");
  ok = check(publisher->publish(), "publish") && ok;
  if (!ok) return 1;
  ok = runUntil([&] { return !recorder->added.empty(); }, std::chrono::seconds(10));
  if (!check(ok, "added " + std::to_string(static_cast<int>(msSince(start))) + " ms after publishing"))
    return 1;
  const DictionaryRef& added = recorder->added[0];
  ok = check(field(added, "ServiceName") == "kestrel-it", "name " + field(added, "ServiceName"));
  ok = check(field(added, "IPv4Address") == address, "address " + field(added, "IPv4Address")) && ok;
  ok = check(field(added, "Port") == std::to_string(kPort),
             "port " + field(added, "Port") + " (network byte order of 8080)") && ok;
  ok = check(field(added, "Type") == std::string(kType) + "." && field(added, "Domain") == "local.",
             "type " + field(added, "Type") + " domain " + field(added, "Domain")) && ok;
  ok = check(browser->resolvers().empty(), "resolvers cleaned up") && ok;

  const auto withdrawn = RunLoopClock::now();
  TrystPublisher::unPublishAll();
  const bool removed = runUntil([&] { return !recorder->removed.empty(); }, std::chrono::seconds(5));
  ok = check(removed, "removed " + std::to_string(static_cast<int>(msSince(withdrawn))) +
                          " ms after withdrawing") && ok;
  if (!recorder->removed.empty())
    ok = check(field(recorder->removed[0], "ServiceName") == "kestrel-it", "removed name") && ok;
  ok = check(recorder->added.size() == 1, "reported once") && ok;
  browser->stopSearching();
  TrystPublisher::releasePublishersWithUniqueID(makeString("it"));
  return ok ? 0 : 1;
}

int latency(int rounds) {
  auto recorder = std::make_shared<Recorder>();
  auto browser = TrystBrowser::browserWithServiceType(makeString(kType), nullptr, 0);
  browser->setDelegate(recorder);
  if (!browser->startSearching()) return 1;
  std::vector<double> times;
  for (int i = 0; i < rounds; ++i) {
    auto publisher = TrystPublisher::publisherWithServiceName(
        makeString("latency-" + std::to_string(i)), makeString(kType), nullptr, kPort, 0);
    const std::size_t seen = recorder->added.size();
    const auto start = RunLoopClock::now();
    if (!publisher->publish() ||
        !runUntil([&] { return recorder->added.size() > seen; }, std::chrono::seconds(10)))
      return 1;
    times.push_back(msSince(start));
  }
  std::sort(times.begin(), times.end());
  std::printf("publish -> added: %d rounds, min %.1f ms, median %.1f ms, max %.1f ms\n", rounds,
              times.front(), times[times.size() / 2], times.back());
  return 0;
}

}  // namespace
}  // namespace steward

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc == 3 && std::strcmp(argv[1], "--latency") == 0)
    return steward::latency(std::max(1, std::atoi(argv[2])));
  const char* address = std::getenv("DNSSD_IT_ADDR");
  return steward::roundTrip(address ? address : "169.254.77.1");
}
