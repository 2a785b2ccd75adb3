// Runs the real tool in a bubblewrap sandbox on a fresh root: private /etc
// (alice in "admin", bob with it as primary group, carol not in it), /tmp,
// /run, /private/var/stewardd and device registry; fakes for shutdown, nvram
// and machreport that append their program and arguments, one a line, to
// /steward/record/calls; the test bundles, fake_vigild, the real vigild, and
// /dev/log a socket of the test. The host is read-only; no capabilities or
// network. On request the host's /sys is seen, with /sys/class/hwmon,
// power_supply and leds the sandbox's own.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/LogCapture.h"
#include "tests/support/ValueBuilders.h"

namespace steward::sandbox {

struct RunOptions {
  std::string argv0 = "steward_kestrel";  // a name in PATH, or a path
  std::vector<std::string> arguments = {};
  std::string input = {};
  std::map<std::string, std::string> environment = {};  // besides PATH
  std::string shell = {};  // when set, this runs through /bin/sh instead
  bool fakeHardware = false;  // /sys/class/{hwmon,power_supply,leds} from hostPath()
  // A host directory standing for a machine: its sys is the sandbox's /sys,
  // its proc files are laid over /proc's, and the real machreport is at
  // /usr/sbin/machreport. Not together with fakeHardware.
  std::string fakeMachine = {};
  // The real nvram at /usr/sbin/nvram, on the variables in hostPath() of
  // kFakeVariables (read-only or not), or read-only on the host's firmware.
  enum class Firmware { kRecorded, kFake, kFakeReadOnly, kHost } firmware = Firmware::kRecorded;
  std::map<std::string, std::string> programs = {};  // more in /steward/bin: name to host path
  // Recording stand-ins over /usr/bin/{systemctl,systemd-run,wall} (fakes/).
  bool fakeSystemd = false;
  bool keepState = false;  // /var/lib/stewardd is hostPath()'s, kept between runs
};

inline constexpr const char* kFakeVariables = "/sys/firmware/efi/efivars/";

// Standard error goes to the test's own.
struct RunResult {
  std::string output;   // standard output, byte for byte
  int exitStatus = -1;  // -1 when ended by a signal
};

// A running sandbox, its standard input open until wait; not copyable.
class SandboxProcess {
 public:
  SandboxProcess(pid_t pid, int input, int output) : pid_(pid), input_(input), output_(output) {}
  ~SandboxProcess();  // kills a process still running

  void writeInput(std::string_view bytes);
  bool hasExited();  // never blocks
  RunResult wait();  // closes the input first
  // The host process id of the tool inside, or -1.
  pid_t toolProcess() const;
  // Whether the tool waits in a read of its standard input: past start-up.
  bool toolWaitsForInput() const;

 private:
  pid_t pid_;
  int input_, output_;
  int status_ = -1;
  bool exited_ = false;
};

class Sandbox {
 public:
  Sandbox();  // aborts the test binary when the root cannot be built; not copyable
  ~Sandbox();

  // The host path behind a path of the sandbox's private directories.
  std::string hostPath(std::string_view path) const { return root_ + std::string(path); }
  void writeFile(std::string_view sandboxPath, std::string_view contents, mode_t mode = 0644);
  std::string readFile(std::string_view sandboxPath) const;  // "" if none

  RunResult run(const RunOptions& options) { return start(options)->wait(); }
  std::unique_ptr<SandboxProcess> start(const RunOptions& options);

  const std::vector<LogLine>& logLines() { return log_->lines(); }
  std::vector<std::string> logTexts() { return log_->texts(); }

  static std::string contextPath(std::string_view name) {
    return "/private/var/stewardd/" + std::string(name) + ".lock";
  }
  // The decoded context file of a tool name; none when it does not decode.
  ValueRef storedContext(std::string_view name) const {
    return parsed(readFile(contextPath(name)));
  }

 private:
  std::vector<std::string> bwrapArguments(const RunOptions& options) const;
  void addFakeHardware(std::vector<std::string>* args) const;
  static void addFakeMachine(const std::string& machine, std::vector<std::string>* args);
  void addFirmware(RunOptions::Firmware firmware, std::vector<std::string>* args) const;
  void addPrograms(const RunOptions& options, std::vector<std::string>* args) const;
  static void addFakeSystemd(std::vector<std::string>* args);
  void addState(const RunOptions& options, std::vector<std::string>* args) const;

  std::string root_;
  std::unique_ptr<LogCapture> log_;
};

// An XML request of `command` with the dictionary entries `more` besides.
std::string request(std::string_view command, std::string_view more = "");
// The tool's error envelope for `code`.
std::string envelope(std::string_view code);

}  // namespace steward::sandbox
