// A stand-in for the hardware-monitor daemon, for demonstrations: it serves
// the monitor's message port and answers every request with the bytes of a
// reply file, read anew for each request.
//
//   fake_vigild [--socket PATH] [--delay SECONDS] REPLY_FILE
//
// PATH defaults to /var/run/vigildPort. Each request (a 4-byte big-endian
// message id, a 4-byte big-endian length and the payload) is logged to
// standard error and answered with message id 0 and the file's bytes, or,
// while there is no such file, the connection is closed unanswered. It runs
// until it is killed.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/UnixListener.h"

namespace {

bool readExactly(int fd, char* out, std::size_t size) {
  while (size > 0) {
    ssize_t n = read(fd, out, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::uint32_t bigEndian(const char* in) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(in[i]);
  return value;
}

void answer(int client, const std::string& replyFile, double delay) {
  char header[8];
  if (!readExactly(client, header, sizeof header)) return;
  std::uint32_t id = bigEndian(header), length = bigEndian(header + 4);
  std::fprintf(stderr, "fake_vigild: request id %u, %u payload bytes\n", id, length);
  std::string payload(length < 65536 ? length : 65536, '\0');
  if (!readExactly(client, payload.data(), payload.size())) return;

  std::ifstream in(replyFile, std::ios::binary);
  if (!in) return;
  std::stringstream text;
  text << in.rdbuf();
  std::string reply = text.str();
  std::this_thread::sleep_for(std::chrono::duration<double>(delay));
  std::string message(4, '\0');
  for (int shift = 24; shift >= 0; shift -= 8) {
    message += static_cast<char>((reply.size() >> shift) & 0xff);
  }
  writeAll(client, message + reply);
}

int usage() {
  std::fprintf(stderr, "usage: fake_vigild [--socket PATH] [--delay SECONDS] REPLY_FILE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string socketPath = "/var/run/vigildPort";
  double delay = 0;
  int i = 1;
  for (; i + 1 < argc && argv[i][0] == '-'; i += 2) {
    if (std::strcmp(argv[i], "--socket") == 0) {
      socketPath = argv[i + 1];
    } else if (std::strcmp(argv[i], "--delay") == 0) {
      delay = std::atof(argv[i + 1]);
    } else {
      return usage();
    }
  }
  if (i + 1 != argc) return usage();
  std::string replyFile = argv[i];

  std::string error;
  int fd = steward::listenOnUnixSocket(socketPath, 16, 0, &error);
  if (fd < 0) {
    std::fprintf(stderr, "fake_vigild: %s\n", error.c_str());
    return 1;
  }
  for (;;) {
    int client = accept(fd, nullptr, nullptr);
    if (client < 0) continue;
    answer(client, replyFile, delay);
    close(client);
  }
}
