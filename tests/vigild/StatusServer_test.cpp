#include "vigild/StatusServer.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <thread>

#include "platform/MessagePort.h"
#include "tests/support/ScratchDirectory.h"

namespace steward::vigild {
namespace {

// A client that sends `bytes` and then neither reads nor closes.
int rawClient(const std::string& path, const std::string& bytes) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
  return fd;
}

bool closedByServer(int fd) {
  char byte;
  return recv(fd, &byte, 1, 0) == 0;
}

// Silent, stalled, oversized, unknown and vanished clients never keep the
// others from their answers, and a big reply reaches a reader in full
// while another client leaves its copy unread. A second server leaves the
// live socket alone.
TEST(StatusServer, ServesEveryoneWhateverSomeClientsDo) {
  ScratchDirectory scratch;
  const std::string payload(1 << 20, 'x');
  volatile std::sig_atomic_t stop = 0;
  StatusServerLimits limits;
  limits.clientDeadline = std::chrono::seconds(3);
  StatusServer server([&] { return payload; }, scratch.path("vigildPort"), limits);
  std::string error, path = scratch.path("vigildPort");
  std::thread serving([&] {  // the server belongs to the loop of the thread that starts it
    ASSERT_TRUE(server.start(&error)) << error;
    server.serveUntil(&stop, std::chrono::milliseconds(20), std::chrono::milliseconds(20));
  });
  while (access(path.c_str(), F_OK) != 0) usleep(1000);
  int silent = rawClient(path, "");
  int stalled = rawClient(path, MessagePort::frame(0, ""));  // never reads its reply
  int announcedHuge = rawClient(path, std::string("\0\0\0\0\xff\xff\xff\xff", 8));
  int unknownID = rawClient(path, MessagePort::frame(7, ""));
  close(rawClient(path, MessagePort::frame(0, "")));  // gone before the reply
  EXPECT_TRUE(closedByServer(announcedHuge));
  EXPECT_TRUE(closedByServer(unknownID));

  std::vector<std::unique_ptr<MessagePort>> ports(50);  // connected all at once
  for (auto& port : ports) port = MessagePort::createRemote("vigildPort", scratch.path() + "/");
  for (auto& port : ports) {
    std::string reply;
    EXPECT_EQ(port->sendRequest(0, {}, 5, 5, &reply), MessagePort::kSuccess);
    EXPECT_EQ(reply, payload);
  }
  {
    StatusServer second([] { return ""; }, path);
    EXPECT_FALSE(second.start(&error));
  }
  EXPECT_EQ(access(path.c_str(), F_OK), 0);  // still the first one's
  EXPECT_TRUE(closedByServer(silent));  // its deadline passed meanwhile or now
  EXPECT_FALSE(closedByServer(stalled));  // the reply's first bytes
  for (int fd : {silent, stalled, announcedHuge, unknownID}) close(fd);
  stop = 1;
  serving.join();
}


// A late answer reaches the client that asked only: not one that left, nor
// the newer client that got its descriptor.
TEST(StatusServer, LateAnswerReachesOnlyTheClientThatAsked) {
  ScratchDirectory scratch;
  std::string path = scratch.path("vigildPort"), error;
  std::vector<StatusServer::Answer> answers;
  StatusServer server([] { return ""; }, path);
  server.answerLater(1, [&](std::string_view, StatusServer::Answer answer) {
    answers.push_back(std::move(answer));
  }, std::chrono::seconds(5));
  ASSERT_TRUE(server.start(&error)) << error;
  auto runUntil = [](const std::function<bool()>& done) {
    while (!done()) RunLoop::current().runInMode(kRunLoopDefaultMode, RunLoopClock::now() +
                                                 std::chrono::milliseconds(10), true);
  };
  close(rawClient(path, MessagePort::frame(1, "")));
  runUntil([&] { return answers.size() == 1 && server.clientCount() == 0; });
  int asking = rawClient(path, MessagePort::frame(1, ""));
  runUntil([&] { return answers.size() == 2; });
  answers[0]("stale");
  answers[1]("fresh");
  answers[1]("twice");
  std::string received(64, '\0');
  received.resize(std::max<ssize_t>(0, recv(asking, received.data(), 64, MSG_WAITALL)));
  EXPECT_EQ(received, MessagePort::frame(1, "fresh"));
  close(asking);
}

}  // namespace
}  // namespace steward::vigild
