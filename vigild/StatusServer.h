// Serves the monitor's message port: a Unix stream socket where each client
// sends one framed request (platform/MessagePort.h) and gets one framed
// reply, then the connection ends. Message id 0 asks for the status; other
// ids, requests longer than the bound, clients that stall past their
// deadline and clients that vanish are dropped without disturbing the
// others. Everything runs on the calling thread's run loop; replies go out
// as the socket takes them.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/RunLoop.h"

namespace steward::vigild {

struct StatusServerLimits {
  std::uint32_t maximumRequestLength = 64 << 10;
  // From accepting a client to the last byte of its reply.
  std::chrono::milliseconds clientDeadline = std::chrono::seconds(10);
  std::size_t maximumClients = 256;  // more are refused until some leave
};

class StatusServer {
 public:
  static constexpr const char* kDefaultSocketPath = "/var/run/vigildPort";

  // The payload of the reply to a status request, made when one arrives.
  using StatusProvider = std::function<std::string()>;

  explicit StatusServer(StatusProvider provider,
                        std::string socketPath = kDefaultSocketPath,
                        StatusServerLimits limits = {});
  ~StatusServer();  // drops the clients and removes the socket
  StatusServer(const StatusServer&) = delete;
  StatusServer& operator=(const StatusServer&) = delete;

  // Binds the socket (replacing a stale one, never one that another
  // process serves) and listens on this thread's run loop. False, with the
  // reason in *error, when it cannot.
  [[nodiscard]] bool start(std::string* error);
  // Serves until *stop becomes nonzero, on the thread that started it. The
  // flag is checked after every event the run loop handles, every tick
  // while clients are connected (when the slow ones are dropped too) and
  // every idleTick otherwise, so an idle daemon seldom wakes.
  void serveUntil(const volatile std::sig_atomic_t* stop,
                  std::chrono::milliseconds tick = std::chrono::milliseconds(200),
                  std::chrono::milliseconds idleTick = std::chrono::seconds(30));
  std::size_t clientCount() const { return clients_.size(); }

  // Answers requests of another message id when their work is done: the
  // handler gets the payload and a function that sends the reply's payload
  // (under the same id) once; called after the client left, it does
  // nothing. Such a client may wait until `deadline` from its request.
  using Answer = std::function<void(const std::string& payload)>;
  using LateHandler = std::function<void(std::string_view payload, Answer answer)>;
  void answerLater(std::uint32_t messageID, LateHandler handler,
                   std::chrono::milliseconds deadline);

 private:
  struct Client;

  void acceptClients();
  void readFrom(Client& client);
  void writeTo(Client& client);
  void drop(int fd);
  void dropExpiredClients();
  void reply(Client& client, std::uint32_t messageID, const std::string& payload);
  void handOver(Client& client, std::uint32_t messageID, std::string_view payload);

  StatusProvider provider_;
  std::string socketPath_;
  StatusServerLimits limits_;
  int listener_ = -1;
  std::shared_ptr<RunLoopSource> listenerSource_;
  std::map<int, std::unique_ptr<Client>> clients_;
  struct Late {
    LateHandler handler;
    std::chrono::milliseconds deadline;
  };
  std::map<std::uint32_t, Late> late_;
  std::uint64_t nextSerial_ = 0;
  // Outlives the server in answers that come late.
  std::shared_ptr<StatusServer*> self_ = std::make_shared<StatusServer*>(this);
};

}  // namespace steward::vigild
