#include "machreport/FileTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

namespace steward::machreport {

FileTree::FileTree(std::string root) : root_(std::move(root)) {
  while (!root_.empty() && root_.back() == '/') root_.pop_back();
}

std::optional<std::string> FileTree::read(std::string_view absolute,
                                          std::size_t limit) const {
  // Non-blocking, so a fifo planted in a tree cannot hang the report.
  int fd = ::open(path(absolute).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  char buffer[8192];
  ssize_t n = 0;
  while (bytes.size() < limit && (n = ::read(fd, buffer, sizeof buffer)) > 0) {
    bytes.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(n),
                                               limit - bytes.size()));
  }
  ::close(fd);
  if (n < 0) return std::nullopt;
  return bytes;
}

std::string FileTree::value(std::string_view absolute) const {
  std::string text = read(absolute).value_or("");
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == ' ' || text.back() == '\t')) {
    text.pop_back();
  }
  return text;
}

std::vector<std::string> FileTree::list(std::string_view absolute) const {
  std::vector<std::string> names;
  DIR* directory = ::opendir(path(absolute).c_str());
  if (directory == nullptr) return names;
  while (const dirent* entry = ::readdir(directory)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  ::closedir(directory);
  std::sort(names.begin(), names.end());
  return names;
}

bool FileTree::exists(std::string_view absolute) const {
  struct stat info;
  return ::stat(path(absolute).c_str(), &info) == 0;
}

std::string FileTree::linkTarget(std::string_view absolute) const {
  char target[PATH_MAX];
  ssize_t n = ::readlink(path(absolute).c_str(), target, sizeof target);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : "";
}

std::string FileTree::linkName(std::string_view absolute) const {
  std::string target = linkTarget(absolute);
  return target.substr(target.rfind('/') + 1);
}

}  // namespace steward::machreport
