// A stand-in for the hardware-monitor daemon, serving its message port from
// a thread of the test: the socket is made at a host path that the sandbox
// sees as /var/run/vigildPort. Every request is answered as scripted: a
// reply message (possibly with no bytes, possibly late) or a closed
// connection.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace steward::sandbox {

class FakeMonitor {
 public:
  explicit FakeMonitor(const std::string& socketPath) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    unlink(socketPath.c_str());
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
        << socketPath;
    EXPECT_EQ(listen(fd_, 8), 0);
    EXPECT_EQ(pipe2(stop_, O_CLOEXEC), 0);
    thread_ = std::thread([this] { serve(); });
  }
  FakeMonitor(const FakeMonitor&) = delete;
  FakeMonitor& operator=(const FakeMonitor&) = delete;
  ~FakeMonitor() {
    close(stop_[1]);
    thread_.join();
    close(stop_[0]);
    close(fd_);
  }

  // Answers with one message carrying these bytes, after a delay.
  void reply(std::string payload,
             std::chrono::milliseconds delay = std::chrono::milliseconds(0)) {
    std::lock_guard<std::mutex> lock(mutex_);
    payload_ = std::move(payload);
    delay_ = delay;
    closes_ = false;
  }
  // Closes each connection without answering.
  void closeWithoutReply() {
    std::lock_guard<std::mutex> lock(mutex_);
    closes_ = true;
  }
  // The requests received so far, each as its raw bytes (header included).
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  // Waits for fd to become readable; false once the monitor is stopping or
  // the time is up.
  bool waitReadable(int fd, int milliseconds) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    while (poll(fds, 2, milliseconds) < 0) {
    }
    return fds[1].revents == 0 && fds[0].revents != 0;
  }

  void serve() {
    while (waitReadable(fd_, -1)) {
      int client = accept(fd_, nullptr, nullptr);
      if (client < 0) continue;
      answer(client);
      close(client);
    }
  }

  void answer(int client) {
    std::string request;
    char buffer[4096];
    // The header, then as many payload bytes as it announces.
    while (request.size() < 8 || request.size() < 8 + announced(request)) {
      if (!waitReadable(client, 10000)) return;
      ssize_t n = read(client, buffer, sizeof buffer);
      if (n <= 0) break;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    std::string payload;
    std::chrono::milliseconds delay;
    bool closes;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
      payload = payload_;
      delay = delay_;
      closes = closes_;
    }
    if (closes) return;
    // A late reply: wait until the client gives up or the delay is over.
    if (delay.count() > 0 && waitReadable(client, static_cast<int>(delay.count()))) return;
    std::string message(4, '\0');
    for (int shift = 24; shift >= 0; shift -= 8) {
      message += static_cast<char>((payload.size() >> shift) & 0xff);
    }
    message += payload;
    (void)send(client, message.data(), message.size(), MSG_NOSIGNAL);
  }

  static std::size_t announced(const std::string& request) {
    std::size_t length = 0;
    for (int i = 4; i < 8; ++i) length = (length << 8) | static_cast<unsigned char>(request[i]);
    return length;
  }

  int fd_ = -1;
  int stop_[2] = {-1, -1};
  std::thread thread_;
  std::mutex mutex_;
  std::string payload_;
  std::chrono::milliseconds delay_{0};
  bool closes_ = false;
  std::vector<std::string> requests_;
};

}  // namespace steward::sandbox
