#include "stewardctl/Discovery.h"

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "CommonLib/TrystBrowser.h"
#include "platform/RunLoop.h"

namespace steward::ctl {
namespace {

class Collector : public TrystBrowserDelegate {
 public:
  void trystBrowserAddedService(TrystBrowser&, const DictionaryRef& service) override {
    auto text = [&](const char* key) {
      auto value = as<String>(service->objectForKey(key));
      return value ? value->str() : std::string();
    };
    DiscoveredService found;
    found.name = text("ServiceName");
    found.address = text("IPv4Address");
    auto port = as<Integer>(service->objectForKey("Port"));
    // The chain reports the port as the wire carries it.
    found.port = port ? ntohs(static_cast<std::uint16_t>(port->value())) : 0;
    found.host = hostFromServiceName(found.name);
    if (found.host.empty()) found.host = found.address;
    for (const auto& known : services) {
      if (known.name == found.name) return;
    }
    services.push_back(found);
  }
  std::vector<DiscoveredService> services;
};

}  // namespace

std::string hostFromServiceName(const std::string& name) {
  static const std::string kPrefix = "Server administration on ";
  return name.rfind(kPrefix, 0) == 0 ? name.substr(kPrefix.size()) : std::string();
}

bool discoverServices(double seconds, std::vector<DiscoveredService>* found,
                      std::string* error) {
  auto collector = std::make_shared<Collector>();
  auto browser = TrystBrowser::browserWithServiceType(makeString("_stewardd._tcp"), nullptr, 0);
  browser->setDelegate(collector);
  if (!browser->startSearching()) {
    *error = "cannot browse the local network (is avahi-daemon running?)";
    return false;
  }
  auto deadline = RunLoopClock::now() +
                  std::chrono::duration_cast<RunLoopClock::duration>(
                      std::chrono::duration<double>(seconds));
  RunLoop::current().runUntilDate(deadline);
  browser->stopSearching();
  *found = collector->services;
  std::sort(found->begin(), found->end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  return true;
}

}  // namespace steward::ctl
