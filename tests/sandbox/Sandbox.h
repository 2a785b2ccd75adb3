// Runs the real tool inside a bubblewrap sandbox with a fresh temporary root,
// so that nothing a test does can reach the machine: private /etc (users
// "alice", listed in "admin", "bob", whose primary group it is, and "carol",
// not in it), /tmp, /run (also /var/run), /private/var/stewardd and device
// registry; recording fakes for /sbin/shutdown, /usr/sbin/nvram and
// /usr/sbin/machreport; the test bundles in /steward/bundles, fake_vigild in
// /steward/bin, /dev/log leading to a socket of the test. The host is seen
// read-only, without capabilities, network or its process ids.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/PropertyValue.h"
#include "tests/support/LogCapture.h"

namespace steward::sandbox {

struct RunOptions {
  std::string argv0 = "steward_kestrel";  // a name in PATH, or a path
  std::vector<std::string> arguments = {};
  std::string input = {};
  std::map<std::string, std::string> environment = {};  // besides PATH
  std::string shell = {};  // when set, this runs through /bin/sh instead
};

struct RunResult {
  std::string output;   // standard output, byte for byte
  std::string errors;   // standard error
  int exitStatus = -1;  // -1 when ended by a signal
};

// A running sandbox, its standard input open until closeInput; not copyable.
class SandboxProcess {
 public:
  SandboxProcess(pid_t pid, int input, int output, int errors);
  ~SandboxProcess();  // kills a process still running

  void writeInput(std::string_view bytes);
  void closeInput();
  bool hasExited();  // never blocks
  RunResult wait();  // closes the input first
  // The host process id of the process named `name` inside, or -1.
  pid_t findProcess(std::string_view name) const;
  // Whether that process waits in a read of its standard input: for the
  // tool, that it is past start-up.
  bool waitsForInput(std::string_view name) const;

 private:
  pid_t pid_;
  int input_, output_, errors_;
  int status_ = -1;
  bool exited_ = false;
};

class Sandbox {
 public:
  Sandbox();  // aborts the test binary when the root cannot be built; not copyable
  ~Sandbox();

  // The host path behind a path of the sandbox's private directories.
  std::string hostPath(std::string_view sandboxPath) const;
  void writeFile(std::string_view sandboxPath, std::string_view contents,
                 mode_t mode = 0644);
  std::string readFile(std::string_view sandboxPath) const;  // "" if none

  RunResult run(const RunOptions& options) { return start(options)->wait(); }
  std::unique_ptr<SandboxProcess> start(const RunOptions& options);

  const std::vector<LogLine>& logLines() { return log_->lines(); }
  std::vector<std::string> logTexts() { return log_->texts(); }
  // Every call of a recording fake so far: the program, then its arguments.
  std::vector<std::vector<std::string>> recordedCalls() const;

  static std::string contextPath(std::string_view name) {
    return "/private/var/stewardd/" + std::string(name) + ".lock";
  }
  // The decoded context file of a tool name; none when it does not decode.
  ValueRef storedContext(std::string_view name) const;

 private:
  std::vector<std::string> bwrapArguments(const RunOptions& options) const;

  std::string root_;
  std::unique_ptr<LogCapture> log_;
};

// An XML property-list request whose root dictionary holds `dictionaryBody`.
std::string requestXML(std::string_view dictionaryBody);
// The tool's error envelope for `code`.
std::string envelope(std::string_view code);

}  // namespace steward::sandbox
