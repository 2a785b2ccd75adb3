#include "host/ContextStore.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <exception>
#include <stdexcept>

#include "host/SystemLog.h"
#include "platform/Archiver.h"
#include "platform/Format.h"

namespace steward {

namespace {

constexpr mode_t kContextFileMode = 0770;

void logContextError(int result, int error) {
  log_notice(stringWithFormat(
      "[%d] error in get_and_lock_context: %d (errno=%d)\n", getpid(), result,
      error));
}

// An existing file is opened only when it is a regular file: a link, fifo or
// device planted under the name is refused, never followed or waited on.
int openExistingContextFile(const std::string& path) {
  int fd = open(path.c_str(),
                O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kContextFileMode);
  if (fd < 0) {
    if (errno == ELOOP || errno == EISDIR || errno == ENXIO) {
      logContextError(fd, errno);
    }
    return -1;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    logContextError(-1, EINVAL);
    return -1;
  }
  return fd;
}

int openContextFile(const std::string& path) {
  mode_t savedMask = umask(0);
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                kContextFileMode);
  umask(savedMask);
  return fd >= 0 ? fd : openExistingContextFile(path);
}

// Polls for the lock: the wait is bounded by the holder's own time-out.
void lockContextFile(int fd) {
  errno = 0;
  for (;;) {
    int result = flock(fd, LOCK_EX | LOCK_NB);
    if (result == 0) return;
    if (errno != EINTR && errno != EWOULDBLOCK) {
      logContextError(result, errno);
      return;
    }
    timespec pause{0, 1000000};
    nanosleep(&pause, nullptr);
  }
}

[[nodiscard]] bool readWholeFile(int fd, std::string* bytes) {
  bytes->clear();
  char buffer[16384];
  off_t offset = 0;
  for (;;) {
    ssize_t n = pread(fd, buffer, sizeof buffer, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    bytes->append(buffer, static_cast<std::size_t>(n));
    offset += n;
  }
}

// Errors of the file system are not reported: the file is then left as the
// next load finds it, and a cut-off archive loads as an empty context.
void writeWholeFile(int fd, const std::string& bytes) {
  if (ftruncate(fd, 0) != 0) return;
  std::size_t written = 0;
  while (written < bytes.size()) {
    ssize_t n = pwrite(fd, bytes.data() + written, bytes.size() - written,
                       static_cast<off_t>(written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    written += static_cast<std::size_t>(n);
  }
}

MutableDictionaryRef loadContext(int fd) {
  std::string bytes;
  // An unreadable file is treated like undecodable content.
  if (!readWholeFile(fd, &bytes) || bytes.empty()) {
    return makeMutableDictionary();
  }
  ValueRef root;
  try {
    root = unarchiveObjectWithData(bytes);
  } catch (const std::exception&) {
    return makeMutableDictionary();
  }
  if (!root) return nullptr;
  MutableDictionaryRef context = as<MutableDictionary>(root);
  if (!context) throw std::runtime_error("context root is not a dictionary");
  return context;
}

// True when "contextDirty" asks for the context to be written; a string flag
// is taken out of the context.
bool takeWriteDecision(MutableDictionary& context) {
  ValueRef flag = context.objectForKey("contextDirty");
  StringRef text = as<String>(flag);
  if (!text) return true;
  bool write = text->str() == "YES";
  context.removeObjectForKey("contextDirty");
  return write;
}

void saveContext(int fd, const MutableDictionaryRef& context) {
  if (!context) {
    writeWholeFile(fd, {});
    return;
  }
  if (!takeWriteDecision(*context)) return;
  std::string bytes;
  if (archivedDataWithRootObject(context, &bytes)) writeWholeFile(fd, bytes);
}

}  // namespace

std::string context_file_path(std::string_view name,
                              const std::string& directory) {
  std::size_t slash = name.rfind('/');
  std::string_view last =
      slash == std::string_view::npos ? name : name.substr(slash + 1);
  std::string path = directory;
  path.append(last);
  path.append(".lock");
  return path;
}

MutableDictionaryRef get_and_lock_context(std::string_view name,
                                          int* lockFileFD,
                                          const std::string& directory) {
  *lockFileFD = -1;
  int fd = openContextFile(context_file_path(name, directory));
  if (fd < 0) return nullptr;
  *lockFileFD = fd;
  lockContextFile(fd);
  try {
    MutableDictionaryRef context = loadContext(fd);
    if (context) context->setObject(makeBoolean(false), "contextDirty");
    return context;
  } catch (const std::exception& e) {
    log_notice(stringWithFormat("[%d] exception in get_and_lock_context: %s\n",
                                getpid(), e.what()));
  } catch (...) {
  }
  return makeMutableDictionary();
}

void set_and_unlock_context(int* lockFileFD, MutableDictionaryRef* context) {
  if (!lockFileFD || *lockFileFD == -1) return;
  try {
    saveContext(*lockFileFD, context ? *context : nullptr);
  } catch (const std::exception& e) {
    log_notice(stringWithFormat(
        "[%d] exception in set_and_unlock_context: %s\n", getpid(), e.what()));
  } catch (...) {
  }
  flock(*lockFileFD, LOCK_UN);
  close(*lockFileFD);
  *lockFileFD = -1;
}

}  // namespace steward
