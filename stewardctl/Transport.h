// Sends one request body to many hosts over HTTPS at once, with libcurl:
// at most `parallel` transfers run together and each has its own time-out,
// so a host that hangs costs its own wait and nobody else's.
#pragma once

#include <string>
#include <vector>

#include "stewardctl/Credentials.h"

namespace steward::ctl {

struct Target {
  std::string label;        // how the host is shown
  std::string host;         // name in the URL, checked against the certificate
  std::string connectAddress;  // when set, connect here instead of resolving `host`
  int port = 443;
  Credentials credentials;
};

struct Exchange {
  bool transferred = false;  // an HTTP reply arrived
  long httpStatus = 0;
  std::string body;          // the reply body
  std::string failure;       // in words, when nothing usable arrived
};

struct TransportSettings {
  std::string cacert;
  double timeout = 10;
  int parallel = 16;
};

// One exchange per target, in the targets' order.
std::vector<Exchange> postToAll(const std::vector<Target>& targets, const std::string& body,
                                const TransportSettings& settings);

// "HOST", "HOST:PORT", "[V6]:PORT" or "V6" into a target's host and port;
// false for an empty name or a bad port.
[[nodiscard]] bool splitHostPort(const std::string& text, std::string* host, int* port);

}  // namespace steward::ctl
