#include "vigild/ServiceLight.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "kestrel/LightLease.h"

namespace steward::vigild {
namespace {

namespace fs = std::filesystem;

constexpr const char* kEntryDirectories[] = {"IOService", "FrontPanel"};
constexpr const char* kEntryName = "OrchardFPButton";
constexpr const char* kLightProperty = "LED";

bool fail(std::string* error, const std::string& what) {
  *error = what + ": " + std::strerror(errno);
  return false;
}

bool isPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool namesServiceLight(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return name.find("identify") != std::string::npos || name.find("locate") != std::string::npos;
}

// Only this user may change the tree.
bool makeOwn(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  if ((st.st_uid != geteuid() || st.st_gid != getegid()) && fchown(fd, geteuid(), getegid()) != 0)
    return false;
  return (st.st_mode & 07777) == 0755 || fchmod(fd, 0755) == 0;
}

// The directory `name` of `parent`, made when missing; a link or file in its
// place is removed first. -1 when it cannot be had.
int openOwnDirectory(int parent, const char* name) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (mkdirat(parent, name, 0755) != 0 && errno != EEXIST) return -1;
    int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      if (makeOwn(fd)) return fd;
      close(fd);
      return -1;
    }
    if ((errno != ELOOP && errno != ENOTDIR) || unlinkat(parent, name, 0) != 0) return -1;
  }
  return -1;
}

// Removes a link, file or empty directory; true when nothing is left.
bool removeEntry(int parent, const char* name) {
  if (unlinkat(parent, name, 0) == 0 || errno == ENOENT) return true;
  return (errno == EISDIR || errno == EPERM) && unlinkat(parent, name, AT_REMOVEDIR) == 0;
}

// A fresh property file saying off, for the controller's light.
bool makeStateFile(int entry) {
  int fd =
      openat(entry, kLightProperty, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  bool ok = fd >= 0 && write(fd, "0\n", 2) == 2;
  return (fd < 0 || close(fd) == 0) && ok;
}

}  // namespace

ServiceLight::ServiceLight(std::string registryRoot, std::string ledDirectory)
    : registryRoot_(std::move(registryRoot)), ledDirectory_(std::move(ledDirectory)) {
  while (registryRoot_.size() > 1 && registryRoot_.back() == '/') registryRoot_.pop_back();
}

void ServiceLight::choose(const std::string& configured) {
  std::vector<std::string> names;
  if (isPlainName(configured)) {
    names.push_back(configured);
  } else if (configured.empty()) {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(ledDirectory_, ignored)) {
      std::string name = entry.path().filename();
      if (namesServiceLight(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
  }
  device_.clear();
  for (const std::string& name : names) {
    device_ = name;
    if (access(brightnessPath().c_str(), F_OK) == 0) return;
  }
  device_.clear();
}

std::string ServiceLight::brightnessPath() const {
  return device_.empty() ? "" : ledDirectory_ + "/" + device_ + "/brightness";
}

std::string ServiceLight::propertyPath() const {
  return entryDirectory() + "/" + kLightProperty;
}

std::string ServiceLight::entryDirectory() const {
  std::string path = registryRoot_;
  for (const char* name : kEntryDirectories) path += std::string("/") + name;
  return path + "/" + kEntryName;
}

bool ServiceLight::setUp(std::string* error) const {
  std::error_code ignored;
  fs::create_directories(registryRoot_, ignored);
  int fd = open(registryRoot_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 || !makeOwn(fd)) {
    if (fd >= 0) close(fd);
    return fail(error, "cannot own the registry " + registryRoot_);
  }
  std::string path = registryRoot_;
  for (const char* name : kEntryDirectories) {
    int child = openOwnDirectory(fd, name);
    path += std::string("/") + name;
    close(fd);
    if (child < 0) return fail(error, "cannot make " + path);
    fd = child;
  }
  path += std::string("/") + kEntryName;
  bool ok;
  if (usesManagementController()) {
    int entry = openOwnDirectory(fd, kEntryName);
    ok = entry >= 0 && removeEntry(entry, kLightProperty) && makeStateFile(entry);
    if (entry >= 0) close(entry);
  } else if (device_.empty()) {
    int entry = openat(fd, kEntryName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ok = (entry < 0 ||
          (removeEntry(entry, kLightProperty) && removeEntry(entry, kLightLeaseName))) &&
         removeEntry(fd, kEntryName);
    if (entry >= 0) close(entry);
  } else {
    int entry = openOwnDirectory(fd, kEntryName);
    ok = entry >= 0 && removeEntry(entry, kLightProperty) &&
         symlinkat(brightnessPath().c_str(), entry, kLightProperty) == 0;
    if (entry >= 0) close(entry);
  }
  close(fd);
  return ok || fail(error, "cannot set up " + path);
}

std::string configuredServiceLight(const ValueRef& settings) {
  auto dictionary = as<Dictionary>(settings);
  auto name = dictionary ? as<String>(dictionary->objectForKey("ServiceLED")) : nullptr;
  return name ? name->str() : "";
}

}  // namespace steward::vigild
