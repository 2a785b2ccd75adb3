// Running other programs: a command line through the shell, or a program
// started directly with its own argument vector, so that no shell ever
// reads the arguments. Both wait for what they started to end.
#pragma once

#include <string>
#include <vector>

namespace steward {

// system(3): runs commandLine through /bin/sh; the shell's wait status, or
// -1 when no shell could be started.
int runShellCommand(const std::string& commandLine);

// Starts arguments[0] by its path with exactly these arguments (the first
// one included), the environment of this process, standard input from
// /dev/null, standard output on outputFD and standard error on errorFD (-1:
// this process's own; else above 1 or equal to outputFD), and waits for it
// to end. The wait status, or -1 with *error set when it could not be
// started.
int runProgram(const std::vector<std::string>& arguments, int outputFD,
               std::string* error, int errorFD = -1);

}  // namespace steward
