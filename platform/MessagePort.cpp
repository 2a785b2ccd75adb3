#include "platform/MessagePort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace steward {
namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point deadlineAfter(double seconds) {
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(seconds));
}

// Waits until fd is ready for events or the deadline passes. False on
// time-out; errors count as ready so that the following call reports them.
bool waitUntil(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p = {fd, events, 0};
    int n = poll(&p, 1, static_cast<int>(left.count()));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return true;
  }
}

void putBigEndian(std::uint32_t value, char* out) {
  for (int i = 3; i >= 0; --i, value >>= 8) out[i] = static_cast<char>(value & 0xff);
}

std::uint32_t getBigEndian(const char* in) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(in[i]);
  return value;
}

enum class IO { kDone, kTimedOut, kFailed };

IO sendAll(int fd, std::string_view bytes, Clock::time_point deadline) {
  while (!bytes.empty()) {
    ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitUntil(fd, POLLOUT, deadline)) return IO::kTimedOut;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return IO::kFailed;
    }
  }
  return IO::kDone;
}

IO receiveAll(int fd, char* out, std::size_t size, Clock::time_point deadline) {
  while (size > 0) {
    ssize_t n = recv(fd, out, size, MSG_DONTWAIT);
    if (n > 0) {
      out += n;
      size -= static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitUntil(fd, POLLIN, deadline)) return IO::kTimedOut;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return IO::kFailed;  // closed before the whole message, or an error
    }
  }
  return IO::kDone;
}

}  // namespace

std::unique_ptr<MessagePort> MessagePort::createRemote(const std::string& name,
                                                       const std::string& directory) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::string path = directory + name;
  if (name.empty() || path.size() >= sizeof(address.sun_path)) return nullptr;
  std::memcpy(address.sun_path, path.data(), path.size());

  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  // A blocking connect waits for room in a full backlog at most this long.
  timeval timeout = {static_cast<time_t>(kConnectTimeout), 0};
  if (setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<MessagePort>(new MessagePort(fd));
}

std::string MessagePort::frame(std::uint32_t messageID, std::string_view payload) {
  std::string message(kHeaderLength, '\0');
  putBigEndian(messageID, message.data());
  putBigEndian(static_cast<std::uint32_t>(payload.size()), message.data() + 4);
  return message.append(payload);
}

MessagePort::Framing MessagePort::unframe(std::string_view bytes, std::uint32_t maxLength,
                                          std::uint32_t* messageID,
                                          std::string_view* payload,
                                          std::size_t* frameLength) {
  *frameLength = kHeaderLength;
  if (bytes.size() < kHeaderLength) return Framing::kPartial;
  std::uint32_t length = getBigEndian(bytes.data() + 4);
  if (length > maxLength) return Framing::kTooLong;
  *frameLength = kHeaderLength + length;
  if (bytes.size() < *frameLength) return Framing::kPartial;
  *messageID = getBigEndian(bytes.data());
  *payload = bytes.substr(kHeaderLength, length);
  return Framing::kWhole;
}

MessagePort::~MessagePort() {
  if (fd_ >= 0) close(fd_);
}

std::int32_t MessagePort::sendRequest(std::int32_t messageID, std::string_view data,
                                      double sendTimeout, double receiveTimeout,
                                      std::string* reply) {
  if (fd_ < 0) return kIsInvalid;
  int fd = fd_;
  fd_ = -1;
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};

  if (data.size() > UINT32_MAX) return kTransportError;
  std::string message = frame(static_cast<std::uint32_t>(messageID), data);
  switch (sendAll(fd, message, deadlineAfter(sendTimeout))) {
    case IO::kDone: break;
    case IO::kTimedOut: return kSendTimeout;
    case IO::kFailed: return kTransportError;
  }

  // Reads what the framing asks for until the reply is whole: the header,
  // then the payload it announces.
  auto deadline = deadlineAfter(receiveTimeout);
  std::string received;
  std::size_t needed = kHeaderLength;
  std::uint32_t replyID;
  std::string_view payload;
  for (;;) {
    Framing framing = unframe(received, kMaximumReplyLength, &replyID, &payload, &needed);
    if (framing == Framing::kWhole) break;
    if (framing == Framing::kTooLong) return kTransportError;
    std::size_t have = received.size();
    received.resize(needed);
    IO io = receiveAll(fd, received.data() + have, needed - have, deadline);
    if (io == IO::kTimedOut) return kReceiveTimeout;
    if (io == IO::kFailed) return kTransportError;
  }
  received.erase(0, kHeaderLength);  // the payload is the rest
  *reply = std::move(received);
  return kSuccess;
}

}  // namespace steward
