#include "vigild/Settings.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <optional>

#include "platform/PropertyList.h"

namespace steward::vigild {
namespace {

using std::chrono::milliseconds;

bool hasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
  });
}

// Reads the entries of one dictionary, noting what is wrong with them.
class Reader {
 public:
  Reader(DictionaryRef dictionary, std::string where, std::vector<std::string>* problems)
      : dictionary_(std::move(dictionary)), where_(std::move(where)), problems_(problems) {}

  ValueRef entry(const char* key) const {
    return dictionary_ ? dictionary_->objectForKey(key) : nullptr;
  }

  void problem(const char* key, const std::string& what) const {
    problems_->push_back(where_ + key + ": " + what);
  }

  // Seconds within [low, high], as an integer or real number.
  void duration(const char* key, double low, double high, milliseconds* out) const {
    ValueRef value = entry(key);
    if (!value) return;
    std::optional<double> seconds;
    if (auto integer = as<Integer>(value)) seconds = static_cast<double>(integer->value());
    if (auto real = as<Real>(value)) seconds = real->value();
    if (!seconds || !(*seconds >= low && *seconds <= high)) {
      return problem(key, "not a number of seconds from " + textOf(makeReal(low)) + " to " +
                              textOf(makeReal(high)));
    }
    *out = milliseconds(std::llround(*seconds * 1000));
  }

  void boolean(const char* key, bool* out) const {
    ValueRef value = entry(key);
    if (!value) return;
    if (auto flag = as<Boolean>(value)) {
      *out = flag->value();
    } else {
      problem(key, "not a boolean");
    }
  }

  // A text that goes into a mail header: no control characters.
  void headerText(const char* key, std::string* out) const {
    ValueRef value = entry(key);
    if (!value) return;
    auto text = as<String>(value);
    if (!text || hasControlCharacter(text->str())) return problem(key, "not a one-line string");
    *out = text->str();
  }

  void texts(const char* key, std::map<std::string, std::string>* out) const {
    ValueRef value = entry(key);
    if (!value) return;
    auto table = as<Dictionary>(value);
    if (!table) return problem(key, "not a dictionary");
    for (const auto& [name, text] : table->entries()) {
      if (auto string = as<String>(text)) (*out)[name] = string->str();
      else problem(key, name + " is not a string");
    }
  }

  // One string, or an array of them; commas separate addresses in a string.
  void recipients(const char* key, std::vector<std::string>* out) const {
    ValueRef value = entry(key);
    if (!value) return;
    std::vector<ValueRef> items = {value};
    if (auto array = as<Array>(value)) items = array->objects();
    for (const ValueRef& item : items) {
      auto text = as<String>(item);
      if (!text) {
        problem(key, "holds something other than a string");
        continue;
      }
      std::string_view rest = text->str();
      while (!rest.empty()) {
        std::string_view address = rest.substr(0, rest.find(','));
        rest.remove_prefix(std::min(rest.size(), address.size() + 1));
        address.remove_prefix(std::min(address.size(), address.find_first_not_of(' ')));
        address = address.substr(0, address.find_last_not_of(' ') + 1);
        if (hasControlCharacter(address)) {
          problem(key, "an address holding a control character is left out");
        } else if (!address.empty()) {
          out->emplace_back(address);
        }
      }
    }
  }

 private:
  DictionaryRef dictionary_;
  std::string where_;
  std::vector<std::string>* problems_;
};

MailSettings mailSettingsFrom(const ValueRef& email, std::vector<std::string>* problems) {
  MailSettings mail;
  if (!email) return mail;
  Reader reader(as<Dictionary>(email), "Email:", problems);
  if (!as<Dictionary>(email)) {
    problems->push_back("Email: not a dictionary");
    return mail;
  }
  bool enabled = true;
  reader.boolean("Enabled", &enabled);
  reader.recipients("Recipients", &mail.recipients);
  reader.headerText("Sender", &mail.sender);
  reader.headerText("SubjectPrefix", &mail.subjectPrefix);
  if (ValueRef level = reader.entry("MinimumLevel")) {
    std::string name = textOf(level);
    if (as<String>(level) && (name == "warning" || name == "critical")) {
      mail.minimumLevel = name == "warning" ? Level::kWarning : Level::kCritical;
    } else {
      reader.problem("MinimumLevel", "neither \"warning\" nor \"critical\"");
    }
  }
  reader.duration("HoldOff", 0, 86400, &mail.holdOff);
  reader.duration("RetryInterval", 0.01, 86400, &mail.retryInterval);
  reader.texts("Localizable", &mail.localizable);
  reader.texts("Responses", &mail.responses);
  mail.enabled = enabled && !mail.recipients.empty();
  return mail;
}

}  // namespace

const char* levelName(Level level) {
  switch (level) {
    case Level::kOk: return "ok";
    case Level::kWarning: return "warning";
    case Level::kCritical: return "critical";
  }
  return "ok";
}

Settings settingsFrom(const ValueRef& root, std::vector<std::string>* problems) {
  Settings settings;
  auto dictionary = as<Dictionary>(root);
  Reader(dictionary, "", problems).duration("PollInterval", 0.05, 3600, &settings.pollInterval);
  settings.mail = mailSettingsFrom(dictionary ? dictionary->objectForKey("Email") : nullptr,
                                   problems);
  return settings;
}

SettingsFile readSettings(const std::string& path, Settings* settings,
                          std::vector<std::string>* problems) {
  if (access(path.c_str(), F_OK) != 0 && errno == ENOENT) {
    *settings = Settings();
    return SettingsFile::kMissing;
  }
  std::string error;
  ValueRef root = propertyListFromFile(path, Mutability::kImmutable, nullptr, &error);
  if (!as<Dictionary>(root)) {
    problems->push_back(root ? path + ": not a dictionary" : error);
    return SettingsFile::kBroken;
  }
  *settings = settingsFrom(root, problems);
  return SettingsFile::kRead;
}

}  // namespace steward::vigild
