#include "platform/UnixListener.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace steward {

namespace {

bool addressOf(const std::string& path, sockaddr_un* address) {
  *address = {};
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.data(), path.size());
  return true;
}

bool isServed(const sockaddr_un& address) {
  int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  bool served = probe >= 0 &&
                connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  if (probe >= 0) close(probe);
  return served;
}

}  // namespace

int listenOnUnixSocket(const std::string& path, int backlog, int flags, std::string* error) {
  // Bound and listening under a private name first, then renamed into place.
  std::string staging = path + ".new-" + std::to_string(getpid());
  sockaddr_un address, stagingAddress;
  if (!addressOf(path, &address) || !addressOf(staging, &stagingAddress)) {
    *error = "socket path too long: " + path;
    return -1;
  }
  if (isServed(address)) {
    *error = path + " is already served by another process";
    return -1;
  }
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
  unlink(staging.c_str());
  if (fd < 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&stagingAddress), sizeof stagingAddress) != 0 ||
      listen(fd, backlog) != 0 || rename(staging.c_str(), path.c_str()) != 0) {
    *error = "cannot serve " + path + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    unlink(staging.c_str());
    return -1;
  }
  return fd;
}

}  // namespace steward
