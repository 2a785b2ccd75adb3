#include "deploy/FastCgi.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

namespace steward {
namespace {

std::string record(int type, int id, const std::string& content, int padding = 0) {
  const std::size_t length = content.size();
  const char header[8] = {
      1, char(type), char(id >> 8), char(id), char(length >> 8), char(length), char(padding), 0};
  return std::string(header, 8) + content + std::string(static_cast<std::size_t>(padding), 'p');
}
std::string begin(int role = 1) {
  return record(1, 1, std::string("\0", 1) + char(role) + std::string(6, '\0'));
}
const std::string kPair = "\x04\x03USERbob";  // USER=bob
const std::string kEnd = record(4, 1, "") + record(5, 1, "");

// What readFastCgiRequest makes of `bytes`, the connection closed after them.
std::optional<FastCgiRequest> read(const std::string& bytes) {
  int fds[2];
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  EXPECT_EQ(write(fds[0], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fds[0]);
  std::optional<FastCgiRequest> request = readFastCgiRequest(fds[1]);
  close(fds[1]);
  return request;
}

TEST(FastCgi, ReadsOnlyWellFormedRequests) {
  const std::string big(kFastCgiParamsLimit / 2, 'x');
  const std::string bigPair = std::string("\x01\x80\x00\x20\x00", 5) + "B" + big;  // B=8192 x
  std::string connectionRecords;
  for (int i = 0; i < 20; ++i) connectionRecords += record(9, 0, "");
  const struct {
    const char* what;
    std::string bytes;
    const char* user;  // nullptr: refused
  } cases[] = {
      {"plain", begin() + record(4, 1, kPair) + kEnd, "bob"},
      {"padded, split, connection record between",
       begin() + record(4, 1, kPair.substr(0, 3), 5) + record(9, 0, "x") +
           record(4, 1, kPair.substr(3)) + record(4, 1, "") + record(5, 1, "body", 4) +
           record(5, 1, ""),
       "bob"},
      {"ends early", begin() + record(4, 1, kPair) + record(4, 1, ""), nullptr},
      {"cut inside a record", begin() + record(4, 1, kPair).substr(0, 12), nullptr},
      {"other version", "\x02" + begin().substr(1) + record(4, 1, kPair) + kEnd, nullptr},
      {"no begin", record(4, 1, kPair) + kEnd, nullptr},
      {"other role", begin(2) + record(4, 1, kPair) + kEnd, nullptr},
      {"short begin", record(1, 1, std::string("\0\x01", 2)) + kEnd, nullptr},
      {"other request", begin() + record(4, 2, kPair) + kEnd, nullptr},
      {"input before params end", begin() + record(5, 1, "x") + kEnd, nullptr},
      {"endless connection records", begin() + connectionRecords + kEnd, nullptr},
      {"aborted", begin() + record(2, 1, "") + kEnd, nullptr},
      {"value past the record", begin() + record(4, 1, "\x04\x09USERbob") + kEnd, nullptr},
      {"four-byte length past the end", begin() + record(4, 1, "\x04\xff\xff\xff\xffUSER") + kEnd,
       nullptr},
      {"length cut", begin() + record(4, 1, std::string("\x04\x80\x00", 3)) + kEnd, nullptr},
      {"params just within", begin() + record(4, 1, bigPair) + record(4, 1, kPair) + kEnd, "bob"},
      {"params over the limit",
       begin() + record(4, 1, bigPair) + record(4, 1, bigPair) + record(4, 1, kPair) + kEnd,
       nullptr},
  };
  for (const auto& c : cases) {
    std::optional<FastCgiRequest> request = read(c.bytes);
    ASSERT_EQ(request.has_value(), c.user != nullptr) << c.what;
    if (c.user) {
      EXPECT_EQ(request->params["USER"], c.user) << c.what;
    }
  }
}

TEST(FastCgi, AnswerIsOutputThenEnd) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  const std::string output(70000, 'o');  // two records' worth
  ASSERT_TRUE(writeFastCgiResponse(fds[0], 0x1234, output));
  close(fds[0]);
  std::string bytes, expected = record(6, 0x1234, output.substr(0, 65535)) +
                                record(6, 0x1234, output.substr(65535)) + record(6, 0x1234, "") +
                                record(3, 0x1234, std::string(8, '\0'));
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[1], buffer, sizeof buffer)) > 0;)
    bytes.append(buffer, static_cast<std::size_t>(n));
  close(fds[1]);
  EXPECT_TRUE(bytes == expected);
}

}  // namespace
}  // namespace steward
