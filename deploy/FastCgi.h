// The responder side of FastCGI, as much as a web server's sub-request needs:
// one request per connection (no multiplexing, the connection closed after
// the answer), its parameters read, its input read and dropped.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace steward {

struct FastCgiRequest {
  std::uint16_t id = 0;
  std::map<std::string, std::string> params;
};

// Reads one request from connection `fd` up to the end of its input. Nothing
// when the connection ends first, a record is malformed or out of place, the
// role is not "responder", or the parameters exceed kFastCgiParamsLimit
// bytes. The caller sets the connection's timeouts.
std::optional<FastCgiRequest> readFastCgiRequest(int fd);
constexpr std::size_t kFastCgiParamsLimit = 16384;

// Answers request `id` with `output` (headers, blank line, body) and ends it.
// False when the connection did not take it all.
bool writeFastCgiResponse(int fd, std::uint16_t id, const std::string& output);

}  // namespace steward
