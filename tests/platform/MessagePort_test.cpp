#include "platform/MessagePort.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "tests/CommonLib/ScratchDirectory.h"

namespace steward {
namespace {

using namespace std::string_literals;

// A server for one exchange: it reads the 8-byte request header, answers
// with scripted bytes and closes.
class OneShotServer {
 public:
  OneShotServer(const std::string& path, const std::string& answer) {
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
      EXPECT_EQ(write(client, answer.data(), answer.size()), ssize_t(answer.size()));
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

// Replies the daemon cannot send (closed early, timed out) are run end to
// end in the sandbox; here, what the framing must refuse.
TEST(MessagePort, OneFramedMessageEachWayOrAFailure) {
  ScratchDirectory dir;
  const std::pair<std::string, std::int32_t> cases[] = {
      {"\0\0\0\x07\0\0\0\x08<plist/>"s, MessagePort::kSuccess},
      {"\0\0\0\0\0\0\0\x05sh"s, MessagePort::kTransportError},  // cut short
      // Announces one byte more than 64 MiB: refused before anything is read.
      {"\0\0\0\0\x04\0\0\x01"s, MessagePort::kTransportError}};
  for (const auto& [answer, status] : cases) {
    std::filesystem::remove(dir.path("testPort"));
    OneShotServer server(dir.path("testPort"), answer);
    auto port = MessagePort::createRemote("testPort", dir.path(""));
    ASSERT_TRUE(port);
    std::string got = "untouched";
    EXPECT_EQ(port->sendRequest(0, {}, 5.0, 5.0, &got), status);
    EXPECT_EQ(got, status == MessagePort::kSuccess ? "<plist/>" : "untouched");
    // One exchange per port.
    EXPECT_EQ(port->sendRequest(0, {}, 5.0, 5.0, &got), MessagePort::kIsInvalid);
    port.reset();
    EXPECT_EQ(server.request(), std::string(8, '\0'));  // id 0, no payload
  }
}

TEST(MessagePort, NoServerMeansNoPort) {
  ScratchDirectory dir;
  EXPECT_FALSE(MessagePort::createRemote("testPort", dir.path("")));
  { OneShotServer server(dir.path("testPort"), ""); }  // a socket file left behind
  EXPECT_FALSE(MessagePort::createRemote("testPort", dir.path("")));
  EXPECT_FALSE(MessagePort::createRemote(std::string(200, 'x'), dir.path("")));
}

}  // namespace
}  // namespace steward
