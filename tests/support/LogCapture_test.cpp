#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>
#include <syslog.h>

namespace steward {
namespace {

TEST(LogCapture, ReadsWhatSyslogSends) {
  LogCapture capture;
  syslog(13, "[%d] hello %s\n", 42, "there");
  const auto& lines = capture.waitForLines(1, std::chrono::seconds(2));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].priority, 13);
  EXPECT_EQ(lines[0].tag, "support_tests");
  EXPECT_EQ(lines[0].text, "[42] hello there\n");
}

}  // namespace
}  // namespace steward
