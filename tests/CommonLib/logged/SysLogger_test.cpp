#include "CommonLib/SysLogger.h"

#include <gtest/gtest.h>

#include "tests/support/LogCapture.h"

namespace steward {
namespace {

// Lines are stamped "prefix:Level:" under the facility in the priority's
// upper bits (user by default); the high-water mark keeps the most severe
// level; percent signs in arguments are logged literally.
TEST(SysLogger, StampsEachLineAndKeepsTheMostSevereLevel) {
  LogCapture capture;
  auto logger = SysLogger::loggerWithPrefix("p");
  EXPECT_EQ(logger->highWaterMark(), 8);
  const std::tuple<int, const char*, int> cases[] = {
      {6, "step", 6}, {3, "failed", 3}, {5, "noted", 3}, {7, "", 3},
      {4 + 24, "disk", 3}, {0 + 16, "100%s %d done", 0}};
  for (const auto& [priority, text, mark] : cases) {
    logger->messageWithPriority(priority, "%@", text);
    EXPECT_EQ(logger->highWaterMark(), mark) << text;
  }
  logger->setPrefix("");
  logger->messageWithPriority(2, "step %d of %@", 1, "two");
  std::vector<std::pair<int, std::string>> logged;
  for (const LogLine& line : capture.waitForLines(7, std::chrono::seconds(2)))
    logged.emplace_back(line.priority, line.text);
  EXPECT_EQ(logged, decltype(logged)({{14, "p:Info:step"}, {11, "p:Error:failed"},
                                      {13, "p:Notice:noted"}, {15, "p:Debug:"},
                                      {28, "p:Warning:disk"}, {16, "p:Emergency:100%s %d done"},
                                      {10, ":Critical:step 1 of two"}}));
  EXPECT_STREQ(SysLogger::levelString(8), "Unknown Level");
}

}  // namespace
}  // namespace steward
