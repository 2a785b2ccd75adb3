#include "tests/sandbox/Sandbox.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace steward::sandbox {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "Sandbox: %s: %s\n", what.c_str(), std::strerror(errno));
  std::abort();
}

// Sandbox directories that live in the temporary root; everything else of
// the host is seen read-only.
struct PrivateDirectory {
  const char* path;
  bool writable;
};
constexpr PrivateDirectory kPrivateDirectories[] = {
    {"/etc", true},      {"/tmp", true},       {"/run", true},
    {"/private", true},  {"/usr/sbin", false}, {"/steward/record", true},
    {"/steward/bundles", true},
};

constexpr const char* kToolDirectory = "/steward/bin";
constexpr const char* kRecordFile = "/steward/record/calls";

// Arguments are separated by \037 and calls end with \036, so any argument
// text survives.
constexpr const char* kRecordingFake =
    "#!/bin/sh\n"
    "# Records how it was called; does nothing else.\n"
    "{ printf '%s' \"$0\"; for a in \"$@\"; do printf '\\037%s' \"$a\"; done;"
    " printf '\\036'; } >> /steward/record/calls\n";

constexpr const char* kPasswd =
    "root:x:0:0:root:/root:/bin/sh\n"
    "alice:x:1001:1001:Alice:/nonexistent:/usr/sbin/nologin\n"
    "bob:x:1002:80:Bob:/nonexistent:/usr/sbin/nologin\n"
    "carol:x:1003:1003:Carol:/nonexistent:/usr/sbin/nologin\n";
constexpr const char* kGroup =
    "root:x:0:\n"
    "staff:x:20:carol\n"
    "admin:x:80:alice\n"
    "alice:x:1001:\n"
    "carol:x:1003:\n";
constexpr const char* kShadow =
    "root:*:19000:0:99999:7:::\n"
    "alice:*:19000:0:99999:7:::\n"
    "bob:*:19000:0:99999:7:::\n"
    "carol:*:19000:0:99999:7:::\n";
constexpr const char* kNsswitch =
    "passwd: files\ngroup: files\nshadow: files\nhosts: files\n";

void writeWhole(const std::string& path, std::string_view contents,
                mode_t mode) {
  fs::create_directories(fs::path(path).parent_path());
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) fail("cannot write " + path);
  std::size_t done = 0;
  while (done < contents.size()) {
    ssize_t n = write(fd, contents.data() + done, contents.size() - done);
    if (n <= 0) fail("cannot write " + path);
    done += static_cast<std::size_t>(n);
  }
  fchmod(fd, mode);
  close(fd);
}

}  // namespace

SandboxProcess::SandboxProcess(pid_t pid, int input, int output, int errors)
    : pid_(pid), input_(input), output_(output), errors_(errors) {}

