#include "CommonLib/PerformanceExtensions.h"

#include <sys/stat.h>

namespace steward {

namespace {

bool statStructForFileAtPath(const std::string& path, struct stat* status) {
  return ::lstat(path.c_str(), status) == 0;
}

}  // namespace

DateRef modificationDateAtPath(const std::string& path) {
  struct stat status;
  if (!statStructForFileAtPath(path, &status)) return nullptr;
  return Date::fromUnixTime(static_cast<double>(status.st_mtim.tv_sec));
}

}  // namespace steward
