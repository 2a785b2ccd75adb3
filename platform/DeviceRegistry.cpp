#include "platform/DeviceRegistry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/TextEncoding.h"

namespace steward {
namespace {

bool isDirectory(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A key names one file of the entry's own directory.
bool isPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

std::string errnoText(const char* what, const std::string& path) {
  return std::string(what) + " " + path + ": " + std::strerror(errno);
}

}  // namespace

std::string RegistryEntry::name() const {
  std::string_view path = directory_;
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  std::string_view last = path.substr(path.rfind('/') + 1);
  return std::string(last.substr(0, kMaximumNameLength));
}

StringRef RegistryEntry::copyProperty(std::string_view key) const {
  if (!isPlainName(key)) return nullptr;
  std::string path = directory_ + "/" + std::string(key);
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st;
  std::string text;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  char buffer[4096];
  while (ok) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      ok = false;
    }
  }
  close(fd);
  if (!ok || !unicode::isValidUTF8(text)) return nullptr;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return makeString(std::move(text));
}

bool RegistryEntry::setProperty(std::string_view key, const ValueRef& value,
                                std::string* error) const {
  if (!isPlainName(key) || !value) {
    *error = "bad property key or value";
    return false;
  }
  std::string path = directory_ + "/" + std::string(key);
  std::string text = textOf(value) + "\n";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = errnoText("cannot open", path);
    return false;
  }
  std::string_view rest = text;
  while (!rest.empty()) {
    ssize_t n = write(fd, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = errnoText("cannot write", path);
      close(fd);
      return false;
    }
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  if (close(fd) != 0) {
    *error = errnoText("cannot write", path);
    return false;
  }
  return true;
}

RegistryIterator::RegistryIterator(const std::string& planeDirectory) {
  pushChildren(planeDirectory);
}

void RegistryIterator::pushChildren(const std::string& directory) {
  std::vector<std::string> children;
  if (DIR* dir = opendir(directory.c_str())) {
    while (dirent* item = readdir(dir)) {
      std::string_view name = item->d_name;
      if (name == "." || name == "..") continue;
      std::string child = directory + "/" + std::string(name);
      if (isDirectory(child)) children.push_back(std::move(child));
    }
    closedir(dir);
  }
  std::sort(children.rbegin(), children.rend());  // the first child on top
  for (auto& child : children) pending_.push_back(std::move(child));
}

std::optional<RegistryEntry> RegistryIterator::next() {
  if (pending_.empty()) return std::nullopt;
  std::string directory = std::move(pending_.back());
  pending_.pop_back();
  pushChildren(directory);
  return RegistryEntry(std::move(directory));
}

DeviceRegistry::DeviceRegistry(std::string root) : root_(std::move(root)) {
  if (root_.empty() || root_.back() != '/') root_ += '/';
}

std::optional<RegistryEntry> DeviceRegistry::entryFromPath(std::string_view path) const {
  std::size_t colon = path.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view plane = path.substr(0, colon);
  std::string_view rest = path.substr(colon + 1);
  if (!isPlainName(plane) || rest.empty() || rest.front() != '/') return std::nullopt;

  std::string directory = root_ + std::string(plane);
  while (!rest.empty()) {
    rest.remove_prefix(1);  // the "/"
    std::string_view component = rest.substr(0, rest.find('/'));
    rest.remove_prefix(component.size());
    if (component.empty()) continue;  // "P:/" and doubled slashes
    if (!isPlainName(component)) return std::nullopt;
    directory += "/";
    directory += component;
  }
  if (!isDirectory(directory)) return std::nullopt;
  return RegistryEntry(std::move(directory));
}

std::unique_ptr<RegistryIterator> DeviceRegistry::createIterator(std::string_view plane) const {
  if (!isPlainName(plane)) return nullptr;
  std::string directory = root_ + std::string(plane);
  if (!isDirectory(directory)) return nullptr;
  return std::make_unique<RegistryIterator>(directory);
}

}  // namespace steward
