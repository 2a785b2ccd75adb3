#include "vigild/StatusServer.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/MessagePort.h"
#include "platform/UnixListener.h"

namespace steward::vigild {

struct StatusServer::Client {
  int fd;
  RunLoopClock::time_point deadline;
  std::string input;   // the request so far
  std::string output;  // the framed reply; what is left of it to send
  std::shared_ptr<SocketWatch> watch;
  std::shared_ptr<RunLoopSource> source;
  std::uint64_t serial;  // tells a late answer whether its client is still here
  bool waiting = false;  // for a late answer; further input is ignored
};

namespace {
constexpr std::uint32_t kStatusRequest = 0;
}  // namespace

StatusServer::StatusServer(StatusProvider provider, std::string socketPath,
                           StatusServerLimits limits)
    : provider_(std::move(provider)), socketPath_(std::move(socketPath)), limits_(limits) {}

StatusServer::~StatusServer() {
  *self_ = nullptr;
  while (!clients_.empty()) drop(clients_.begin()->first);
  if (listener_ < 0) return;
  listenerSource_->invalidate();
  close(listener_);
  unlink(socketPath_.c_str());
}

bool StatusServer::start(std::string* error) {
  int fd = listenOnUnixSocket(socketPath_, 128, SOCK_NONBLOCK, error);
  if (fd < 0) return false;
  listener_ = fd;
  listenerSource_ = RunLoopSource::create(
      SocketWatch::create(fd, [this](SocketWatch&) { acceptClients(); }));
  RunLoop::current().addSource(listenerSource_, kRunLoopDefaultMode);
  return true;
}

void StatusServer::serveUntil(const volatile std::sig_atomic_t* stop,
                              std::chrono::milliseconds tick, std::chrono::milliseconds idleTick) {
  while (!*stop) {
    auto wait = clients_.empty() ? idleTick : tick;
    RunLoop::current().runInMode(kRunLoopDefaultMode, RunLoopClock::now() + wait, true);
    dropExpiredClients();
  }
}

void StatusServer::acceptClients() {
  for (;;) {
    int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE) syslog(LOG_WARNING, "accept: %m");
      return;  // EAGAIN: none left; other errors: try again next time
    }
    if (clients_.size() >= limits_.maximumClients) {
      close(fd);
      continue;
    }
    auto client = std::make_unique<Client>();
    client->fd = fd;
    client->deadline = RunLoopClock::now() + limits_.clientDeadline;
    client->serial = nextSerial_++;
    Client* raw = client.get();
    client->watch = SocketWatch::create(fd, [this, raw](SocketWatch& watch) {
      if (watch.condition() == SocketWatch::Condition::kReadable) {
        readFrom(*raw);
      } else {
        writeTo(*raw);
      }
    });
    client->source = RunLoopSource::create(client->watch);
    RunLoop::current().addSource(client->source, kRunLoopDefaultMode);
    clients_.emplace(fd, std::move(client));
  }
}

void StatusServer::readFrom(Client& client) {
  char buffer[4096];
  ssize_t n = recv(client.fd, buffer, sizeof buffer, 0);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (n <= 0) return drop(client.fd);  // gone before asking
  if (client.waiting) return;
  client.input.append(buffer, static_cast<std::size_t>(n));

  std::uint32_t messageID;
  std::string_view payload;
  std::size_t frameLength;
  switch (MessagePort::unframe(client.input, limits_.maximumRequestLength, &messageID, &payload,
                               &frameLength)) {
    case MessagePort::Framing::kPartial:
      return;
    case MessagePort::Framing::kTooLong:
      syslog(LOG_WARNING, "refused a request longer than %u bytes",
             limits_.maximumRequestLength);
      return drop(client.fd);
    case MessagePort::Framing::kWhole:
      break;
  }
  if (messageID == kStatusRequest) return reply(client, kStatusRequest, provider_());
  if (late_.count(messageID)) return handOver(client, messageID, payload);
  syslog(LOG_WARNING, "refused a request with message id %u", messageID);
  drop(client.fd);
}

void StatusServer::answerLater(std::uint32_t messageID, LateHandler handler,
                               std::chrono::milliseconds deadline) {
  late_[messageID] = {std::move(handler), deadline};
}

void StatusServer::handOver(Client& client, std::uint32_t messageID, std::string_view payload) {
  const Late& late = late_[messageID];
  client.waiting = true;
  client.deadline = RunLoopClock::now() + late.deadline;
  std::weak_ptr<StatusServer*> self = self_;
  int fd = client.fd;
  std::uint64_t serial = client.serial;
  std::string request(payload);
  client.input.clear();
  late.handler(request, [self, fd, serial, messageID](const std::string& answer) {
    auto server = self.lock();
    if (!server || !*server) return;
    auto found = (*server)->clients_.find(fd);
    if (found == (*server)->clients_.end() || found->second->serial != serial ||
        !found->second->waiting)
      return;
    found->second->waiting = false;
    (*server)->reply(*found->second, messageID, answer);
  });
}

void StatusServer::reply(Client& client, std::uint32_t messageID, const std::string& payload) {
  client.output = MessagePort::frame(messageID, payload);
  client.input.clear();
  client.watch->setCondition(SocketWatch::Condition::kWritable);
  writeTo(client);  // usually all of it fits at once
}

void StatusServer::writeTo(Client& client) {
  while (!client.output.empty()) {
    ssize_t n = send(client.fd, client.output.data(), client.output.size(),
                     MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // when there is room
    if (n < 0) return drop(client.fd);  // EPIPE and the like: the client left
    client.output.erase(0, static_cast<std::size_t>(n));
  }
  drop(client.fd);  // one exchange per connection
}

void StatusServer::drop(int fd) {
  auto found = clients_.find(fd);
  if (found == clients_.end()) return;
  found->second->source->invalidate();
  found->second->watch->invalidate();
  close(fd);
  clients_.erase(found);
}

void StatusServer::dropExpiredClients() {
  auto now = RunLoopClock::now();
  std::vector<int> expired;
  for (const auto& [fd, client] : clients_) {
    if (client->deadline <= now) expired.push_back(fd);
  }
  for (int fd : expired) drop(fd);
}

}  // namespace steward::vigild
