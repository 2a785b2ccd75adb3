#include "vigild/SendmailTransport.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/AtomicFile.h"

extern char** environ;

namespace steward::vigild {
namespace {

// The message in an unnamed memory file: the program reads it at its own
// pace, and no pipe has to be fed from the loop.
int messageFile(const std::string& message, std::string* error) {
  int fd = memfd_create("vigild-mail", MFD_CLOEXEC);
  if (fd < 0 || !writeAll(fd, message) || lseek(fd, 0, SEEK_SET) != 0) {
    *error = std::string("cannot hold the message: ") + std::strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

// The daemon blocks some signals and ignores SIGPIPE; the program starts
// with neither.
int spawn(const std::string& program, int input, pid_t* pid, std::string* error) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int signal : {SIGPIPE, SIGHUP, SIGTERM, SIGINT}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const char* argv[] = {program.c_str(), "-t", "-i", nullptr};
  int rc = posix_spawn(pid, program.c_str(), &actions, &attributes, const_cast<char**>(argv),
                       environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) *error = "cannot start " + program + ": " + std::strerror(rc);
  return rc;
}

std::string endText(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  return std::string("ended by signal ") + std::to_string(WTERMSIG(status));
}

}  // namespace

SendmailTransport::SendmailTransport(std::string program, std::chrono::seconds deadline)
    : program_(std::move(program)), deadline_(deadline) {}

SendmailTransport::~SendmailTransport() {
  if (source_) source_->invalidate();
  if (processFd_ >= 0) close(processFd_);
}

void SendmailTransport::send(const std::string& message, Done done) {
  done_ = std::move(done);
  std::string error;
  int input = messageFile(message, &error);
  if (input < 0) return finish(false, error);
  int rc = spawn(program_, input, &child_, &error);
  close(input);
  if (rc != 0) {
    child_ = -1;
    return finish(false, error);
  }
  startedAt_ = RunLoopClock::now();
  processFd_ = static_cast<int>(syscall(SYS_pidfd_open, child_, 0));
  // Without a process descriptor the periodic deadline check reaps it.
  if (processFd_ < 0) return;
  source_ = RunLoopSource::create(SocketWatch::create(processFd_, [this](SocketWatch&) { reap(); }));
  RunLoop::current().addSource(source_, kRunLoopCommonModes);
}

void SendmailTransport::enforceDeadline() {
  if (child_ < 0) return;
  if (RunLoopClock::now() - startedAt_ > deadline_) kill(child_, SIGKILL);
  reap();
}

void SendmailTransport::reap() {
  int status;
  pid_t pid;
  while ((pid = waitpid(child_, &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  if (pid == 0) return;
  child_ = -1;
  if (source_) source_->invalidate();
  source_.reset();
  if (processFd_ >= 0) close(processFd_);
  processFd_ = -1;
  if (pid < 0) return finish(false, std::string("cannot wait for it: ") + std::strerror(errno));
  bool accepted = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  finish(accepted, accepted ? "" : program_ + " failed: " + endText(status));
}

void SendmailTransport::finish(bool accepted, const std::string& reason) {
  Done done = std::move(done_);
  done_ = nullptr;
  if (done) done(accepted, reason);
}

}  // namespace steward::vigild
