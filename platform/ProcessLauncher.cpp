#include "platform/ProcessLauncher.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace steward {

int runShellCommand(const std::string& commandLine) {
  return std::system(commandLine.c_str());
}

int runProgram(const std::vector<std::string>& arguments, int outputFD,
               std::string* error, int errorFD) {
  if (arguments.empty()) {
    *error = "no program to run";
    return -1;
  }
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // The output first: outputFD may be 0 in a process whose standard input
  // was closed.
  if (outputFD != 1) posix_spawn_file_actions_adddup2(&actions, outputFD, 1);
  if (errorFD >= 0) posix_spawn_file_actions_adddup2(&actions, errorFD, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    *error = "cannot start " + arguments[0] + ": " + std::strerror(rc);
    return -1;
  }
  int status;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      *error = "cannot wait for " + arguments[0] + ": " + std::strerror(errno);
      return -1;
    }
  }
  return status;
}

}  // namespace steward
