#include "CommonLib/ProcessUtilities.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/TextEncoding.h"

extern char** environ;

namespace steward {

namespace {

constexpr std::size_t kMaxPathLength = 1023;
constexpr std::size_t kCommandNameLength = 15;

// A pipe whose descriptors close with it; both ends are close-on-exec, and
// the child's copies are made by the spawn's dup2.
struct Pipe {
  int read = -1;
  int write = -1;

  bool open() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    read = fds[0];
    write = fds[1];
    return true;
  }
  static void closeEnd(int* fd) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  ~Pipe() {
    closeEnd(&read);
    closeEnd(&write);
  }
};

bool isExecutableFile(const std::string& path) {
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0 &&
         S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The child's standard descriptor `target`: `pipeEnd` when the exchange
// uses a pipe there, else /dev/null opened with `nullFlags`.
bool connectStream(posix_spawn_file_actions_t* actions, int target, bool piped,
                   int pipeEnd, int nullFlags) {
  if (piped) return posix_spawn_file_actions_adddup2(actions, pipeEnd, target) == 0;
  return posix_spawn_file_actions_addopen(actions, target, "/dev/null",
                                          nullFlags, 0) == 0;
}

// Blocks SIGPIPE for the calling thread while the input pipe is written, so
// that a child that stops reading costs an EPIPE rather than this process;
// a SIGPIPE raised meanwhile is taken back before the mask is restored.
class SigpipeBlocker {
 public:
  SigpipeBlocker() {
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &saved_);
  }
  ~SigpipeBlocker() {
    sigset_t pending;
    sigpending(&pending);
    if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
      sigset_t pipeOnly;
      sigemptyset(&pipeOnly);
      sigaddset(&pipeOnly, SIGPIPE);
      timespec zero{0, 0};
      while (sigtimedwait(&pipeOnly, nullptr, &zero) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  SigpipeBlocker(const SigpipeBlocker&) = delete;
  SigpipeBlocker& operator=(const SigpipeBlocker&) = delete;

 private:
  sigset_t saved_;
  bool wasPending_ = false;
};

// Feeds `input` to `in` and drains `out` and `err` until both reach their
// end; every descriptor that is not in use is -1.
void exchange(int* in, std::string_view input, int* out, std::string* outText,
              int* err, std::string* errText) {
  SigpipeBlocker blocker;
  if (*in >= 0) {
    fcntl(*in, F_SETFL, fcntl(*in, F_GETFL) | O_NONBLOCK);
    if (input.empty()) Pipe::closeEnd(in);
  }
  char buffer[65536];
  while (*in >= 0 || *out >= 0 || *err >= 0) {
    pollfd fds[3] = {{*in, POLLOUT, 0}, {*out, POLLIN, 0}, {*err, POLLIN, 0}};
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (*in >= 0 && fds[0].revents != 0) {
      ssize_t n = write(*in, input.data(), input.size());
      if (n > 0) input.remove_prefix(static_cast<std::size_t>(n));
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || input.empty()) {
        Pipe::closeEnd(in);
      }
    }
    int* readers[2] = {out, err};
    std::string* texts[2] = {outText, errText};
    for (int k = 0; k < 2; ++k) {
      if (*readers[k] < 0 || fds[k + 1].revents == 0) continue;
      ssize_t n = read(*readers[k], buffer, sizeof buffer);
      if (n > 0) {
        texts[k]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        Pipe::closeEnd(readers[k]);
      }
    }
  }
  Pipe::closeEnd(in);
  Pipe::closeEnd(out);
  Pipe::closeEnd(err);
}

int terminationStatus(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return kTerminatedBySignal + WTERMSIG(waitStatus);
  return -1;
}

std::optional<std::string> textOrNone(std::string bytes) {
  if (!unicode::isValidUTF8(bytes)) return std::nullopt;
  return bytes;
}

// Reads a short file whole (up to `limit` bytes); false when it cannot.
bool readShortFile(const std::string& path, std::string* contents,
                   std::size_t limit = 4096) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  contents->resize(limit);
  ssize_t total = 0;
  for (;;) {
    ssize_t n = read(fd, contents->data() + total, limit - static_cast<std::size_t>(total));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(fd);
      if (n < 0) return false;
      break;
    }
    total += n;
    if (static_cast<std::size_t>(total) == limit) {
      close(fd);
      break;
    }
  }
  contents->resize(static_cast<std::size_t>(total));
  return true;
}

// The command name of /proc/ID/comm without its line feed.
bool commandName(int procFd, const char* idText, std::string* name) {
  char path[64];
  std::snprintf(path, sizeof path, "%s/comm", idText);
  int fd = openat(procFd, path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[64];
  ssize_t n;
  do {
    n = read(fd, buffer, sizeof buffer);
  } while (n < 0 && errno == EINTR);
  close(fd);
  if (n <= 0) return false;
  std::size_t length = static_cast<std::size_t>(n);
  if (buffer[length - 1] == '\n') --length;
  name->assign(buffer, length);
  return true;
}

bool isProcessId(const char* text) {
  if (*text == '\0') return false;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  return true;
}

// The leading decimal integer of a pid file, as "%d" reads it, kept to the
// range of a process id.
int leadingInteger(const std::string& text) {
  const char* p = text.c_str();
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  const char* digits = p + ((*p == '+' || *p == '-') ? 1 : 0);
  if (*digits < '0' || *digits > '9') return -1;
  errno = 0;
  long value = std::strtol(p, nullptr, 10);
  if (errno == ERANGE || value > INT_MAX || value < INT_MIN) return -1;
  return static_cast<int>(value);
}

// Whether /proc/ID names a process rather than one of its other threads.
bool isThreadGroupLeader(int pid) {
  std::string status;
  if (!readShortFile("/proc/" + std::to_string(pid) + "/status", &status)) {
    return false;
  }
  std::size_t at = status.find("\nTgid:");
  return at != std::string::npos &&
         std::atoi(status.c_str() + at + std::strlen("\nTgid:")) == pid;
}

}  // namespace

