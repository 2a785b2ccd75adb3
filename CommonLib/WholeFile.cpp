#include "CommonLib/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace steward {

namespace {

bool fail(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + std::strerror(errno);
  return false;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

bool readWholeFile(const std::string& path, std::string* contents,
                   int* errorNumber) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errorNumber) *errorNumber = errno;
    return false;
  }
  std::string bytes;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (errorNumber) *errorNumber = errno;
      close(fd);
      return false;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  *contents = std::move(bytes);
  return true;
}

bool replaceFileAtomically(const std::string& path, std::string_view contents,
                           std::string* error) {
  mode_t mode = 0644;
  struct stat old;
  if (stat(path.c_str(), &old) == 0) mode = old.st_mode & 07777;

  std::string temporary = path + ".XXXXXX";
  int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return fail(error, "cannot create a file beside " + path);
  bool written = writeAll(fd, contents) && fchmod(fd, mode) == 0 &&
                 fsync(fd) == 0;
  int saved = errno;
  if (close(fd) != 0 && written) {
    written = false;
    saved = errno;
  }
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    if (written) saved = errno;
    unlink(temporary.c_str());
    errno = saved;
    return fail(error, "cannot replace " + path);
  }
  return true;
}

std::vector<std::string_view> piecesOf(std::string_view text,
                                       std::string_view separator) {
  if (separator.empty()) return {text};
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, end - start));
    start = end + separator.size();
  }
}

}  // namespace steward
