#include "platform/MessagePort.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

namespace steward {
namespace {

// A server for one exchange: it reads the 8-byte request header and answers
// with scripted bytes, or (hang) lets the client wait.
class OneShotServer {
 public:
  OneShotServer(const std::string& path, std::string answer, bool hang = false) {
    fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(fd_, 4), 0);
    thread_ = std::thread([this, answer, hang] {
      int client = accept(fd_, nullptr, nullptr);
      if (client < 0) return;
      char buffer[8];
      std::size_t got = 0;
      for (ssize_t n; got < sizeof buffer && (n = read(client, buffer + got, sizeof buffer - got)) > 0;)
        got += static_cast<std::size_t>(n);
      request_.assign(buffer, got);
      char c;
      while (hang && read(client, &c, 1) > 0) {
      }
      if (!hang) {
        EXPECT_EQ(write(client, answer.data(), answer.size()), ssize_t(answer.size()));
      }
      close(client);
    });
  }
  ~OneShotServer() {
    shutdown(fd_, SHUT_RDWR);  // wakes an accept that nobody answers
    finish();
    close(fd_);
  }
  void finish() {
    if (thread_.joinable()) thread_.join();
  }
  // The request bytes received; call after finish().
  const std::string& request() const { return request_; }

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

class MessagePortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/messageport.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // One exchange with a server that answers `answer`; the status.
  std::int32_t exchange(const std::string& answer, std::string* reply, bool hang = false) {
    std::filesystem::remove(dir_ + "testPort");
    OneShotServer server(dir_ + "testPort", answer, hang);
    auto port = MessagePort::createRemote("testPort", dir_);
    if (!port) return 1;
    return port->sendRequest(0, {}, 5.0, hang ? 0.2 : 5.0, reply);
  }

  std::string dir_;
};

TEST_F(MessagePortTest, ExchangesOneFramedMessageEachWay) {
  OneShotServer server(dir_ + "testPort", message(7, "<plist/>"));
  auto port = MessagePort::createRemote("testPort", dir_);
  ASSERT_TRUE(port);
  std::string reply = "stale";
  EXPECT_EQ(port->sendRequest(0, {}, 5.0, 5.0, &reply), MessagePort::kSuccess);
  EXPECT_EQ(reply, "<plist/>");
  server.finish();
  EXPECT_EQ(server.request(), std::string(8, '\0'));  // id 0, no payload
  EXPECT_EQ(port->sendRequest(0, {}, 5.0, 5.0, &reply), MessagePort::kIsInvalid);  // one exchange
  EXPECT_EQ(exchange(message(0, ""), &reply), MessagePort::kSuccess);
  EXPECT_EQ(reply, "");
}

TEST_F(MessagePortTest, NoServerMeansNoPort) {
  EXPECT_FALSE(MessagePort::createRemote("testPort", dir_));
  { OneShotServer server(dir_ + "testPort", ""); }  // a socket file left behind
  EXPECT_FALSE(MessagePort::createRemote("testPort", dir_));
  EXPECT_FALSE(MessagePort::createRemote("", dir_));
  EXPECT_FALSE(MessagePort::createRemote(std::string(200, 'x'), dir_));
}

TEST_F(MessagePortTest, BrokenRepliesAreFailures) {
  std::string reply = "untouched";
  EXPECT_EQ(exchange("", &reply), MessagePort::kTransportError);  // closes without a reply
  EXPECT_EQ(exchange(message(0, "short").substr(0, 10), &reply), MessagePort::kTransportError);
  // Announces one byte more than 64 MiB: refused before anything is read.
  EXPECT_EQ(exchange(std::string(4, '\0') + std::string("\x04\x00\x00\x01", 4), &reply), MessagePort::kTransportError);
  EXPECT_EQ(exchange("", &reply, /*hang=*/true), MessagePort::kReceiveTimeout);
  EXPECT_EQ(reply, "untouched");
}

}  // namespace
}  // namespace steward
