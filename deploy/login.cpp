// The web server's login check (see LoginCheck.h), a FastCGI responder that
// keeps running: on the socket systemd hands over, or with `--listen PATH`
// on a socket of its own. A few threads take connections in turn.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "deploy/LoginCheck.h"

namespace {

constexpr int kWorkers = 8;
constexpr int kSystemdFirstFd = 3;

// The descriptor systemd passed (LISTEN_FDS), or a new socket at `path`.
int listener(const char* path) {
  const char* pid = std::getenv("LISTEN_PID");
  const char* fds = std::getenv("LISTEN_FDS");
  if (pid && fds && std::atol(pid) == getpid() && std::strcmp(fds, "1") == 0) {
    unsetenv("LISTEN_PID");
    unsetenv("LISTEN_FDS");
    return kSystemdFirstFd;
  }
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (!path || std::strlen(path) >= sizeof address.sun_path) return -1;
  std::strcpy(address.sun_path, path);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  unlink(path);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      chmod(path, 0660) != 0 || listen(fd, SOMAXCONN) != 0)
    return -1;
  return fd;
}

void work(int fd, steward::LoginCheck& check) {
  for (;;) {
    int connection = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection >= 0)
      check.serve(connection);
    else if (errno == EBADF || errno == EINVAL || errno == ENOTSOCK)
      std::exit(1);
    else if (errno != EINTR && errno != ECONNABORTED)
      usleep(100000);  // out of descriptors or memory for a moment
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool listenOption = argc == 3 && std::strcmp(argv[1], "--listen") == 0;
  const int fd = listener(listenOption ? argv[2] : nullptr);
  if (fd < 0) {
    std::fprintf(stderr, "usage: %s --listen PATH (or started by a systemd socket)\n", argv[0]);
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  openlog("stewardd-login", LOG_PID, LOG_AUTHPRIV);
  steward::LoginCheck check;
  std::vector<std::thread> workers;
  for (int i = 0; i < kWorkers; ++i) workers.emplace_back(work, fd, std::ref(check));
  for (std::thread& worker : workers) worker.join();
}
