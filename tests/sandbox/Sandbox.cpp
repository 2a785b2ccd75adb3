#include "tests/sandbox/Sandbox.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/XmlPropertyList.h"

namespace steward::sandbox {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "Sandbox: %s: %s\n", what.c_str(), std::strerror(errno));
  std::abort();
}

constexpr const char* kPrivateDirectories[] = {
    "/etc", "/tmp", "/run", "/private", "/usr/sbin", "/steward/record",
    "/var/lib/stewardd/registry"};

constexpr const char* kFakeClasses[] = {"hwmon", "power_supply", "leds"};

constexpr const char* kRecordingFake =
    "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" >> /steward/record/calls\n";

constexpr const char* kEtcFiles[][2] = {
    {"/etc/passwd",
     "root:x:0:0:root:/root:/bin/sh\n"
     "alice:x:1001:1001:Alice:/nonexistent:/usr/sbin/nologin\n"
     "bob:x:1002:80:Bob:/nonexistent:/usr/sbin/nologin\n"
     "carol:x:1003:1003:Carol:/nonexistent:/usr/sbin/nologin\n"},
    {"/etc/group",
     "root:x:0:\nstaff:x:20:carol\nadmin:x:80:alice\nalice:x:1001:\n"
     "carol:x:1003:\n"},
    {"/etc/nsswitch.conf", "passwd: files\ngroup: files\nhosts: files\n"},
};

std::string readAll(int fd) {
  std::string bytes;
  char buffer[65536];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;) {
    if (n > 0) bytes.append(buffer, static_cast<std::size_t>(n));
    if (n < 0 && errno != EINTR) break;
  }
  return bytes;
}

}  // namespace

