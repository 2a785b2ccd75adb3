#include "tests/support/LogCapture.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace steward {

LogCapture::LogCapture(std::string path) : path_(std::move(path)) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path_.size() >= sizeof address.sun_path) std::abort();
  std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  unlink(path_.c_str());
  fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0 ||
      bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::fprintf(stderr, "LogCapture: cannot bind %s: %s\n", path_.c_str(),
                 std::strerror(errno));
    std::abort();
  }
}

LogCapture::~LogCapture() {
  close(fd_);
  unlink(path_.c_str());
}

void LogCapture::drain(int timeoutMs) {
  char buffer[8192];
  pollfd p{fd_, POLLIN, 0};
  while (poll(&p, 1, timeoutMs) > 0) {
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0) break;
    lines_.push_back(parseSyslogDatagram(std::string(buffer, static_cast<std::size_t>(n))));
    timeoutMs = 0;
  }
}

const std::vector<LogLine>& LogCapture::lines() {
  drain(0);
  return lines_;
}

std::vector<std::string> LogCapture::texts() {
  std::vector<std::string> texts;
  for (const auto& line : lines()) texts.push_back(line.text);
  return texts;
}

const std::vector<LogLine>& LogCapture::waitForLines(
    std::size_t count, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  drain(0);
  while (lines_.size() < count) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    drain(static_cast<int>(left.count()));
  }
  return lines_;
}

LogLine parseSyslogDatagram(const std::string& datagram) {
  LogLine line{-1, {}, datagram};
  if (datagram.empty() || datagram[0] != '<') return line;
  std::size_t close = datagram.find('>');
  if (close == std::string::npos) return line;
  line.priority = std::atoi(datagram.c_str() + 1);
  // The timestamp "Mmm dd hh:mm:ss " is 16 characters.
  std::size_t tagStart = close + 1 + 16;
  std::size_t separator = datagram.find(": ", tagStart);
  if (tagStart > datagram.size() || separator == std::string::npos) {
    line.text = datagram.substr(close + 1);
    return line;
  }
  line.tag = datagram.substr(tagStart, separator - tagStart);
  line.text = datagram.substr(separator + 2);
  return line;
}

}  // namespace steward
