// Finds the administration services on the local network with the DNS-SD
// browse, resolve and address chain, for a bounded time.
#pragma once

#include <string>
#include <vector>

namespace steward::ctl {

struct DiscoveredService {
  std::string name;     // the service's instance name
  std::string host;     // the host name the name carries, else the address
  std::string address;  // IPv4, dotted decimal
  int port = 0;         // host byte order
};

// Browses "_stewardd._tcp" for `seconds`; each service once, sorted by name.
// False with a reason when the browse cannot start (no DNS-SD daemon).
[[nodiscard]] bool discoverServices(double seconds, std::vector<DiscoveredService>* found,
                                    std::string* error);

// The host an instance name announces: "Server administration on NAME"
// gives NAME, anything else none.
std::string hostFromServiceName(const std::string& name);

}  // namespace steward::ctl
