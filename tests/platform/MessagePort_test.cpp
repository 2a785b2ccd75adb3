#include "platform/MessagePort.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "tests/CommonLib/ScratchDirectory.h"

namespace steward {
namespace {

using namespace std::string_literals;

// A server for one exchange: it reads the 8-byte request header, then
// answers with scripted bytes, or (no answer) waits for the client to leave.
class OneShotServer {
 public:
  OneShotServer(const std::string& path, std::optional<std::string> answer) {
    fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(fd_, 4), 0);
    thread_ = std::thread([this, answer] {
      int client = accept(fd_, nullptr, nullptr);
      if (client < 0) return;
      request_.resize(8);
      request_.resize(std::max<ssize_t>(0, recv(client, request_.data(), 8, MSG_WAITALL)));
      char c;
      while (!answer && read(client, &c, 1) > 0) {
      }
      if (answer) {
        EXPECT_EQ(write(client, answer->data(), answer->size()), ssize_t(answer->size()));
      }
      close(client);
    });
  }
  // The request received; the server is done after this.
  std::string request() {
    shutdown(fd_, SHUT_RDWR);  // wakes an accept that nobody answers
    if (thread_.joinable()) thread_.join();
    return request_;
  }
  ~OneShotServer() {
    request();
    close(fd_);
  }

 private:
  int fd_;
  std::string request_;
  std::thread thread_;
};

std::string message(std::uint32_t id, const std::string& payload) {
  std::string out;
  for (std::uint32_t v : {id, static_cast<std::uint32_t>(payload.size())})
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xff);
  return out + payload;
}

TEST(MessagePort, OneFramedMessageEachWayOrAFailure) {
  ScratchDirectory dir;
  const struct {
    std::optional<std::string> answer;
    std::int32_t status;
    std::string reply;
  } cases[] = {
      {message(7, "<plist/>"), MessagePort::kSuccess, "<plist/>"},
      {message(0, ""), MessagePort::kSuccess, ""},
      {"", MessagePort::kTransportError, "untouched"},  // closes without a reply
      {message(0, "short").substr(0, 10), MessagePort::kTransportError, "untouched"},
      // Announces one byte more than 64 MiB: refused before anything is read.
      {"\0\0\0\0\x04\0\0\x01"s, MessagePort::kTransportError, "untouched"},
      {std::nullopt, MessagePort::kReceiveTimeout, "untouched"}};
  for (const auto& [answer, status, reply] : cases) {
    SCOPED_TRACE(reply);
    std::filesystem::remove(dir.path("testPort"));
    OneShotServer server(dir.path("testPort"), answer);
    auto port = MessagePort::createRemote("testPort", dir.path(""));
    ASSERT_TRUE(port);
    std::string got = "untouched";
    EXPECT_EQ(port->sendRequest(0, {}, 5.0, answer ? 5.0 : 0.2, &got), status);
    EXPECT_EQ(got, reply);
    if (status == MessagePort::kSuccess) {  // one exchange per port
      EXPECT_EQ(port->sendRequest(0, {}, 5.0, 5.0, &got), MessagePort::kIsInvalid);
    }
    port.reset();
    EXPECT_EQ(server.request(), std::string(8, '\0'));  // id 0, no payload
  }
}

TEST(MessagePort, NoServerMeansNoPort) {
  ScratchDirectory dir;
  EXPECT_FALSE(MessagePort::createRemote("testPort", dir.path("")));
  { OneShotServer server(dir.path("testPort"), ""); }  // a socket file left behind
  EXPECT_FALSE(MessagePort::createRemote("testPort", dir.path("")));
  EXPECT_FALSE(MessagePort::createRemote("", dir.path("")));
  EXPECT_FALSE(MessagePort::createRemote(std::string(200, 'x'), dir.path("")));
}

}  // namespace
}  // namespace steward
