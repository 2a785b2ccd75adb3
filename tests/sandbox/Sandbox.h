// Runs the real tool inside a bubblewrap sandbox with a fresh temporary root,
// so that nothing a test does can reach the machine: a private /etc with test
// users and the group "admin", private /tmp, /run and /private/var/stewardd,
// fakes in place of /sbin/shutdown, /usr/sbin/nvram and /usr/sbin/machreport
// that only record how they were called, and /dev/log leading to a socket
// that the test reads. Host directories are visible read-only, capabilities
// are dropped, and the sandbox has no network and its own process ids.
//
// Test users: "alice" (listed as a member of "admin"), "bob" (primary group
// "admin"), "carol" (in "staff", not in "admin").
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/LogCapture.h"

namespace steward::sandbox {

// How one run is started.
struct RunOptions {
  // argv[0] as the tool sees it: a bare name (found through PATH) or an
  // absolute path; the tool is placed there.
  std::string argv0 = "steward_kestrel";
  std::vector<std::string> arguments = {};  // after argv[0]
  std::string input = {};                   // standard input
  std::map<std::string, std::string> environment = {};  // besides PATH
  std::optional<mode_t> umask = {};
  // When set, run this argument vector inside the sandbox instead of the
  // tool (the tool is still placed at argv0).
  std::vector<std::string> command = {};
};

struct RunResult {
  std::string output;   // standard output, byte for byte
  std::string errors;   // standard error
  int exitStatus = -1;  // -1 when ended by a signal
  int signal = 0;       // the signal that ended it, or 0
};

// One call of a fake system program: the path it was started by, and its
// arguments.
struct RecordedCall {
  std::string program;
  std::vector<std::string> arguments;
};

// A running sandbox; its standard input stays open until closeInput.
class SandboxProcess {
 public:
  SandboxProcess(pid_t pid, int input, int output, int errors);
  SandboxProcess(const SandboxProcess&) = delete;
  SandboxProcess& operator=(const SandboxProcess&) = delete;
  ~SandboxProcess();  // kills a process still running

  void writeInput(std::string_view bytes);
  void closeInput();
  // True once the process has ended; never blocks.
  bool hasExited();
  // Closes the input, collects the output and waits for the end.
  RunResult wait();
  // The host process id of a process inside this sandbox whose command name
  // is `name`, or -1; for sending it signals.
  pid_t findProcess(std::string_view name) const;

 private:
  void pump(bool block);

  pid_t pid_;
  int input_;
  int output_;
  int errors_;
  std::optional<int> status_;
  RunResult result_;
};

class Sandbox {
 public:
  // Where the sandbox finds a host file or directory, beyond the defaults.
  struct Bind {
    std::string source;       // host path
    std::string destination;  // sandbox path
    bool writable = false;
  };

  // Builds the temporary root. Aborts the test binary when it cannot.
  Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;
  ~Sandbox();  // removes the temporary root

  // The host path behind a sandbox path under /etc, /tmp, /run, /private,
  // /usr/sbin or /steward.
  std::string hostPath(std::string_view sandboxPath) const;
  // Writes a file through hostPath, creating its directories.
  void writeFile(std::string_view sandboxPath, std::string_view contents,
                 mode_t mode = 0644);
  // False when the file cannot be read.
  [[nodiscard]] bool readFile(std::string_view sandboxPath,
                              std::string* contents) const;
  // Installs a fake program that records its calls, like the default ones.
  void addRecordingFake(std::string_view sandboxPath);
  // Applies to every later run.
  void addBind(Bind bind);

  RunResult run(const RunOptions& options);
  std::unique_ptr<SandboxProcess> start(const RunOptions& options);

  // Every message logged so far, in arrival order.
  const std::vector<LogLine>& logLines();
  std::vector<std::string> logTexts();
  // Every call of a recording fake so far, in order.
  std::vector<RecordedCall> recordedCalls() const;

  // The context file of a tool name.
  std::string contextPath(std::string_view name) const;

 private:
  std::vector<std::string> bwrapArguments(const RunOptions& options) const;

  std::string root_;
  std::vector<Bind> binds_;
  std::unique_ptr<LogCapture> log_;
};

// An XML property-list request whose root dictionary holds `dictionaryBody`.
std::string requestXML(std::string_view dictionaryBody);

// True while the process waits in a read of its standard input: for the tool,
// past start-up (context locked, handlers installed).
bool isWaitingForInput(pid_t pid);

}  // namespace steward::sandbox
