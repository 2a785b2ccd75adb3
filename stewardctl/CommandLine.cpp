#include "stewardctl/CommandLine.h"

#include <cstdio>
#include <cstdlib>

#include "platform/CivilTime.h"
#include "platform/PropertyList.h"

namespace steward::ctl {

const char kUsage[] =
    "usage: stewardctl discover [--wait SECONDS] [--json]\n"
    "       stewardctl [-H HOST]... [--all] [OPTIONS] COMMAND\n"
    "commands: status | identify on [--for SECONDS [--reason TEXT]] | identify off\n"
    "          | restart|shutdown [--force] [--delay S] [--message TEXT] [--force-after S]\n"
    "          | power status | power cancel | boot get | boot list\n"
    "          | boot set VALUE [--once] | boot clear-once | profile | email get\n"
    "          | email set FILE | email test | raw FILE\n"
    "          | audit [--since YYYY-MM-DD[THH:MM:SS]]  (UTC)\n"
    "options:  --json | --plist    output for programs\n"
    "          --dry-run           show what a change would do, change nothing\n"
    "          --cacert FILE       trust this certificate authority\n"
    "          --timeout SECONDS   per host (10)    --parallel N  hosts at once (16)\n"
    "          --yes               no confirmation for restart, shutdown, boot set, email set\n"
    "Credentials come from ~/.netrc, else a prompt.\n";

namespace {

bool parseNumber(const std::string& text, double low, double high, double* out) {
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(value >= low && value <= high)) return false;
  *out = value;
  return true;
}

DictionaryRef commandOnly(const char* name) {
  auto request = makeMutableDictionary();
  request->setObject(makeString(name), "command");
  return request;
}

DictionaryRef withEntry(const char* name, ValueRef value, const char* key) {
  auto request = makeMutableDictionary();
  request->setObject(makeString(name), "command");
  request->setObject(std::move(value), key);
  return request;
}

// A flag of a command and the request entry it becomes.
struct Flag {
  const char* word;
  const char* key;
  enum Kind { kForce, kSeconds, kText } kind;
};

constexpr Flag kLightFlags[] = {{"--for", "seconds", Flag::kSeconds},
                                {"--reason", "reason", Flag::kText}};
constexpr Flag kPowerFlags[] = {{"--force", "mode", Flag::kForce},
                                {"--delay", "delay", Flag::kSeconds},
                                {"--message", "message", Flag::kText},
                                {"--force-after", "forceAfter", Flag::kSeconds}};

// Adds the flags in command[from...] to *request; the service checks the
// ranges, this only that seconds are whole numbers.
template <std::size_t N>
bool addFlags(const std::vector<std::string>& command, std::size_t from, const Flag (&flags)[N],
              MutableDictionary* request, std::string* error) {
  for (std::size_t i = from; i < command.size(); ++i) {
    const Flag* flag = nullptr;
    for (const auto& f : flags) flag = command[i] == f.word ? &f : flag;
    if (!flag || request->objectForKey(flag->key)) {
      *error = flag ? command[i] + " given twice" : "unexpected \"" + command[i] + "\"";
      return false;
    }
    if (flag->kind == Flag::kForce) {
      request->setObject(makeString("force"), flag->key);
      continue;
    }
    if (++i == command.size()) {
      *error = std::string(flag->word) + " needs a value";
      return false;
    }
    const std::string& text = command[i];
    if (flag->kind == Flag::kText) {
      request->setObject(makeString(text), flag->key);
      continue;
    }
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) {
      *error = std::string(flag->word) + " takes whole seconds, not \"" + text + "\"";
      return false;
    }
    request->setObject(makeInteger(std::stoll(text)), flag->key);
  }
  return true;
}

DictionaryRef withFlags(DictionaryRef base, const std::vector<std::string>& command,
                        std::size_t from, bool power, std::string* error) {
  auto request = base->mutableCopy();
  bool ok = power ? addFlags(command, from, kPowerFlags, request.get(), error)
                  : addFlags(command, from, kLightFlags, request.get(), error);
  return ok ? request : nullptr;
}

