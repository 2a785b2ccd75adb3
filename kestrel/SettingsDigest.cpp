#include "kestrel/SettingsDigest.h"

#include <fstream>
#include <iterator>

#include "host/AuditLog.h"
#include "kestrel/ChangeReport.h"

namespace steward {

namespace {

ValueRef digestOf(const std::optional<std::string>& bytes) {
  return bytes ? makeString(sha256Hex(*bytes)) : nullptr;
}

}  // namespace

std::optional<std::string> settingsFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (file.bad()) return std::nullopt;
  return bytes;
}

DictionaryRef verifiedSettingsFile(const std::string& path, std::string_view written,
                                   const std::optional<std::string>& previous) {
  return makeVerified(makeString(sha256Hex(written)), digestOf(settingsFileBytes(path)),
                      digestOf(previous));
}

}  // namespace steward
