// Test helpers of the configuration editors: a temporary directory that is
// removed with everything in it, and a harmless sleeping child under a
// chosen command name, for the process lookups and the reload signals.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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
    std::ifstream in(path(name), std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
  }
  // The names in the directory, sorted.
  std::string listing() const {
    std::string names;
    std::vector<std::string> sorted;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      sorted.push_back(entry.path().filename().string());
    }
    std::sort(sorted.begin(), sorted.end());
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
    if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
      pid_ = -1;
      return;
    }
    // The spawn returns while the kernel may still be naming the child.
    std::string comm = "/proc/" + std::to_string(pid_) + "/comm";
    for (int tries = 0; tries < 200; ++tries) {
      std::string name;
      std::ifstream in(comm);
      std::getline(in, name);
      if (name == commandName) break;
      usleep(10000);
    }
  }
  ~NamedSleeper() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  NamedSleeper(const NamedSleeper&) = delete;
  NamedSleeper& operator=(const NamedSleeper&) = delete;

  pid_t pid() const { return pid_; }

  // The signal that ended the child, waiting up to two seconds; 0 while it
  // still runs.
  int terminatingSignal() {
    for (int tries = 0; tries < 200; ++tries) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
      }
      usleep(10000);
    }
    return 0;
  }
  // Whether the child still runs (checked without waiting).
  bool running() {
    int status = 0;
    if (reaped_) return false;
    if (waitpid(pid_, &status, WNOHANG) == pid_) reaped_ = true;
    return !reaped_;
  }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

}  // namespace steward
