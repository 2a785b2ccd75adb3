// SyslogUtilities: the system log daemon's configuration file in memory,
// with queries and edits. The file's lines are kept exactly as read; each
// facility has the list of selectors that name it, with level and action.
// Queries tell at which level a facility's messages reach files under
// "/var/log" and which actions receive its messages of a level. Edits work
// on the lines and lists only; `recycle` writes the file back (atomically)
// and makes the running daemon reload it with SIGHUP.
//
// Selector lists live in 26 slots, one per facility code divided by 8;
// "*" (all facilities, code 1016) shares slot 25 with "mark". A selector of
// several facilities is filed under each; one for "*" only in slot 25.
//
// A selector is solitary when its line serves it alone: the line holds this
// one selector of one facility, with no comment and no leading blank. Edits
// replace or delete only solitary selectors' lines, so a line shared with
// other selectors or carrying a comment is never rewritten; a new line is
// appended instead. One model is used by one thread.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CommonLib/SyslogSelector.h"

namespace steward {

// The log daemon that `recycle` signals, found through its pid file and the
// process table; tests name a harmless process.
struct SyslogDaemon {
  std::string pidFile = "/var/run/syslogd.pid";
  std::string processName = "syslogd";
};

class SyslogUtilities {
 public:
  static constexpr const char* kDefaultConfigPath = "/etc/syslog.conf";
  static constexpr int kAllFacilities = 1016;  // "*", the facility mask
  static constexpr int kLevelNone = 16;        // "none"
  static constexpr int kSlotCount = 26;

  // initWithPath: the file is read on first use.
  explicit SyslogUtilities(std::optional<std::string> path = std::nullopt,
                           SyslogDaemon daemon = {});

  SyslogUtilities(const SyslogUtilities&) = delete;
  SyslogUtilities& operator=(const SyslogUtilities&) = delete;

  // Name tables. Names are compared ignoring case; "*" (exactly) is 1016,
  // respectively level 7. -1, or none, for anything not in the tables.
  static int syslogFacilityForString(std::string_view name);
  static int syslogLevelForString(std::string_view name);
  static std::optional<std::string> stringForSyslogFacility(int facility);
  static std::optional<std::string> stringForSyslogLevel(int level);

  // The level at which the facility's messages reach files under "/var/log":
  // the first solitary such selector's level, else the highest level of
  // them; -1 when none (or the file cannot be loaded).
  int levelForFacility(int facility);
  // The actions of the facility's selectors whose level is at least
  // `level`, in order; none when there are none.
  std::optional<std::vector<std::string>> actionsForFacility(int facility,
                                                             int level);
  // levelForFacility by names: the level's name, or none.
  std::optional<std::string> levelNameForFacilityName(std::string_view name);

  // Sets the level at which the facility's messages go to `action`: changes
  // the solitary selectors of that action in place (their lines replaced by
  // a composed line) or appends a composed line "FACILITY.LEVEL<tabs>ACTION"
  // with the action at column 56. No action removes the facility's actions.
  // False when nothing changed: the level or facility has no name, the file
  // cannot be loaded, the level is already set, or the action is empty or
  // holds a blank, line feed or "#" (it would not read back as one action).
  bool setLevel(int level, int facility,
                const std::optional<std::string>& action);
  // Deletes the lines of the facility's solitary selectors and forgets all
  // its selectors (those of "mark" and "*" together, though only the given
  // one's lines go); the others' lines stay and their selectors return at
  // the next load. False when it had none.
  bool removeActionsForFacility(int facility);
  bool setLevelName(std::string_view levelName, std::string_view facilityName,
                    const std::optional<std::string>& action);
  bool removeActionsForFacilityName(std::string_view facilityName);

  // Without unsaved edits: reloads the file and answers whether it loaded.
  // Otherwise writes the lines back, each ending in a line feed, and sends
  // SIGHUP to the running daemon: true when it was found and signalled;
  // false when the write failed (then nothing is signalled) or no daemon
  // runs. Edits stay marked unsaved, so every later recycle writes again.
  bool recycle();

  // "<SyslogUtilities: ADDRESS>: [PATH]" and a line "\tFACILITY = SELECTOR"
  // per selector, slots from 25 down to 0.
  std::string description() const;

  // Loads the model from a configuration text, as from the file.
  void readText(std::string_view text);
  // The text that `recycle` writes.
  std::string text() const;
  const std::vector<std::string>& lines() const { return _lines; }
  bool dirty() const { return _dirty; }
  const std::string& configPath() const { return _configPath; }

 private:
  using SelectorRef = std::shared_ptr<SyslogSelector>;
  using SelectorList = std::vector<SelectorRef>;

  static int _facilityForIndex(int index);
  // The code's slot, or -1.
  static int _indexForFacility(int facility);
  void _initSelectors();
  // The facility's list, loading the file first when nothing is loaded; null
  // when the code has no slot, the file cannot be loaded, or (unless
  // `create`) the slot is empty.
  SelectorList* _arrayForFacility(int facility, bool create);
  void _addSelectorsFromLine(const std::string& line, bool lineIsExact);
  // Loads `_configPath`; on failure nothing is known (no slots, no lines).
  bool _readFileFromPath();
  std::string _lineForFacility(int facility, int level,
                               const std::string& action) const;

  std::string _configPath;
  std::vector<std::string> _lines;
  std::optional<std::array<std::optional<SelectorList>, kSlotCount>> _selectors;
  bool _dirty = false;
  SyslogDaemon _daemon;
};

}  // namespace steward
