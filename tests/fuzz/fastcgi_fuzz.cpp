// Bytes as what the login check's connection delivers: a request read from
// them has an id, and parameters within the limit.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "deploy/FastCgi.h"

static void check(bool ok) {
  if (!ok) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int ends[2];
  check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0);
  // A stream socket's buffer holds far more than the fuzzer's inputs.
  check(write(ends[1], data, size) == static_cast<ssize_t>(size));
  shutdown(ends[1], SHUT_WR);
  if (auto request = steward::readFastCgiRequest(ends[0])) {
    check(request->id != 0);
    std::size_t bytes = 0;
    for (const auto& [name, value] : request->params) bytes += name.size() + value.size();
    check(bytes <= steward::kFastCgiParamsLimit);
  }
  close(ends[0]);
  close(ends[1]);
  return 0;
}
