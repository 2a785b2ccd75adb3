#include "CommonLib/SyslogUtilities.h"

#include <signal.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>

#include "CommonLib/ProcessUtilities.h"
#include "CommonLib/WholeFile.h"
#include "platform/AtomicFile.h"
#include "platform/Format.h"

namespace steward {

namespace {

struct NameCode {
  const char* name;
  int code;
};

// Searched in this order: a name finds its first row, a code its first row.
constexpr NameCode kFacilities[] = {
    {"auth", 32},     {"authpriv", 80}, {"cron", 72},    {"daemon", 24},
    {"ftp", 88},      {"install", 112}, {"kern", 0},     {"lpr", 48},
    {"mail", 16},     {"mark", 200},    {"dirinfo", 96}, {"ras", 120},
    {"remoteauth", 104}, {"news", 56},  {"security", 32}, {"syslog", 40},
    {"user", 8},      {"uucp", 64},     {"local0", 128}, {"local1", 136},
    {"local2", 144},  {"local3", 152},  {"local4", 160}, {"local5", 168},
    {"local6", 176},  {"local7", 184},  {"startd", 192},
};

constexpr NameCode kLevels[] = {
    {"alert", 1}, {"crit", 2},  {"debug", 7},   {"emerg", 0},
    {"err", 3},   {"error", 3}, {"info", 6},    {"none", 16},
    {"notice", 5}, {"panic", 0}, {"warn", 4},   {"warning", 4},
};

constexpr int kLevelAll = 7;  // "*"

template <std::size_t N>
int codeForName(const NameCode (&table)[N], std::string_view name) {
  for (const NameCode& row : table) {
    if (name.size() == std::char_traits<char>::length(row.name) &&
        strncasecmp(name.data(), row.name, name.size()) == 0) {
      return row.code;
    }
  }
  return -1;
}

template <std::size_t N>
std::optional<std::string> nameForCode(const NameCode (&table)[N], int code) {
  for (const NameCode& row : table) {
    if (row.code == code) return row.name;
  }
  return std::nullopt;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The next run of non-blanks from `*at`, after any blanks; empty at the end.
std::string_view nextWord(std::string_view line, std::size_t* at) {
  std::size_t start = *at;
  while (start < line.size() && isBlank(line[start])) ++start;
  std::size_t end = start;
  while (end < line.size() && !isBlank(line[end])) ++end;
  *at = end;
  return line.substr(start, end - start);
}

// The facility that a solitary selector's line names: "mark" and "*" share
// a slot, and an edit of one must not touch the other's lines.
int facilityOfLine(std::string_view line) {
  std::size_t at = 0;
  std::string_view selector = nextWord(line, &at);
  return SyslogUtilities::syslogFacilityForString(selector.substr(0, selector.find('.')));
}

bool isWritableAction(std::string_view action) {
  return !action.empty() &&
         action.find_first_of(" \t\n\r#") == std::string_view::npos;
}

}  // namespace

SyslogUtilities::SyslogUtilities(std::optional<std::string> path,
                                 SyslogDaemon daemon)
    : _configPath(path ? std::move(*path) : kDefaultConfigPath),
      _daemon(std::move(daemon)) {}

int SyslogUtilities::syslogFacilityForString(std::string_view name) {
  if (name == "*") return kAllFacilities;
  return codeForName(kFacilities, name);
}

int SyslogUtilities::syslogLevelForString(std::string_view name) {
  if (name == "*") return kLevelAll;
  return codeForName(kLevels, name);
}

std::optional<std::string> SyslogUtilities::stringForSyslogFacility(int facility) {
  if (facility == kAllFacilities) return "*";
  return nameForCode(kFacilities, facility);
}

std::optional<std::string> SyslogUtilities::stringForSyslogLevel(int level) {
  return nameForCode(kLevels, level);
}

int SyslogUtilities::_indexForFacility(int facility) {
  if (facility == kAllFacilities) return kSlotCount - 1;
  if (facility < 0) return -1;
  int index = (facility & kAllFacilities) >> 3;
  return index < kSlotCount ? index : -1;
}

int SyslogUtilities::_facilityForIndex(int index) {
  if (index == kSlotCount - 1) return kAllFacilities;
  if (index < 0 || index >= kSlotCount) return -1;
  return index * 8;
}

void SyslogUtilities::_initSelectors() { _selectors.emplace(); }

SyslogUtilities::SelectorList* SyslogUtilities::_arrayForFacility(int facility,
                                                                  bool create) {
  if (!_selectors && !_readFileFromPath()) return nullptr;
  int index = _indexForFacility(facility);
  if (index < 0) return nullptr;
  std::optional<SelectorList>& slot = (*_selectors)[static_cast<std::size_t>(index)];
  if (!slot) {
    if (!create) return nullptr;
    slot.emplace();
  }
  return &*slot;
}

bool SyslogUtilities::_readFileFromPath() {
  std::string text;
  if (!readWholeFile(_configPath, &text)) {
    // Nothing is known: every later use tries to load again, and no edit
    // can write back a file that was never read.
    _selectors.reset();
    _lines.clear();
    return false;
  }
  readText(text);
  return true;
}

void SyslogUtilities::readText(std::string_view text) {
  _initSelectors();
  _lines.clear();
  for (std::string_view line : linesOf(text)) _lines.emplace_back(line);
  while (!_lines.empty() && _lines.back().empty()) _lines.pop_back();
  for (const std::string& line : _lines) {
    std::string parsed = line.substr(0, line.find('#'));
    if (!parsed.empty() && isBlank(parsed[0])) parsed.erase(0, 1);
    _addSelectorsFromLine(parsed, parsed == line);
  }
}

void SyslogUtilities::_addSelectorsFromLine(const std::string& line,
                                            bool lineIsExact) {
  std::size_t at = 0;
  std::string_view field = nextWord(line, &at);
  std::string_view action = nextWord(line, &at);
  if (field.empty() || action.empty()) return;
  std::vector<std::string_view> selectors = piecesOf(field, ";");
  for (std::string_view selector : selectors) {
    std::vector<std::string_view> pieces = piecesOf(selector, ".");
    if (pieces.size() < 2) continue;
    int level = syslogLevelForString(pieces[1]);
    if (level < 0) continue;
    std::vector<std::string_view> facilities = piecesOf(pieces[0], ",");
    bool solitary = lineIsExact && selectors.size() == 1 && facilities.size() == 1;
    for (std::string_view name : facilities) {
      int facility = syslogFacilityForString(name);
      if (facility < 0) continue;
      SelectorList* list = _arrayForFacility(facility, true);
      if (!list) continue;
      list->push_back(std::make_shared<SyslogSelector>(
          level, std::string(action), line, solitary));
    }
  }
}

int SyslogUtilities::levelForFacility(int facility) {
  SelectorList* list = _arrayForFacility(facility, false);
  if (!list) return -1;
  int highest = -1;
  for (const SelectorRef& selector : *list) {
    if (!selector->action().starts_with("/var/log")) continue;
    if (selector->solitary()) return selector->level();
    highest = std::max(highest, selector->level());
  }
  return highest;
}

std::optional<std::vector<std::string>> SyslogUtilities::actionsForFacility(
    int facility, int level) {
  SelectorList* list = _arrayForFacility(facility, false);
  if (!list) return std::nullopt;
  std::vector<std::string> actions;
  for (const SelectorRef& selector : *list) {
    if (selector->level() >= level) actions.push_back(selector->action());
  }
  if (actions.empty()) return std::nullopt;
  return actions;
}

std::optional<std::string> SyslogUtilities::levelNameForFacilityName(
    std::string_view name) {
  int level = levelForFacility(syslogFacilityForString(name));
  if (level == -1) return std::nullopt;
  if (level == kLevelAll) return "debug";
  return stringForSyslogLevel(level);
}

std::string SyslogUtilities::description() const {
  std::string text = stringWithFormat("<SyslogUtilities: %p>: [%@]\n",
                                      static_cast<const void*>(this), _configPath);
  if (!_selectors) return text;
  for (int index = kSlotCount - 1; index >= 0; --index) {
    const std::optional<SelectorList>& slot = (*_selectors)[static_cast<std::size_t>(index)];
    if (!slot) continue;
    std::string name = stringForSyslogFacility(_facilityForIndex(index)).value_or("(null)");
    for (const SelectorRef& selector : *slot) {
      text += stringWithFormat("\t%@ = %@\n", name, selector->description());
    }
  }
  return text;
}

// Editing.

std::string SyslogUtilities::_lineForFacility(int facility, int level,
                                              const std::string& action) const {
  std::string selector = stringWithFormat(
      "%@.%@", stringForSyslogFacility(facility).value_or(""),
      level == kLevelAll ? std::string("*") : stringForSyslogLevel(level).value_or(""));
  static constexpr std::string_view kTabs = "\t\t\t\t\t\t\t";
  std::size_t tabs = std::max<std::ptrdiff_t>(
      1, 7 - static_cast<std::ptrdiff_t>(selector.size() / 8));
  std::string line = stringWithFormat("%@%@%@", selector, kTabs.substr(0, tabs), action);
  std::fputs(stringWithFormat("new syslog line:\n%@\n", line).c_str(), stderr);
  return line;
}

bool SyslogUtilities::setLevel(int level, int facility,
                               const std::optional<std::string>& action) {
  if (!action) return removeActionsForFacility(facility);
  bool named = (level >= 0 && level <= 7) || level == kLevelNone;
  if (!named || !stringForSyslogFacility(facility) || !isWritableAction(*action)) {
    return false;
  }
  SelectorList* list = _arrayForFacility(facility, true);
  if (!list) return false;
  std::string newLine = _lineForFacility(facility, level, *action);
  bool handled = false;
  bool changed = false;
  for (const SelectorRef& selector : *list) {
    if (!selector->solitary() || selector->action() != *action ||
        facilityOfLine(selector->line()) != facility) {
      continue;
    }
    handled = true;
    if (selector->level() == level) continue;
    auto entry = std::find(_lines.begin(), _lines.end(), selector->line());
    selector->setLevel(level);
    selector->setLine(newLine);
    if (entry != _lines.end()) {
      *entry = newLine;
    } else {
      _lines.push_back(newLine);
    }
    changed = true;
  }
  if (!handled) {
    list->push_back(std::make_shared<SyslogSelector>(level, *action, newLine, true));
    _lines.push_back(newLine);
    changed = true;
  }
  _dirty = _dirty || changed;
  return changed;
}

bool SyslogUtilities::removeActionsForFacility(int facility) {
  SelectorList* list = _arrayForFacility(facility, false);
  if (!list) return false;
  for (const SelectorRef& selector : *list) {
    if (!selector->solitary() || facilityOfLine(selector->line()) != facility) continue;
    std::erase(_lines, selector->line());
  }
  (*_selectors)[static_cast<std::size_t>(_indexForFacility(facility))].reset();
  _dirty = true;
  return true;
}

bool SyslogUtilities::setLevelName(std::string_view levelName,
                                   std::string_view facilityName,
                                   const std::optional<std::string>& action) {
  return setLevel(syslogLevelForString(levelName),
                  syslogFacilityForString(facilityName), action);
}

bool SyslogUtilities::removeActionsForFacilityName(std::string_view facilityName) {
  return removeActionsForFacility(syslogFacilityForString(facilityName));
}

std::string SyslogUtilities::text() const {
  std::string text;
  for (std::size_t i = 0; i < _lines.size(); ++i) {
    if (i > 0) text += '\n';
    text += _lines[i];
  }
  if (text.empty() || text.back() != '\n') text += '\n';
  return text;
}

bool SyslogUtilities::recycle() {
  if (!_dirty) return _readFileFromPath();
  if (!writeFileAtomically(_configPath, text())) return false;
  int pid = find_daemon_pid(_daemon.pidFile.c_str(), _daemon.processName.c_str());
  if (pid <= 0) return false;
  kill(pid, SIGHUP);
  return true;
}

}  // namespace steward