int run_task_with_env(const std::string& launchPath,
                      const std::vector<std::string>& arguments,
                      const std::string* input,
                      std::optional<std::string>* output,
                      std::optional<std::string>* error,
                      const std::map<std::string, std::string>* environment) {
  if (!isExecutableFile(launchPath)) return -1;

  std::vector<char*> argv{const_cast<char*>(launchPath.c_str())};
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<std::string> pairs;
  std::vector<char*> envp;
  if (environment) {
    for (const auto& [name, value] : *environment) pairs.push_back(name + "=" + value);
    for (std::string& pair : pairs) envp.push_back(pair.data());
    envp.push_back(nullptr);
  }

  Pipe in, out, err;
  if ((input && !in.open()) || (output && !out.open()) || (error && !err.open())) {
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  sigset_t noSignals, pipeSignal;
  sigemptyset(&noSignals);
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  bool prepared =
      connectStream(&actions, STDIN_FILENO, input, in.read, O_RDONLY) &&
      connectStream(&actions, STDOUT_FILENO, output, out.write, O_WRONLY) &&
      connectStream(&actions, STDERR_FILENO, error, err.write, O_WRONLY) &&
      posix_spawnattr_setsigmask(&attributes, &noSignals) == 0 &&
      posix_spawnattr_setsigdefault(&attributes, &pipeSignal) == 0 &&
      posix_spawnattr_setflags(&attributes,
                               POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
  pid_t child = -1;
  bool started = prepared &&
                 posix_spawn(&child, launchPath.c_str(), &actions, &attributes,
                             argv.data(), environment ? envp.data() : environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (!started) return -1;

  Pipe::closeEnd(&in.read);
  Pipe::closeEnd(&out.write);
  Pipe::closeEnd(&err.write);
  std::string outBytes, errBytes;
  exchange(&in.write, input ? std::string_view(*input) : std::string_view(),
           &out.read, &outBytes, &err.read, &errBytes);

  int waitStatus = 0;
  pid_t waited;
  do {
    waited = waitpid(child, &waitStatus, 0);
  } while (waited < 0 && errno == EINTR);
  if (output) *output = textOrNone(std::move(outBytes));
  if (error) *error = textOrNone(std::move(errBytes));
  return waited == child ? terminationStatus(waitStatus) : -1;
}

int run_task(const std::string& launchPath,
             const std::vector<std::string>& arguments,
             std::optional<std::string>* output,
             std::optional<std::string>* error) {
  return run_task_with_env(launchPath, arguments, nullptr, output, error, nullptr);
}

int read_pid_file(const char* pidFile, std::string_view runDirectory) {
  if (!pidFile || *pidFile == '\0') return -1;
  std::string text;
  if (*pidFile == '/') {
    if (!readShortFile(pidFile, &text)) return -1;
    return leadingInteger(text);
  }
  std::string path = std::string(runDirectory) + pidFile;
  if (path.size() > kMaxPathLength) return -1;
  if (!readShortFile(path, &text)) {
    path += ".pid";
    if (path.size() > kMaxPathLength || !readShortFile(path, &text)) return -1;
  }
  return leadingInteger(text);
}

int pid_for_process_name(const char* name) {
  // The kernel keeps 15 bytes of a command name: a longer one never matches.
  if (!name || *name == '\0' || std::strlen(name) > kCommandNameLength) return -1;
  DIR* proc = opendir("/proc");
  if (!proc) return -1;
  int found = -1;
  std::string command;
  while (dirent* entry = readdir(proc)) {
    if (!isProcessId(entry->d_name)) continue;
    if (commandName(dirfd(proc), entry->d_name, &command) && command == name) {
      found = std::atoi(entry->d_name);
      break;
    }
  }
  closedir(proc);
  return found;
}

int verify_pid_for_process_name(int pid, const char* name) {
  if (pid < 1 || !name || *name == '\0') return -1;
  int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (proc < 0) return -1;
  std::string command;
  bool known = commandName(proc, std::to_string(pid).c_str(), &command);
  close(proc);
  if (!known || !isThreadGroupLeader(pid)) return -1;
  for (std::size_t at = command.find(name); at != std::string::npos;
       at = command.find(name, at + 1)) {
    if (at == 0 || command[at - 1] == '/') return pid;
  }
  return -1;
}

int find_daemon_pid(const char* pidFile, const char* name) {
  int pid = read_pid_file(pidFile);
  if (pid > 0) return verify_pid_for_process_name(pid, name);
  return pid_for_process_name(name);
}

}  // namespace steward
