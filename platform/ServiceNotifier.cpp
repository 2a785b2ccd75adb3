#include "platform/ServiceNotifier.h"

#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace steward {

bool notifyServiceManager(std::string_view state, std::string* error) {
  const char* name = getenv("NOTIFY_SOCKET");
  if (!name || !*name) return true;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::size_t length = std::strlen(name);
  if ((name[0] != '/' && name[0] != '@') || length >= sizeof address.sun_path) {
    *error = std::string("NOTIFY_SOCKET is not a socket path: ") + name;
    return false;
  }
  std::memcpy(address.sun_path, name, length);
  if (name[0] == '@') address.sun_path[0] = '\0';
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ssize_t sent = -1;
  if (fd >= 0) {
    auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
    sent = sendto(fd, state.data(), state.size(), MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr*>(&address), size);
  }
  if (sent < 0) *error = std::string("cannot notify ") + name + ": " + std::strerror(errno);
  if (fd >= 0) close(fd);
  return sent >= 0;
}

std::string monotonicTimeField() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return "MONOTONIC_USEC=" + std::to_string(static_cast<long long>(now.tv_sec) * 1000000 +
                                            now.tv_nsec / 1000);
}

}  // namespace steward
