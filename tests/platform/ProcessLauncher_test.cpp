#include "platform/ProcessLauncher.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace steward {
namespace {

// Arguments reaching the program whole and unread run end to end in the
// sandbox (the firmware variable tool); here, output in place of a closed
// standard input must not be lost to the child's empty input.
TEST(ProcessLauncher, OutputMayTakeThePlaceOfStandardInput) {
  FILE* out = std::tmpfile();
  int saved = dup(0);
  dup2(fileno(out), 0);
  std::string error;
  int status = runProgram({"/bin/echo", "into descriptor 0"}, 0, &error);
  dup2(saved, 0);
  close(saved);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << error;
  char text[64] = {};
  EXPECT_GT(pread(fileno(out), text, sizeof text - 1, 0), 0);
  std::fclose(out);
  EXPECT_STREQ(text, "into descriptor 0\n");
}

TEST(ProcessLauncher, ReportsExitStatusAndStartFailures) {
  std::string error;
  // Standard input is empty, never the caller's.
  int status = runProgram({"/bin/sh", "-c", "read line && exit 9; exit 3"}, 1, &error);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
  status = runShellCommand("exit 5");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 5) << status;
  EXPECT_EQ(runProgram({"/nonexistent/program"}, 1, &error), -1);
  EXPECT_EQ(error, "cannot start /nonexistent/program: No such file or directory");
  EXPECT_EQ(runProgram({}, 1, &error), -1);
}

}  // namespace
}  // namespace steward