SandboxProcess::~SandboxProcess() {
  if (!exited_ && kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
  for (int fd : {input_, output_}) close(fd);
}

void SandboxProcess::writeInput(std::string_view bytes) {
  signal(SIGPIPE, SIG_IGN);
  while (!bytes.empty() && input_ >= 0) {
    ssize_t n = write(input_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the process no longer reads
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

bool SandboxProcess::hasExited() {
  if (!exited_) exited_ = waitpid(pid_, &status_, WNOHANG) == pid_;
  return exited_;
}

RunResult SandboxProcess::wait() {
  if (input_ >= 0) close(input_);
  input_ = -1;
  RunResult result;
  result.output = readAll(output_);
  while (!exited_ && waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
  }
  exited_ = true;
  if (WIFEXITED(status_)) result.exitStatus = WEXITSTATUS(status_);
  return result;
}

pid_t SandboxProcess::toolProcess() const {
  pid_t pid = pid_;  // bwrap, then the sandbox's init, then the tool
  for (int level = 0; level < 2 && pid > 0; ++level) {
    std::string task = std::to_string(pid) + "/task/" + std::to_string(pid);
    std::ifstream children("/proc/" + task + "/children");
    if (!(children >> pid)) pid = -1;
  }
  return pid;
}

bool SandboxProcess::toolWaitsForInput() const {
  std::ifstream syscall("/proc/" + std::to_string(toolProcess()) + "/syscall");
  std::string number, fd;
  // read(2) is system call 0 on x86-64, and its first argument the descriptor.
  return syscall >> number >> fd && number == "0" && fd == "0x0";
}

Sandbox::Sandbox() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/steward-sandbox-XXXXXX";
  if (!mkdtemp(pattern.data())) fail("cannot make " + pattern);
  root_ = pattern;
  for (const char* path : kPrivateDirectories) fs::create_directories(hostPath(path));
  chmod(hostPath("/tmp").c_str(), 01777);
  fs::create_directories(hostPath("/private/var/stewardd"));
  chmod(hostPath("/private/var/stewardd").c_str(), 0755);
  for (const auto& [path, contents] : kEtcFiles) writeFile(path, contents);
  std::error_code ignored;
  fs::copy("/etc/ld.so.cache", hostPath("/etc/ld.so.cache"), ignored);
  for (const char* fake : {"/usr/sbin/shutdown", "/usr/sbin/nvram", "/usr/sbin/machreport"})
    writeFile(fake, kRecordingFake, 0755);
  log_ = std::make_unique<LogCapture>(root_ + "/steward/log.sock");
}

Sandbox::~Sandbox() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void Sandbox::writeFile(std::string_view sandboxPath, std::string_view contents, mode_t mode) {
  std::string path = hostPath(sandboxPath);
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
  if (chmod(path.c_str(), mode) != 0) fail("cannot write " + path);
}

std::string Sandbox::readFile(std::string_view sandboxPath) const {
  std::ifstream file(hostPath(sandboxPath), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

std::vector<std::string> Sandbox::bwrapArguments(const RunOptions& options) const {
  std::vector<std::string> args = {"bwrap", "--die-with-parent", "--unshare-pid",
                                   "--unshare-net", "--unshare-ipc", "--unshare-uts", "--cap-drop",
                                   "ALL", "--clearenv", "--ro-bind", "/usr", "/usr"};
  for (std::string top : {"bin", "lib", "lib32", "lib64", "sbin"}) {  // a merged /usr
    args.insert(args.end(), {"--symlink", "usr/" + top, "/" + top});
  }
  args.insert(args.end(), {"--proc", "/proc", "--dev", "/dev", "--dir", "/var",
                           "--symlink", "../run", "/var/run"});
  for (const char* path : kPrivateDirectories)
    args.insert(args.end(), {"--bind", hostPath(path), path});
  std::string toolPath = options.argv0.find('/') == std::string::npos
                             ? "/steward/bin/" + options.argv0 : options.argv0;
  args.insert(args.end(),
              {"--bind", root_ + "/steward/log.sock", "/dev/log",
               "--ro-bind", STEWARD_TEST_BUNDLES, "/steward/bundles",
               "--ro-bind", STEWARD_FAKE_VIGILD_PATH, "/steward/bin/fake_vigild",
               "--ro-bind", STEWARD_VIGILD_PATH, "/steward/bin/vigild",
               "--ro-bind", STEWARD_KESTREL_PATH, toolPath, "--chdir", "/",
               "--setenv", "PATH", "/steward/bin:/usr/bin:/bin"});
  if (options.fakeHardware) addFakeHardware(&args);
  if (!options.fakeMachine.empty()) addFakeMachine(options.fakeMachine, &args);
  addFirmware(options.firmware, &args);
  addPrograms(options, &args);
  if (options.fakeSystemd) addFakeSystemd(&args);
  addState(options, &args);
  for (const auto& [name, value] : options.environment) {
    args.insert(args.end(), {"--setenv", name, value});
  }
  args.push_back("--");
  if (!options.shell.empty()) {
    args.insert(args.end(), {"/bin/sh", "-c", options.shell});
  } else {
    args.push_back(options.argv0);
    args.insert(args.end(), options.arguments.begin(), options.arguments.end());
  }
  return args;
}

// libsensors wants the real sysfs, so the host's stays and only the fake
// classes are swapped in, the other classes put back beside them.
void Sandbox::addFakeHardware(std::vector<std::string>* args) const {
  args->insert(args->end(), {"--ro-bind", "/sys", "/sys", "--tmpfs", "/sys/class"});
  for (const auto& entry : fs::directory_iterator("/sys/class")) {
    std::string name = entry.path().filename(), path = entry.path();
    if (std::count(std::begin(kFakeClasses), std::end(kFakeClasses), name)) continue;
    if (entry.is_symlink()) {
      args->insert(args->end(), {"--symlink", fs::read_symlink(path).string(), path});
    } else {
      args->insert(args->end(), {"--ro-bind", path, path});
    }
  }
  for (std::string name : kFakeClasses) {
    fs::create_directories(hostPath("/sys/class/" + name));
    args->insert(args->end(), {"--bind", hostPath("/sys/class/" + name), "/sys/class/" + name});
  }
}

void Sandbox::addFakeMachine(const std::string& machine, std::vector<std::string>* args) {
  args->insert(args->end(), {"--ro-bind", machine + "/sys", "/sys", "--ro-bind",
                             STEWARD_MACHREPORT_PATH, "/usr/sbin/machreport"});
  std::error_code ignored;
  for (const auto& entry : fs::recursive_directory_iterator(machine + "/proc", ignored)) {
    if (!entry.is_regular_file()) continue;
    std::string path = entry.path();
    args->insert(args->end(), {"--ro-bind", path, path.substr(machine.size())});
  }
}

// libefivar takes a plain directory only when EFIVARFS_PATH names it.
void Sandbox::addFirmware(RunOptions::Firmware firmware, std::vector<std::string>* args) const {
  using enum RunOptions::Firmware;
  if (firmware == kRecorded) return;
  args->insert(args->end(), {"--ro-bind", STEWARD_NVRAM_PATH, "/usr/sbin/nvram"});
  if (firmware == kHost) {
    args->insert(args->end(), {"--ro-bind", "/sys", "/sys"});
    return;
  }
  fs::create_directories(hostPath(kFakeVariables));
  args->insert(args->end(), {"--tmpfs", "/sys/firmware", firmware == kFake ? "--bind"
                             : "--ro-bind", hostPath(kFakeVariables), kFakeVariables,
                             "--setenv", "EFIVARFS_PATH", kFakeVariables});
}

void Sandbox::addPrograms(const RunOptions& options, std::vector<std::string>* args) const {
  for (const auto& [name, path] : options.programs)
    args->insert(args->end(), {"--ro-bind", path, "/steward/bin/" + name});
}

// Only a program the host has can be covered: /usr is read-only.
void Sandbox::addFakeSystemd(std::vector<std::string>* args) {
  for (std::string name : {"systemctl", "systemd-run", "wall"})
    if (fs::exists("/usr/bin/" + name))
      args->insert(args->end(), {"--ro-bind", STEWARD_SANDBOX_FAKES "/" + name, "/usr/bin/" + name});
}

// The registry below it is the same host directory, so it stays in view.
void Sandbox::addState(const RunOptions& options, std::vector<std::string>* args) const {
  if (options.keepState)
    args->insert(args->end(), {"--bind", hostPath("/var/lib/stewardd"), "/var/lib/stewardd"});
}

std::unique_ptr<SandboxProcess> Sandbox::start(const RunOptions& options) {
  std::vector<std::string> args = bwrapArguments(options);  // the child may not allocate
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int input[2], output[2];
  if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) fail("pipes");
  pid_t pid = fork();
  if (pid < 0) fail("fork");
  if (pid == 0) {
    dup2(input[0], STDIN_FILENO);
    dup2(output[1], STDOUT_FILENO);
    signal(SIGPIPE, SIG_DFL);
    execvp("bwrap", argv.data());
    _exit(127);
  }
  close(input[0]), close(output[1]);
  auto process = std::make_unique<SandboxProcess>(pid, input[1], output[0]);
  process->writeInput(options.input);
  return process;
}

std::string request(std::string_view command, std::string_view more) {
  return std::string(kXmlPropertyListProlog) +
         "<plist version=\"1.0\">\n<dict>\n<key>command</key><string>" + std::string(command) +
         "</string>" + std::string(more) + "</dict>\n</plist>\n";
}

std::string envelope(std::string_view code) {
  return std::string(kXmlPropertyListProlog) +
         "<plist version=\"0.9\">\n<dict>\n<key>error</key>\n<string>" +
         std::string(code) + "</string>\n</dict>\n</plist>";
}

}  // namespace steward::sandbox
