#include "platform/MessagePort.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

namespace steward {
namespace {

// A server for one exchange: it reads the 8-byte request header and payload
// and answers with scripted bytes, or lets the client wait.
class OneShotServer {
 public:
  OneShotServer(const std::string& path, std::string answer, bool hang = false)
      : answer_(std::move(answer)), hang_(hang) {
    fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(fd_, 4), 0);
    thread_ = std::thread([this] { serve(); });
  }
  ~OneShotServer() {
    shutdown(fd_, SHUT_RDWR);  // wakes an accept that nobody answers
    finish();
    close(fd_);
  }

  // Waits for the exchange to end.
  void finish() {
    if (thread_.joinable()) thread_.join();
  }
  // The request bytes received, header included; call after finish().
  const std::string& request() const { return request_; }

 private:
  void serve() {
    int client = accept(fd_, nullptr, nullptr);
    if (client < 0) return;
    char buffer[8];
    std::size_t got = 0;
    while (got < sizeof buffer) {
      ssize_t n = read(client, buffer + got, sizeof buffer - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    request_.assign(buffer, got);
    if (hang_) {
      char c;
      while (read(client, &c, 1) > 0) {
      }
    } else if (!answer_.empty()) {
      EXPECT_EQ(write(client, answer_.data(), answer_.size()),
                static_cast<ssize_t>(answer_.size()));
    }
    close(client);
  }

  int fd_;
  std::string answer_;
  bool hang_;
  std::string request_;
  std::thread thread_;
};

std::string message(std::uint32_t id, const std::string& payload) {
  std::string out;
  for (std::uint32_t v : {id, static_cast<std::uint32_t>(payload.size())}) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xff);
  }
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

  std::int32_t exchange(std::string* reply, double receiveTimeout = 5.0) {
    auto port = MessagePort::createRemote("testPort", dir_);
    if (!port) return 1;
    return port->sendRequest(0, {}, 5.0, receiveTimeout, reply);
  }

  std::string dir_;
};

TEST_F(MessagePortTest, ExchangesOneFramedMessageEachWay) {
  OneShotServer server(dir_ + "testPort", message(7, "<plist/>"));
  auto port = MessagePort::createRemote("testPort", dir_);
  ASSERT_TRUE(port);
  std::string reply;
  EXPECT_EQ(port->sendRequest(0, {}, 5.0, 5.0, &reply), MessagePort::kSuccess);
  EXPECT_EQ(reply, "<plist/>");
  server.finish();
  EXPECT_EQ(server.request(), std::string(8, '\0'));  // id 0, no payload
  // A port serves one exchange.
  EXPECT_EQ(port->sendRequest(0, {}, 5.0, 5.0, &reply), MessagePort::kIsInvalid);
}

TEST_F(MessagePortTest, EmptyReplyIsASuccessWithNoBytes) {
  OneShotServer server(dir_ + "testPort", message(0, ""));
  std::string reply = "stale";
  EXPECT_EQ(exchange(&reply), MessagePort::kSuccess);
  EXPECT_EQ(reply, "");
}

TEST_F(MessagePortTest, NoServerMeansNoPort) {
  EXPECT_FALSE(MessagePort::createRemote("testPort", dir_));
  // A socket file left behind by a server that has gone away.
  { OneShotServer server(dir_ + "testPort", ""); }
  EXPECT_FALSE(MessagePort::createRemote("testPort", dir_));
  EXPECT_FALSE(MessagePort::createRemote("", dir_));
  EXPECT_FALSE(MessagePort::createRemote(std::string(200, 'x'), dir_));
}

TEST_F(MessagePortTest, BrokenRepliesAreFailures) {
  std::string reply = "untouched";
  {
    OneShotServer server(dir_ + "testPort", "");  // closes without a reply
    EXPECT_EQ(exchange(&reply), MessagePort::kTransportError);
  }
  std::filesystem::remove(dir_ + "testPort");
  {
    OneShotServer server(dir_ + "testPort", message(0, "short").substr(0, 10));
    EXPECT_EQ(exchange(&reply), MessagePort::kTransportError);
  }
  std::filesystem::remove(dir_ + "testPort");
  {
    // Announces one byte more than 64 MiB: refused before anything is read.
    std::string header = message(0, "").substr(0, 4) + std::string("\x04\x00\x00\x01", 4);
    OneShotServer server(dir_ + "testPort", header);
    EXPECT_EQ(exchange(&reply), MessagePort::kTransportError);
  }
  std::filesystem::remove(dir_ + "testPort");
  {
    OneShotServer server(dir_ + "testPort", "", /*hang=*/true);
    EXPECT_EQ(exchange(&reply, 0.2), MessagePort::kReceiveTimeout);
  }
  EXPECT_EQ(reply, "untouched");
}

}  // namespace
}  // namespace steward
