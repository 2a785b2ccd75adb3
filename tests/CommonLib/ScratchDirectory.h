// Test helpers of the configuration editors: a temporary directory that is
// removed with everything in it, and a harmless sleeping child under a
// chosen command name, for the process lookups and the reload signals.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace steward {

class ScratchDirectory {
 public:
  ScratchDirectory() {
    char pattern[] = "/tmp/steward-cl-test.XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~ScratchDirectory() { std::filesystem::remove_all(path_); }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  std::string path(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }
  void write(const std::string& name, const std::string& contents) const {
    std::ofstream(path(name), std::ios::binary) << contents;
  }
  std::string read(const std::string& name) const {
    std::ostringstream contents;
    contents << std::ifstream(path(name), std::ios::binary).rdbuf();
    return contents.str();
  }
  // The names in the directory, sorted, each followed by a space.
  std::string listing() const {
    std::set<std::string> sorted;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
      sorted.insert(entry.path().filename().string());
    std::string names;
    for (const auto& name : sorted) names += name + " ";
    return names;
  }

 private:
  std::string path_;
};

// A copy of /bin/sleep under `commandName` (at most 15 bytes: the kernel's
// command name), sleeping in `directory` until it is signalled. Only this
// child is ever signalled, by its own id.
class NamedSleeper {
 public:
  NamedSleeper(const ScratchDirectory& directory, const std::string& commandName) {
    std::string program = directory.path(commandName);
    std::filesystem::copy_file("/bin/sleep", program,
                               std::filesystem::copy_options::overwrite_existing);
    char* argv[] = {program.data(), const_cast<char*>("600"), nullptr};
    if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ) != 0) pid_ = -1;
    // The spawn returns while the kernel may still be naming the child.
    std::string name;
    for (int tries = 0; pid_ > 0 && name != commandName && tries < 200; ++tries, usleep(10000))
      std::getline(std::ifstream("/proc/" + std::to_string(pid_) + "/comm"), name);
  }
  ~NamedSleeper() {
    if (pid_ > 0 && !reaped_) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
  }
  NamedSleeper(const NamedSleeper&) = delete;
  NamedSleeper& operator=(const NamedSleeper&) = delete;

  pid_t pid() const { return pid_; }
  // The signal that ended the child, waiting up to two seconds; 0 while it
  // still runs.
  int terminatingSignal() {
    for (int tries = 0; tries < 200 && !reap(); ++tries) usleep(10000);
    return !reaped_ ? 0 : WIFSIGNALED(status_) ? WTERMSIG(status_) : -1;
  }
  // Whether the child still runs (checked without waiting).
  bool running() { return !reaped_ && !reap(); }

 private:
  bool reap() { return reaped_ = reaped_ || waitpid(pid_, &status_, WNOHANG) == pid_; }

  pid_t pid_ = -1;
  int status_ = 0;
  bool reaped_ = false;
};

}  // namespace steward
