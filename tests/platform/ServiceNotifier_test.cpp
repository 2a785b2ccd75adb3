#include "platform/ServiceNotifier.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace steward {
namespace {

// No variable means nobody to tell; the state goes out as one datagram; a
// socket that is gone is an error.
TEST(ServiceNotifierTest, SendsOneDatagramToTheNamedSocket) {
  std::string error, path = "/tmp/steward-notify-" + std::to_string(getpid());
  unsetenv("NOTIFY_SOCKET");
  EXPECT_TRUE(notifyServiceManager("READY=1", &error));
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
  std::memcpy(address.sun_path, path.c_str(), path.size());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  setenv("NOTIFY_SOCKET", path.c_str(), 1);
  EXPECT_TRUE(notifyServiceManager("RELOADING=1\nMONOTONIC_USEC=5", &error)) << error;
  char buffer[64] = {};
  EXPECT_EQ(recv(fd, buffer, sizeof buffer, MSG_DONTWAIT), 28);
  EXPECT_STREQ(buffer, "RELOADING=1\nMONOTONIC_USEC=5");
  close(fd), unlink(path.c_str());
  EXPECT_FALSE(notifyServiceManager("READY=1", &error));
  EXPECT_EQ(error, "cannot notify " + path + ": No such file or directory");
  unsetenv("NOTIFY_SOCKET");
}

}  // namespace
}  // namespace steward
