// The tool's messages to the system log, all at priority 13 (user facility,
// notice level). The program name is syslog's default (the name the tool was
// started under); no openlog, so a run that logs nothing opens no socket.
#pragma once

#include <string>

namespace steward {

inline constexpr int kNoticePriority = 13;  // LOG_USER | LOG_NOTICE

// Normal code paths: through syslog(3).
void log_notice(const std::string& text);

// For copies of what is kept elsewhere: never waits for a log that is behind
// (a full socket queue); the message is then dropped. Cut at 512 bytes.
void log_notice_without_waiting(const std::string& text);

// For signal handlers: no lock, no allocation. Sends one datagram straight to
// /dev/log in the form syslog(3) uses; the timestamp is UTC.
void log_notice_from_signal(const char* text);

// Appends to a fixed buffer without allocating; what does not fit is cut.
// For building messages inside signal handlers.
class SignalSafeText {
 public:
  SignalSafeText& text(const char* s);
  // Zero-padded to at least `width` digits.
  SignalSafeText& decimal(long value, int width = 0);
  // Lower-case hexadecimal, zero-padded to at least `width` digits.
  SignalSafeText& hex(unsigned long value, int width);
  const char* c_str() const { return buffer_; }

 private:
  char buffer_[512] = {};
  unsigned length_ = 0;
};

}  // namespace steward