// "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SS", UTC, as a date; none otherwise.
ValueRef dateOf(const std::string& text) {
  int year = 0, length = 0;
  unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool dateOnly = std::sscanf(text.c_str(), "%4d-%2u-%2u%n", &year, &month, &day, &length) == 3 &&
                  static_cast<std::size_t>(length) == text.size();
  bool full = std::sscanf(text.c_str(), "%4d-%2u-%2uT%2u:%2u:%2u%n", &year, &month, &day, &hour,
                          &minute, &second, &length) == 6 &&
              static_cast<std::size_t>(length) == text.size();
  if ((!dateOnly && !full) || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 ||
      second > 59 ||
      day > daysFromCivil(year + (month == 12), month % 12 + 1, 1) - daysFromCivil(year, month, 1)) {
    return nullptr;
  }
  double unix = static_cast<double>(daysFromCivil(year, month, day)) * 86400 + hour * 3600 +
                minute * 60 + second;
  return Date::fromUnixTime(unix);
}

DictionaryRef dictionaryFromFile(const std::string& contents, std::string* error) {
  std::string reason;
  auto value = propertyListFromData(contents, Mutability::kImmutable, nullptr, &reason);
  auto dictionary = as<Dictionary>(value);
  if (!dictionary) *error = value ? "the file's root is not a dictionary" : reason;
  return dictionary;
}

}  // namespace

bool parseCommandLine(int argc, const char* const* argv, Options* options,
                      std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        *error = arg + " needs a value";
        return false;
      }
      *out = argv[++i];
      return true;
    };
    std::string text;
    double number = 0;
    if (arg == "--") {
      options->command.insert(options->command.end(), argv + i + 1, argv + argc);
      break;
    }
    if (arg.empty() || arg[0] != '-' || arg == "-") {
      options->command.push_back(arg);
    } else if (arg == "-H" || arg == "--host") {
      if (!value(&text)) return false;
      bool known = false;
      for (const auto& host : options->hosts) known = known || host == text;
      if (!known) options->hosts.push_back(text);
    } else if (arg == "--once" || arg == "--force") {  // words of the command
      options->command.push_back(arg);
    } else if (arg == "--for" || arg == "--reason" || arg == "--delay" || arg == "--message" ||
               arg == "--force-after") {
      if (!value(&text)) return false;
      options->command.insert(options->command.end(), {arg, text});
    } else if (arg == "--dry-run") {
      options->dryRun = true;
    } else if (arg == "--since") {  // the audit view's, kept with the command
      if (!value(&text)) return false;
      options->command.insert(options->command.end(), {arg, text});
    } else if (arg == "--all") {
      options->all = true;
    } else if (arg == "--yes" || arg == "-y") {
      options->yes = true;
    } else if (arg == "--json") {
      options->output = OutputMode::kJson;
    } else if (arg == "--plist") {
      options->output = OutputMode::kPlist;
    } else if (arg == "--cacert") {
      if (!value(&options->cacert)) return false;
    } else if (arg == "--timeout" || arg == "--wait" || arg == "--parallel") {
      if (!value(&text)) return false;
      double high = arg == "--parallel" ? 1024 : 3600;
      if (!parseNumber(text, arg == "--parallel" ? 1 : 0.1, high, &number)) {
        *error = arg + " takes a number, not \"" + text + "\"";
        return false;
      }
      if (arg == "--timeout") options->timeout = number;
      if (arg == "--wait") options->wait = number;
      if (arg == "--parallel") options->parallel = static_cast<int>(number);
    } else {
      *error = "unknown option " + arg;
      return false;
    }
  }
  if (options->command.empty()) {
    *error = "no command";
    return false;
  }
  return true;
}

DictionaryRef withRequestId(const DictionaryRef& request, const std::string& id) {
  auto command = as<String>(request->objectForKey("command"));
  const std::string name = command ? command->str() : "";
  bool kept = name == "email" || name == "serviceid" || name == "restart" || name == "shutdown" ||
              name == "setBootPath";
  auto dryRun = as<Boolean>(request->objectForKey("dryRun"));
  if (!kept || (dryRun && dryRun->value()) || request->objectForKey("requestId")) return request;
  auto copy = request->mutableCopy();
  copy->setObject(makeString(id), "requestId");
  return copy;
}

