#include "CommonLib/HostConfigUtilities.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include "CommonLib/WholeFile.h"
#include "platform/AtomicFile.h"
#include "platform/Format.h"

namespace steward {

namespace {

std::string_view trimSpacesAndTabs(std::string_view line) {
  std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos) return {};
  std::size_t end = line.find_last_not_of(" \t");
  return line.substr(start, end - start + 1);
}

bool isEntryOf(std::string_view trimmed, std::string_view key) {
  return trimmed.size() > key.size() && trimmed.starts_with(key) &&
         trimmed[key.size()] == '=';
}

bool isWritableEntry(std::string_view key, std::string_view value) {
  return !key.empty() && key.find_first_of("= \t\n") == std::string_view::npos &&
         value.find_first_of("=\n") == std::string_view::npos;
}

}  // namespace

HostConfigUtilities::HostConfigUtilities(std::string configPath)
    : _configPath(std::move(configPath)) {}

std::unique_ptr<HostConfigUtilities> HostConfigUtilities::hostConfigUtilities() {
  return std::make_unique<HostConfigUtilities>();
}

bool HostConfigUtilities::valueForKeyInText(std::string_view text,
                                            std::string_view key,
                                            std::string* value,
                                            std::string* badLine) {
  for (std::string_view line : linesOf(text)) {
    std::string_view trimmed = trimSpacesAndTabs(line);
    if (!isEntryOf(trimmed, key)) continue;
    std::string_view rest = trimmed.substr(key.size() + 1);
    if (rest.find('=') != std::string_view::npos) {
      *badLine = std::string(trimmed);
      return false;
    }
    *value = std::string(rest);
    return true;
  }
  value->clear();
  return true;
}

std::string HostConfigUtilities::textWithEntry(std::string_view text,
                                               std::string_view key,
                                               std::string_view newValue) {
  std::string entry = stringWithFormat("%@=%@", key, newValue);
  std::string result;
  result.reserve(text.size() + entry.size() + 2);
  bool found = false;
  for (std::string_view line : linesOf(text)) {
    std::string_view trimmed = trimSpacesAndTabs(line);
    if (isEntryOf(trimmed, key)) {
      result += entry;
      found = true;
    } else {
      result += trimmed;
    }
    result += '\n';
  }
  result.pop_back();  // the line feed after the last piece
  if (!found) {
    if (!result.empty() && result.back() != '\n') result += '\n';
    result += entry;
    result += '\n';
  }
  return result;
}

bool HostConfigUtilities::getValueForKey(std::string_view key,
                                         std::string* value) const {
  if (key.empty() || !value) return false;
  std::string text;
  if (!readWholeFile(_configPath, &text)) text.clear();
  std::string badLine;
  if (valueForKeyInText(text, key, value, &badLine)) return true;
  std::string message =
      stringWithFormat("Error: bad line in %@:\n%@\n", _configPath, badLine);
  std::fputs(message.c_str(), stderr);
  return false;
}

bool HostConfigUtilities::setOrAddEntryForKey(std::string_view key,
                                              std::string_view newValue) const {
  if (!isWritableEntry(key, newValue)) return false;
  std::string text;
  int errorNumber = 0;
  if (!readWholeFile(_configPath, &text, &errorNumber)) {
    if (errorNumber != ENOENT) return false;
    text.clear();
  }
  return writeFileAtomically(_configPath, textWithEntry(text, key, newValue));
}

}  // namespace steward