SandboxProcess::~SandboxProcess() {
  if (!status_) {
    kill(pid_, SIGKILL);
    int status;
    waitpid(pid_, &status, 0);
  }
  for (int fd : {input_, output_, errors_}) {
    if (fd >= 0) close(fd);
  }
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

void SandboxProcess::closeInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

bool SandboxProcess::hasExited() {
  if (status_) return true;
  pump(false);
  int status;
  if (waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
  return status_.has_value();
}

// Moves what is there from the output pipes into the result; with `block`,
// until both are at their end.
void SandboxProcess::pump(bool block) {
  for (;;) {
    pollfd fds[2] = {{output_, POLLIN, 0}, {errors_, POLLIN, 0}};
    if (output_ < 0 && errors_ < 0) return;
    int ready = poll(fds, 2, block ? -1 : 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    int* fdsOwned[2] = {&output_, &errors_};
    std::string* sinks[2] = {&result_.output, &result_.errors};
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(*fdsOwned[i]);
        *fdsOwned[i] = -1;
      }
    }
  }
}

RunResult SandboxProcess::wait() {
  closeInput();
  pump(true);
  if (!status_) {
    int status;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    status_ = status;
  }
  if (WIFEXITED(*status_)) result_.exitStatus = WEXITSTATUS(*status_);
  if (WIFSIGNALED(*status_)) result_.signal = WTERMSIG(*status_);
  return result_;
}

pid_t SandboxProcess::findProcess(std::string_view name) const {
  std::vector<pid_t> pending = {pid_};
  while (!pending.empty()) {
    pid_t pid = pending.back();
    pending.pop_back();
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string command;
    if (std::getline(comm, command) && command == name && pid != pid_) {
      return pid;
    }
    std::error_code error;
    for (const auto& task :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
      std::ifstream children(task.path() / "children");
      for (pid_t child; children >> child;) pending.push_back(child);
    }
  }
  return -1;
}

Sandbox::Sandbox() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") +
                        "/steward-sandbox-XXXXXX";
  if (!mkdtemp(pattern.data())) fail("cannot make " + pattern);
  root_ = pattern;
  for (const PrivateDirectory& directory : kPrivateDirectories) {
    fs::create_directories(hostPath(directory.path));
  }
  chmod(hostPath("/tmp").c_str(), 01777);
  fs::create_directories(hostPath("/private/var/stewardd"));
  chmod(hostPath("/private/var/stewardd").c_str(), 0755);

  writeFile("/etc/passwd", kPasswd);
  writeFile("/etc/group", kGroup);
  writeFile("/etc/shadow", kShadow, 0640);
  writeFile("/etc/nsswitch.conf", kNsswitch);
  std::error_code ignored;
  for (const char* file : {"/etc/ld.so.cache", "/etc/localtime"}) {
    fs::copy(file, hostPath(file), fs::copy_options::copy_symlinks, ignored);
  }
  for (const char* fake :
       {"/usr/sbin/shutdown", "/usr/sbin/nvram", "/usr/sbin/machreport"}) {
    addRecordingFake(fake);
  }
  log_ = std::make_unique<LogCapture>(root_ + "/steward/log.sock");
}

