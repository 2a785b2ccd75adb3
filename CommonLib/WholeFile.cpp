#include "CommonLib/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace steward {

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
