#include "platform/ProcessLauncher.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace steward {
namespace {

std::string readAll(int fd) {
  std::string text;
  char buffer[256];
  lseek(fd, 0, SEEK_SET);
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

TEST(ProcessLauncher, ArgumentsReachTheProgramUnread) {
  FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  std::string error;
  std::string hostile = "a b \"c\" \\ $(touch /tmp/never) `x` ; 'q' *";
  int status = runProgram({"/bin/echo", hostile, "second"}, fileno(out), &error);
  ASSERT_TRUE(WIFEXITED(status)) << error;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(readAll(fileno(out)), hostile + " second\n");
  std::fclose(out);
}

TEST(ProcessLauncher, OutputMayTakeTheClosedStandardInputsPlace) {
  FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  int savedInput = dup(0);
  ASSERT_EQ(dup2(fileno(out), 0), 0);
  std::string error;
  int status = runProgram({"/bin/echo", "into descriptor 0"}, 0, &error);
  dup2(savedInput, 0);
  close(savedInput);
  ASSERT_TRUE(WIFEXITED(status)) << error;
  EXPECT_EQ(readAll(fileno(out)), "into descriptor 0\n");
  std::fclose(out);
}

TEST(ProcessLauncher, ReportsExitStatusAndStartFailures) {
  std::string error;
  int status = runProgram({"/bin/sh", "-c", "read line && exit 9; exit 3"}, 1, &error);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);  // standard input is empty, never the caller's

  EXPECT_EQ(runProgram({"/nonexistent/program"}, 1, &error), -1);
  EXPECT_EQ(error, "cannot start /nonexistent/program: No such file or directory");
  EXPECT_EQ(runProgram({}, 1, &error), -1);

  status = runShellCommand("exit 5");
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 5);
}

}  // namespace
}  // namespace steward
