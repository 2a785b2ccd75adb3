#include "vigild/SendmailTransport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>

#include "tests/support/ScratchDirectory.h"

namespace steward::vigild {
namespace {

// Stand-ins for sendmail, one per way of ending; the message and the
// arguments reach the program.
TEST(SendmailTransportTest, ReportsHowTheProgramEnded) {
  ScratchDirectory scratch;
  struct Case { const char* script; bool accepted; std::string reason; } cases[] = {
      {"cat >\"$0.in\"; echo \"$@\" >\"$0.args\"", true, ""},
      {"exit 75", false, "failed: exit status 75"},
      {"kill -9 $$", false, "failed: ended by signal 9"},
      {nullptr, false, "cannot start"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    std::string program = scratch.path(std::to_string(i));
    if (cases[i].script) scratch.write(std::to_string(i), std::string("#!/bin/sh\n") + cases[i].script);
    chmod(program.c_str(), 0755);
    SendmailTransport transport(program);
    std::optional<std::pair<bool, std::string>> result;
    transport.send("To: a@b\n\nhello\n", [&](bool accepted, const std::string& reason) {
      result = {accepted, reason};
    });
    for (int pass = 0; pass < 500 && !result; ++pass)
      RunLoop::current().runUntilDate(RunLoopClock::now() + std::chrono::milliseconds(20));
    ASSERT_TRUE(result) << program;
    EXPECT_EQ(result->first, cases[i].accepted) << program;
    EXPECT_NE(result->second.find(cases[i].reason), std::string::npos) << result->second;
  }
  EXPECT_EQ(scratch.read("0.in"), "To: a@b\n\nhello\n");
  EXPECT_EQ(scratch.read("0.args"), "-t -i\n");
}

}  // namespace
}  // namespace steward::vigild
