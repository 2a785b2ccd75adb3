#include "CommonLib/SysLogger.h"

#include <syslog.h>

namespace steward {

namespace {

constexpr const char* kLevelNames[] = {"Emergency", "Alert",  "Critical",
                                       "Error",     "Warning", "Notice",
                                       "Info",      "Debug"};

}  // namespace

SysLogger::SysLogger(std::string prefix) : fPrefix(std::move(prefix)) {}

std::unique_ptr<SysLogger> SysLogger::loggerWithPrefix(std::string prefix) {
  return std::make_unique<SysLogger>(std::move(prefix));
}

const char* SysLogger::levelString(int level) {
  if (level < 0 || level > 7) return "Unknown Level";
  return kLevelNames[level];
}

void SysLogger::logMessage(int priority, const std::string& message) {
  int level = priority & 7;
  if (level < fHighWaterMark) fHighWaterMark = level;
  syslog(priority, "%s:%s:%s", fPrefix.c_str(), levelString(level),
         message.c_str());
}

}  // namespace steward
