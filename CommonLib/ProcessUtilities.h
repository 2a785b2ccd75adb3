// Process utilities for the configuration editors: a child-process runner
// (start a program, feed it text, collect what it prints, wait for its end)
// and a daemon lookup (a pid file, checked against the process table, else
// a search of the table by command name). The process table is /proc; a
// process's command name is its `comm`, which the kernel keeps to 15 bytes.
// None of these functions keeps state, logs or throws.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace steward {

// A child ended by signal N reports kTerminatedBySignal + N, which no exit
// status (0 to 255) and no failure to start (-1) can be mistaken for.
inline constexpr int kTerminatedBySignal = 256;

inline constexpr const char* kRunDirectory = "/var/run/";

// Runs the executable file at `launchPath` with `arguments` (its argv[0] is
// the launch path) and waits for its end. The child's standard input is a
// pipe fed with `*input` and then closed when `input` is given, else
// /dev/null; its standard output and error are pipes collected into
// `*output` and `*error` when those are given, else /dev/null. Input and
// both outputs move concurrently, so no amount of either stalls the
// exchange. A collected text that is not valid UTF-8 is stored as none. The
// child's environment is exactly `*environment` (NAME=value) when given,
// else this process's environment.
// Answers the exit status, kTerminatedBySignal + the signal number, or -1
// when nothing was started (no executable file at the path, or the start
// failed), and then the places are left untouched.
int run_task_with_env(const std::string& launchPath,
                      const std::vector<std::string>& arguments,
                      const std::string* input,
                      std::optional<std::string>* output,
                      std::optional<std::string>* error,
                      const std::map<std::string, std::string>* environment);

// run_task_with_env with no input and no environment of its own.
int run_task(const std::string& launchPath,
             const std::vector<std::string>& arguments,
             std::optional<std::string>* output,
             std::optional<std::string>* error);

// The process id at the start of a pid file, or -1. `pidFile` is a path
// when it begins with "/", else a name looked up as `runDirectory` + name,
// then `runDirectory` + name + ".pid". Leading white space and a sign are
// allowed before the digits; a number outside the range of a pid, a name
// whose composed path exceeds 1023 bytes, a missing file and a file that
// does not begin with a number all give -1.
int read_pid_file(const char* pidFile,
                  std::string_view runDirectory = kRunDirectory);

// The id of the first process, in the table's order, whose command name is
// exactly `name`; -1 when there is none (or `name` is empty).
int pid_for_process_name(const char* name);

// `pid` when that process exists and `name` occurs in its command name at
// the very start or right after a "/" (it need not end there); else -1.
int verify_pid_for_process_name(int pid, const char* name);

// The daemon's id: the pid file's id when that process's command name
// matches `name` (a stale pid file gives -1, with no search), else, when the
// pid file gives no id, pid_for_process_name(name).
int find_daemon_pid(const char* pidFile, const char* name);

}  // namespace steward