int fileArgumentIndex(const std::vector<std::string>& command) {
  if (command.size() == 3 && command[0] == "email" && command[1] == "set") return 2;
  if (command.size() == 2 && command[0] == "raw") return 1;
  return -1;
}

bool isDestructive(const Dictionary& request) {
  auto command = as<String>(request.objectForKey("command"));
  if (!command) return false;
  const std::string& name = command->str();
  if (name == "email") return request.objectForKey("email") != nullptr;
  return name == "restart" || name == "shutdown" || name == "setBootPath";
}

bool isChanging(const Dictionary& request) {
  auto command = as<String>(request.objectForKey("command"));
  const std::string name = command ? command->str() : "";
  if (name == "powerSchedule") return request.objectForKey("cancel") != nullptr;
  return name == "serviceid" || name == "email" || isDestructive(request);
}

DictionaryRef requestFor(const std::vector<std::string>& command,
                         const std::string& fileContents, std::string* error) {
  const std::string name = command.empty() ? "" : command[0];
  const std::size_t count = command.size();
  const std::string verb = count > 1 ? command[1] : "";
  if (count == 1 && (name == "status" || name == "profile")) return commandOnly(name.c_str());
  if (name == "restart" || name == "shutdown") {
    return withFlags(commandOnly(name.c_str()), command, 1, true, error);
  }
  if (name == "identify" && count == 2 && verb == "off") {
    return withEntry("serviceid", makeInteger(0), "state");
  }
  if (name == "identify" && count >= 2 && verb == "on") {
    return withFlags(withEntry("serviceid", makeInteger(1), "state"), command, 2, false, error);
  }
  if (name == "power" && count == 2 && verb == "status") return commandOnly("powerSchedule");
  if (name == "power" && count == 2 && verb == "cancel") {
    return withEntry("powerSchedule", makeBoolean(true), "cancel");
  }
  if (name == "email" && count == 2 && verb == "test") {
    return withEntry("email", makeBoolean(true), "test");
  }
  if (name == "boot" && count == 2 && verb == "get") return commandOnly("getBootPath");
  if (name == "boot" && count == 3 && verb == "set") {
    return withEntry("setBootPath", makeString(command[2]), "bootpath");
  }
  if (name == "boot" && count == 4 && verb == "set" &&
      (command[2] == "--once" || command[3] == "--once")) {
    const std::string& value = command[3] == "--once" ? command[2] : command[3];
    auto request = withEntry("setBootPath", makeString(value), "bootpath")->mutableCopy();
    request->setObject(makeBoolean(true), "once");
    return request;
  }
  if (name == "boot" && count == 2 && verb == "clear-once") {
    return withEntry("setBootPath", makeBoolean(true), "clearOnce");
  }
  if (name == "boot" && count == 2 && verb == "list") {
    return withEntry("getBootPath", makeBoolean(true), "list");
  }
  // The service keeps no separate e-mail store: its settings ride on "status".
  if (name == "email" && count == 2 && verb == "get") return commandOnly("status");
  if (name == "email" && count == 3 && verb == "set") {
    auto settings = dictionaryFromFile(fileContents, error);
    if (!settings) return nullptr;
    // The request replaces the whole settings file: a bare e-mail section
    // would wipe every other setting.
    if (!as<Dictionary>(settings->objectForKey("Email"))) {
      *error = "the file must be the whole settings file, with an \"Email\" dictionary";
      return nullptr;
    }
    return withEntry("email", settings, "email");
  }
  if (name == "audit" && count == 1) return commandOnly("getAuditLog");
  if (name == "audit" && count == 3 && verb == "--since") {
    ValueRef since = dateOf(command[2]);
    if (since) return withEntry("getAuditLog", since, "from");
    *error = "--since takes YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS, not \"" + command[2] + "\"";
    return nullptr;
  }
  if (name == "raw" && count == 2) {
    auto request = dictionaryFromFile(fileContents, error);
    if (request && !as<String>(request->objectForKey("command"))) {
      *error = "the request has no \"command\" string";
      return nullptr;
    }
    return request;
  }
  *error = "unknown command or wrong arguments: \"";
  for (std::size_t i = 0; i < count; ++i) *error += (i ? " " : "") + command[i];
  *error += "\"";
  return nullptr;
}

}  // namespace steward::ctl
