// A temporary directory removed with its contents, and a named sleeping child.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace steward {

class ScratchDirectory {
 public:
  ScratchDirectory() : path_(mkdtemp(std::string("/tmp/steward-cl-test.XXXXXX").data())) {}
  ~ScratchDirectory() { std::filesystem::remove_all(path_); }

  std::string path(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }
  void write(const std::string& name, const std::string& contents) const {
    std::ofstream(path(name), std::ios::binary) << contents;
  }
  std::string read(const std::string& name) const {
    std::ifstream file(path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
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

// A copy of /bin/sleep named `commandName` (at most 15 bytes); only this
// child is ever signalled, by its own id.
class NamedSleeper {
 public:
  NamedSleeper(const ScratchDirectory& directory, const std::string& commandName) {
    std::string program = directory.path(commandName);
    std::filesystem::copy_file("/bin/sleep", program);
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

  pid_t pid() const { return pid_; }
  // The signal that ended the child within two seconds; 0 while it runs.
  int terminatingSignal() {
    for (int tries = 0; tries < 200 && !reaped_; ++tries, usleep(10000))
      reaped_ = waitpid(pid_, &status_, WNOHANG) == pid_;
    return !reaped_ ? 0 : WIFSIGNALED(status_) ? WTERMSIG(status_) : -1;
  }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool reaped_ = false;
};

}  // namespace steward
