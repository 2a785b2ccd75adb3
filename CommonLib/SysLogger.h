// SysLogger: sends messages to the system log, each stamped with a tag (the
// prefix) and the name of its severity, and remembers the most severe level
// it has logged so far (the high-water mark), so that a caller can log
// freely through a sequence of steps and ask at the end how bad it got.
//
// A message of priority 4 that expands to M is logged as "P:Warning:M" at
// priority 4, P being the prefix. The logger leaves the log connection as
// the process set it up (identity, default facility). Single-threaded use.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/Format.h"

namespace steward {

class SysLogger {
 public:
  // Nothing logged yet: one past the least severe level, 7.
  static constexpr int kNothingLogged = 8;

  explicit SysLogger(std::string prefix);  // initWithPrefix
  static std::unique_ptr<SysLogger> loggerWithPrefix(std::string prefix);

  SysLogger(const SysLogger&) = delete;
  SysLogger& operator=(const SysLogger&) = delete;

  void setPrefix(std::string prefix) { fPrefix = std::move(prefix); }
  const std::string& prefix() const { return fPrefix; }

  // Logs the expanded format at `priority`, unchanged, so that a facility in
  // its upper bits is honoured; the level is its low three bits. The
  // expanded text is passed to the log as data, never as a format.
  template <class... Args>
  void messageWithPriority(int priority, std::string_view format,
                           const Args&... args) {
    logMessage(priority, stringWithFormat(format, args...));
  }

  // The lowest (most severe) level logged so far; kNothingLogged at first.
  // It never rises during the logger's life.
  int highWaterMark() const { return fHighWaterMark; }

  // "Emergency" ... "Debug" for 0 to 7, "Unknown Level" otherwise.
  static const char* levelString(int level);

 private:
  void logMessage(int priority, const std::string& message);

  std::string fPrefix;
  int fHighWaterMark = kNothingLogged;
};

}  // namespace steward
