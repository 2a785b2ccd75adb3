#include "CommonLib/SyslogSelector.h"

#include "CommonLib/SyslogUtilities.h"
#include "platform/Format.h"

namespace steward {

SyslogSelector::SyslogSelector(int level, std::string action, std::string line,
                               bool solitary)
    : _solitary(solitary), _line(std::move(line)), _action(std::move(action)) {
  setLevel(level);
}

void SyslogSelector::setLevel(int level) { _level = level < 0 ? 0 : level & 7; }

std::string SyslogSelector::levelString() const {
  return SyslogUtilities::stringForSyslogLevel(_level).value_or("");
}

std::string SyslogSelector::description() const {
  return stringWithFormat("<SyslogSelector: %p>: [%@] - (%@)",
                          static_cast<const void*>(this), levelString(), _action);
}

}  // namespace steward
