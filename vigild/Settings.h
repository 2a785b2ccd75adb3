// The daemon's settings, read from /etc/vigild.conf: an XML property list
// whose root is a dictionary, written whole by the request tool's "email"
// command. The keys are listed in README.md. Parsing is separate from
// reading the file, so tests use trees.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "platform/PropertyValue.h"

namespace steward::vigild {

inline constexpr const char* kSettingsPath = "/etc/vigild.conf";

// The worst state a sensor can be in; the order matters.
enum class Level { kOk, kWarning, kCritical };

// "ok", "warning" or "critical".
const char* levelName(Level level);

// What "Email" says about alarm mail.
struct MailSettings {
  bool enabled = false;  // "Enabled", and at least one recipient
  std::vector<std::string> recipients = {};
  std::string sender = {};  // "" lets the mail system choose
  std::string subjectPrefix = "[vigild] ";
  Level minimumLevel = Level::kWarning;   // a sensor below it counts as ok
  std::chrono::milliseconds holdOff = std::chrono::minutes(5);
  std::chrono::milliseconds retryInterval = std::chrono::minutes(1);
  // "Localizable": the words the daemon fills in (levels, kinds) in the
  // reader's language.
  std::map<std::string, std::string> localizable = {};
  // "Responses": subject and body templates by event ("AlarmSubject",
  // "AlarmBody", "ClearSubject", "ClearBody").
  std::map<std::string, std::string> responses = {};
};

struct Settings {
  std::chrono::milliseconds pollInterval = std::chrono::seconds(10);
  MailSettings mail;
};

// The settings a tree gives. An entry of the wrong kind or out of range is
// described in *problems and its default applies; a recipient holding a
// control character is left out, as are header texts that hold one.
Settings settingsFrom(const ValueRef& root, std::vector<std::string>* problems);

enum class SettingsFile { kRead, kMissing, kBroken };

// Reads the file at `path` into *settings. kMissing leaves the defaults
// there; kBroken (no dictionary in it) leaves *settings as it was, with the
// reason in problems.
SettingsFile readSettings(const std::string& path, Settings* settings,
                          std::vector<std::string>* problems);

}  // namespace steward::vigild
