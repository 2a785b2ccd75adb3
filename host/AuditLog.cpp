#include "host/AuditLog.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/opensslv.h>

#include <cstring>

namespace steward {

namespace {

constexpr std::string_view kPrevPrefix = "{\"prev\":\"";
constexpr std::size_t kHashLength = 64;
constexpr mode_t kLogMode = 0600;

struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};

bool readFile(const std::string& path, std::string* bytes) {
  bytes->clear();
  Descriptor file{open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)};
  if (file.fd < 0) return false;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(file.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0;
    bytes->append(buffer, static_cast<std::size_t>(n));
  }
}

// The last line of the bytes, without its line feed; "" when there is none.
std::string_view lastLine(std::string_view bytes) {
  if (!bytes.empty() && bytes.back() == '\n') bytes.remove_suffix(1);
  std::size_t feed = bytes.rfind('\n');
  return feed == std::string_view::npos ? bytes : bytes.substr(feed + 1);
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string failure(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// The hash a line names as its predecessor's; empty when it names none.
std::string_view namedPrevious(std::string_view line) {
  if (!line.starts_with(kPrevPrefix) || line.size() < kPrevPrefix.size() + kHashLength + 1 ||
      line[kPrevPrefix.size() + kHashLength] != '"') {
    return {};
  }
  return line.substr(kPrevPrefix.size(), kHashLength);
}

// libcrypto, loaded on first use: most requests record nothing, and loading
// it at every start cost each run about half a millisecond of CPU.
struct Crypto {
  decltype(&EVP_Digest) digest = nullptr;
  decltype(&EVP_sha256) sha256 = nullptr;
};

const Crypto& crypto() {
  static const Crypto loaded = [] {
    Crypto functions;
    constexpr const char* kLibrary = "libcrypto.so." OPENSSL_MSTR(OPENSSL_SHLIB_VERSION);
    if (void* library = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL)) {
      functions.digest = reinterpret_cast<decltype(&EVP_Digest)>(dlsym(library, "EVP_Digest"));
      functions.sha256 = reinterpret_cast<decltype(&EVP_sha256)>(dlsym(library, "EVP_sha256"));
    }
    return functions;
  }();
  return loaded;
}

}  // namespace

std::string sha256Hex(std::string_view bytes) {
  const Crypto& library = crypto();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!library.digest || !library.sha256 ||
      library.digest(bytes.data(), bytes.size(), digest, &length, library.sha256(), nullptr) != 1) {
    return {};
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

AuditLog::AuditLog(std::string directory, std::size_t rotateBytes, int keep)
    : directory_(std::move(directory)), rotateBytes_(rotateBytes), keep_(keep) {}

std::string AuditLog::path(int generation) const {
  std::string name = directory_ + "audit.log";
  return generation == 0 ? name : name + "." + std::to_string(generation);
}

bool AuditLog::append(std::string_view body, std::string* hash, std::string* error) {
  std::string lockPath = directory_ + "audit.lock";
  Descriptor lock{open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kLogMode)};
  if (lock.fd < 0) {
    *error = failure("cannot open", lockPath);
    return false;
  }
  while (flock(lock.fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      *error = failure("cannot lock", lockPath);
      return false;
    }
  }
  std::string current;
  // A log just rotated is empty or missing: the chain goes on from the last.
  bool inCurrent = readFile(path(0), &current) && !current.empty();
  if (!inCurrent) (void)readFile(path(1), &current);
  // A line cut off by a crash is ended first, so that the check finds it.
  bool cutOff = inCurrent && current.back() != '\n';
  std::string previous =
      current.empty() ? std::string(kHashLength, '0') : sha256Hex(lastLine(current));
  std::string line = std::string(kPrevPrefix) + previous + "\"," + std::string(body) + "}";
  if (rotateIfFull()) cutOff = false;
  Descriptor log{open(path(0).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                      kLogMode)};
  if (log.fd < 0) {
    *error = failure("cannot open", path(0));
    return false;
  }
  if (!writeAll(log.fd, (cutOff ? "\n" : "") + line + "\n")) {
    *error = failure("cannot write", path(0));
    return false;
  }
  *hash = sha256Hex(line);
  return true;
}

bool AuditLog::rotateIfFull() const {
  struct stat info;
  if (lstat(path(0).c_str(), &info) != 0 || static_cast<std::size_t>(info.st_size) < rotateBytes_) {
    return false;
  }
  for (int generation = keep_; generation > 0; --generation) {
    (void)rename(path(generation - 1).c_str(), path(generation).c_str());
  }
  return true;
}

AuditLog::Contents AuditLog::read() const {
  Contents contents;
  for (int generation = keep_; generation >= 0; --generation) {
    std::string bytes;
    if (!readFile(path(generation), &bytes)) continue;
    std::string_view rest = bytes;
    for (int number = 1; !rest.empty(); ++number) {
      std::size_t feed = rest.find('\n');
      std::string_view line = rest.substr(0, feed);
      rest.remove_prefix(feed == std::string_view::npos ? rest.size() : feed + 1);
      bool linked = feed != std::string_view::npos && !namedPrevious(line).empty() &&
                    (contents.lines.empty() ||
                     namedPrevious(line) == sha256Hex(contents.lines.back()));
      if (!linked && contents.intact) {
        contents.intact = false;
        contents.brokenAt = path(generation).substr(directory_.size()) + ":" +
                            std::to_string(number);
      }
      contents.lines.emplace_back(line);
    }
  }
  return contents;
}

}  // namespace steward
