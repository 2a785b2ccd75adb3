#include "platform/ProcessLauncher.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace steward {
namespace {

// What a program prints into a temporary file on descriptor `fd` (taken over
// for the run when it is standard input).
std::string outputOf(const std::vector<std::string>& argv, int fd = -1) {
  FILE* out = std::tmpfile();
  int saved = dup(fd);
  if (fd >= 0) dup2(fileno(out), fd);
  std::string error;
  int status = runProgram(argv, fd >= 0 ? fd : fileno(out), &error);
  if (fd >= 0) dup2(saved, fd);
  if (saved >= 0) close(saved);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << error;
  std::string text(4096, '\0');
  text.resize(static_cast<std::size_t>(std::max<ssize_t>(0, pread(fileno(out), text.data(), text.size(), 0))));
  std::fclose(out);
  return text;
}

TEST(ProcessLauncher, ArgumentsReachTheProgramUnread) {
  std::string hostile = "a b \"c\" \\ $(touch /tmp/never) `x` ; 'q' *";
  EXPECT_EQ(outputOf({"/bin/echo", hostile, "second"}), hostile + " second\n");
  // Output may take the place of a closed standard input.
  EXPECT_EQ(outputOf({"/bin/echo", "into descriptor 0"}, 0), "into descriptor 0\n");
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