Sandbox::~Sandbox() {
  log_.reset();
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::string Sandbox::hostPath(std::string_view sandboxPath) const {
  return root_ + std::string(sandboxPath);
}

void Sandbox::writeFile(std::string_view sandboxPath,
                        std::string_view contents, mode_t mode) {
  writeWhole(hostPath(sandboxPath), contents, mode);
}

bool Sandbox::readFile(std::string_view sandboxPath,
                       std::string* contents) const {
  std::ifstream file(hostPath(sandboxPath), std::ios::binary);
  if (!file) return false;
  std::ostringstream buffer;
  buffer << file.rdbuf();
  *contents = buffer.str();
  return true;
}

void Sandbox::addRecordingFake(std::string_view sandboxPath) {
  writeFile(sandboxPath, kRecordingFake, 0755);
}

void Sandbox::addBind(Bind bind) { binds_.push_back(std::move(bind)); }

std::string Sandbox::contextPath(std::string_view name) const {
  return "/private/var/stewardd/" + std::string(name) + ".lock";
}

std::vector<std::string> Sandbox::bwrapArguments(
    const RunOptions& options) const {
  std::vector<std::string> args = {
      "bwrap",          "--die-with-parent", "--unshare-pid",
      "--unshare-net",  "--unshare-ipc",     "--unshare-uts",
      "--cap-drop",     "ALL",               "--clearenv",
      "--ro-bind",      "/usr",              "/usr",
  };
  // The rest of the system the programs need, as on the host.
  for (const char* top : {"/bin", "/lib", "/lib32", "/lib64", "/sbin"}) {
    std::error_code error;
    fs::file_status status = fs::symlink_status(top, error);
    if (error || !fs::exists(status)) continue;
    if (fs::is_symlink(status)) {
      args.insert(args.end(),
                  {"--symlink", fs::read_symlink(top).string(), top});
    } else {
      args.insert(args.end(), {"--ro-bind", top, top});
    }
  }
  args.insert(args.end(), {"--proc", "/proc", "--dev", "/dev"});
  for (const PrivateDirectory& directory : kPrivateDirectories) {
    args.insert(args.end(), {directory.writable ? "--bind" : "--ro-bind",
                             hostPath(directory.path), directory.path});
  }
  args.insert(args.end(), {"--bind", root_ + "/steward/log.sock", "/dev/log"});
  std::string toolPath = options.argv0.find('/') == std::string::npos
                             ? std::string(kToolDirectory) + "/" + options.argv0
                             : options.argv0;
  args.insert(args.end(), {"--ro-bind", STEWARD_KESTREL_PATH, toolPath});
  for (const Bind& bind : binds_) {
    args.insert(args.end(), {bind.writable ? "--bind" : "--ro-bind",
                             bind.source, bind.destination});
  }
  args.insert(args.end(),
              {"--chdir", "/", "--setenv", "PATH",
               std::string(kToolDirectory) + ":/usr/bin:/bin"});
  for (const auto& [name, value] : options.environment) {
    args.insert(args.end(), {"--setenv", name, value});
  }
  args.push_back("--");
  if (options.command.empty()) {
    args.push_back(options.argv0);
    args.insert(args.end(), options.arguments.begin(), options.arguments.end());
  } else {
    args.insert(args.end(), options.command.begin(), options.command.end());
  }
  return args;
}

std::unique_ptr<SandboxProcess> Sandbox::start(const RunOptions& options) {
  std::vector<std::string> args = bwrapArguments(options);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int input[2], output[2], errors[2];
  if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0 ||
      pipe2(errors, O_CLOEXEC) != 0) {
    fail("cannot make pipes");
  }
  pid_t pid = fork();
  if (pid < 0) fail("cannot fork");
  if (pid == 0) {
    dup2(input[0], STDIN_FILENO);
    dup2(output[1], STDOUT_FILENO);
    dup2(errors[1], STDERR_FILENO);
    if (options.umask) umask(*options.umask);
    signal(SIGPIPE, SIG_DFL);
    execvp("bwrap", argv.data());
    _exit(127);
  }
  close(input[0]);
  close(output[1]);
  close(errors[1]);
  auto process =
      std::make_unique<SandboxProcess>(pid, input[1], output[0], errors[0]);
  process->writeInput(options.input);
  return process;
}

RunResult Sandbox::run(const RunOptions& options) {
  return start(options)->wait();
}

const std::vector<LogLine>& Sandbox::logLines() { return log_->lines(); }

std::vector<std::string> Sandbox::logTexts() { return log_->texts(); }

std::vector<RecordedCall> Sandbox::recordedCalls() const {
  std::string record;
  std::vector<RecordedCall> calls;
  if (!readFile(kRecordFile, &record)) return calls;
  std::size_t start = 0;
  for (std::size_t end; (end = record.find('\036', start)) != std::string::npos;
       start = end + 1) {
    std::string_view call(record.data() + start, end - start);
    RecordedCall recorded;
    std::size_t field = 0;
    bool first = true;
    for (;;) {
      std::size_t next = call.find('\037', field);
      std::string_view text = call.substr(field, next - field);
      if (first) {
        recorded.program = text;
      } else {
        recorded.arguments.emplace_back(text);
      }
      first = false;
      if (next == std::string_view::npos) break;
      field = next + 1;
    }
    calls.push_back(std::move(recorded));
  }
  return calls;
}

std::string requestXML(std::string_view dictionaryBody) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n" +
         std::string(dictionaryBody) + "</dict>\n</plist>\n";
}

bool isWaitingForInput(pid_t pid) {
  std::ifstream syscall("/proc/" + std::to_string(pid) + "/syscall");
  std::string number, fd;
  // read(2) is system call 0 on x86-64, and its first argument the descriptor.
  return syscall >> number >> fd && number == "0" && fd == "0x0";
}

}  // namespace steward::sandbox
