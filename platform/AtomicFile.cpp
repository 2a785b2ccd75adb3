#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>

namespace steward {

namespace {

bool fail(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + std::strerror(errno);
  return false;
}

std::string directoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file that `path` finally names, following symbolic links (also one
// that leads nowhere yet); false with errno set when that cannot be told.
bool resolveLinks(std::string path, std::string* target) {
  for (int links = 0; links < 40; ++links) {
    struct stat status;
    bool missing = lstat(path.c_str(), &status) != 0;
    if (missing && errno != ENOENT) return false;
    if (missing || !S_ISLNK(status.st_mode)) {
      *target = std::move(path);
      return true;
    }
    char buffer[PATH_MAX];
    ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
    if (n <= 0 || n == sizeof buffer) return false;
    std::string next(buffer, static_cast<std::size_t>(n));
    path = next[0] == '/' ? next : directoryOf(path) + "/" + next;
  }
  errno = ELOOP;
  return false;
}

// A new file beside `target`, created with `mode` (the mask applies).
int createTemporary(const std::string& target, mode_t mode, std::string* name) {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = target + ".tmp" + std::to_string(getpid()) + "-" +
            std::to_string(counter++) + "-" + std::to_string(random() % 100000);
    int fd = open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool syncDirectory(const std::string& directory) {
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  return close(fd) == 0 && synced;
}

}  // namespace

bool AtomicFile::commit(std::string* error) {
  std::string target;
  if (!resolveLinks(fPath, &target)) return fail(error, "cannot follow " + fPath);
  struct stat old;
  bool hadOld = stat(target.c_str(), &old) == 0;
  if (!hadOld && errno != ENOENT) return fail(error, "cannot look at " + target);

  std::string temporary;
  int fd = createTemporary(target, hadOld ? 0600 : fNewFileMode, &temporary);
  if (fd < 0) return fail(error, "cannot create a file beside " + target);
  std::string failed;
  struct stat created;
  if (!writeAll(fd, fContents)) {
    failed = "cannot write " + temporary;
  } else if (hadOld &&
             (fstat(fd, &created) != 0 ||
              ((created.st_uid != old.st_uid || created.st_gid != old.st_gid) &&
               fchown(fd, old.st_uid, old.st_gid) != 0))) {
    failed = "cannot keep the owner of " + target;
  } else if (hadOld && fchmod(fd, old.st_mode & 07777) != 0) {
    // The mode after the owner: a change of owner clears set-id bits.
    failed = "cannot keep the mode of " + target;
  } else if (fsync(fd) != 0) {
    failed = "cannot sync " + temporary;
  }
  if (close(fd) != 0 && failed.empty()) failed = "cannot close " + temporary;
  if (failed.empty() && rename(temporary.c_str(), target.c_str()) != 0) {
    failed = "cannot replace " + target;
  }
  if (!failed.empty()) {
    int saved = errno;
    unlink(temporary.c_str());
    errno = saved;
    return fail(error, failed);
  }
  if (!syncDirectory(directoryOf(target))) {
    return fail(error, "cannot sync the directory of " + target);
  }
  return true;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool writeFileAtomically(const std::string& path, std::string_view contents,
                         std::string* error, mode_t newFileMode) {
  AtomicFile file(path, newFileMode);
  file.write(contents);
  return file.commit(error);
}

}  // namespace steward
