// SyslogSelector: one facility-level-action triple of the system log
// configuration, with the line it came from. SyslogUtilities files it under
// each facility that the line names.
#pragma once

#include <string>

namespace steward {

class SyslogSelector {
 public:
  // initWithLevel:action:line:solitary:
  SyslogSelector(int level, std::string action, std::string line,
                 bool solitary);

  SyslogSelector(const SyslogSelector&) = delete;
  SyslogSelector& operator=(const SyslogSelector&) = delete;

  // The text by which the editing operations find the selector's line among
  // the file's lines: the parsed line (comment cut away, one leading blank
  // removed) or, for a selector created by an edit, the composed line.
  const std::string& line() const { return _line; }
  void setLine(std::string line) { _line = std::move(line); }

  // Always 0 to 7: a negative level is held as 0, any other as its low
  // three bits, so "none" (16) is held as 0.
  int level() const { return _level; }
  void setLevel(int level);
  // The level table's name of the level ("emerg", ..., "debug").
  std::string levelString() const;

  const std::string& action() const { return _action; }

  // The selector's line serves it alone, so an edit may replace or delete
  // the whole line for it.
  bool solitary() const { return _solitary; }

  // "<SyslogSelector: ADDRESS>: [LEVEL] - (ACTION)"
  std::string description() const;

 private:
  bool _solitary;
  std::string _line;
  int _level = 0;
  std::string _action;
};

}  // namespace steward
