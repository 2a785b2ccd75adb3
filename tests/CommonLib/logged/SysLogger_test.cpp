#include "CommonLib/SysLogger.h"

#include <gtest/gtest.h>

#include "tests/support/LogCapture.h"

namespace steward {
namespace {

using Logged = std::vector<std::pair<int, std::string>>;

Logged logged(LogCapture& capture, std::size_t count) {
  Logged result;
  for (const LogLine& line : capture.waitForLines(count, std::chrono::seconds(2))) {
    result.emplace_back(line.priority, line.text);
  }
  return result;
}

TEST(SysLogger, StampsEachLineAndKeepsTheMostSevereLevel) {
  LogCapture capture;
  SysLogger logger("tool");
  EXPECT_EQ(logger.highWaterMark(), 8);
  logger.messageWithPriority(6, "step %d of %@", 1, "two");
  EXPECT_EQ(logger.highWaterMark(), 6);
  logger.messageWithPriority(3, "failed");
  logger.messageWithPriority(5, "noted");
  EXPECT_EQ(logger.highWaterMark(), 3);
  logger.messageWithPriority(7, "");
  EXPECT_EQ(logger.highWaterMark(), 3);
  // The user facility is the process's default one.
  EXPECT_EQ(logged(capture, 4), Logged({{14, "tool:Info:step 1 of two"},
                                        {11, "tool:Error:failed"},
                                        {13, "tool:Notice:noted"},
                                        {15, "tool:Debug:"}}));
}

// The facility in the upper bits reaches the log; the level is the low bits.
TEST(SysLogger, HonoursAFacilityAndLogsPercentSignsLiterally) {
  LogCapture capture;
  auto logger = SysLogger::loggerWithPrefix("p");
  logger->messageWithPriority(4 + 24, "disk %@", "low");
  EXPECT_EQ(logger->highWaterMark(), 4);
  logger->messageWithPriority(0 + 16, "%@", "100%s %d done");
  EXPECT_EQ(logger->highWaterMark(), 0);
  logger->setPrefix("");
  logger->messageWithPriority(2, "bare");
  EXPECT_EQ(logged(capture, 3), Logged({{28, "p:Warning:disk low"},
                                        {16, "p:Emergency:100%s %d done"},
                                        {10, ":Critical:bare"}}));
  EXPECT_STREQ(SysLogger::levelString(8), "Unknown Level");
  EXPECT_STREQ(SysLogger::levelString(-1), "Unknown Level");
}

}  // namespace
}  // namespace steward
