// Reads what syslog(3) sends, for tests that assert log lines exactly.
// The test binary runs in a private mount namespace (see
// steward_add_log_captured_gtest) where /dev/log leads to kLogCapturePath;
// a LogCapture binds a datagram socket there and collects the messages.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace steward {

struct LogLine {
  int priority;      // facility * 8 + level, as sent
  std::string tag;   // the program name, with "[pid]" when the caller logs it
  std::string text;  // the message as formatted, trailing line feed kept
};

class LogCapture {
 public:
  static constexpr const char* kLogCapturePath = "/tmp/steward-devlog";

  // Binds at `path`, replacing an earlier socket there. Aborts the test
  // binary when the socket cannot be bound.
  explicit LogCapture(std::string path = kLogCapturePath);
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  ~LogCapture();

  // Every message received so far.
  const std::vector<LogLine>& lines();
  // The texts alone, for comparing with expected messages.
  std::vector<std::string> texts();
  // Waits until at least `count` messages have arrived or the time is up;
  // for messages sent by other processes.
  const std::vector<LogLine>& waitForLines(std::size_t count,
                                           std::chrono::milliseconds timeout);

 private:
  void drain(int timeoutMs);

  std::string path_;
  int fd_ = -1;
  std::vector<LogLine> lines_;
};

// Parses one datagram of the syslog protocol as glibc sends it:
// "<PRI>Mmm dd hh:mm:ss TAG: TEXT".
LogLine parseSyslogDatagram(const std::string& datagram);

}  // namespace steward
