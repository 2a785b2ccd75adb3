#include "stewardctl/ReplyText.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "platform/PropertyList.h"
#include "stewardctl/ChangeText.h"
#include "stewardctl/JsonWriter.h"

namespace steward::ctl {
namespace {

std::string stringAt(const Dictionary& dictionary, const char* key) {
  auto value = as<String>(dictionary.objectForKey(key));
  return value ? value->str() : "";
}

bool numberAt(const Dictionary& dictionary, const char* key, double* out) {
  auto value = dictionary.objectForKey(key);
  if (auto real = as<Real>(value)) *out = real->value();
  else if (auto integer = as<Integer>(value)) *out = static_cast<double>(integer->value());
  else return false;
  return true;
}

bool flagAt(const Dictionary& dictionary, const char* key) {
  auto value = as<Boolean>(dictionary.objectForKey(key));
  return value && value->value();
}

// Columns line up by characters on screen, not bytes ("°C").
std::size_t width(const std::string& text) {
  std::size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

std::string padded(const std::string& text, std::size_t to) {
  std::size_t w = width(text);
  return text + std::string(to > w ? to - w : 0, ' ');
}

std::string reading(double value, const std::string& unit) {
  const char* format = unit == "RPM" || unit == "" ? "%.0f" : unit == "V" ? "%.3f" : "%.1f";
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

std::string limit(const Dictionary& sensor, const char* key, const std::string& unit) {
  double value;
  return numberAt(sensor, key, &value) ? reading(value, unit) : "-";
}

using Row = std::vector<std::string>;

void appendTable(const std::vector<Row>& rows, std::string* out) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], width(row[i]));
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) line += "  " + padded(row[i], widths[i]);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    *out += line + "\n";
  }
}

bool alarmed(const Dictionary& sensor) {
  double value, bound;
  if (flagAt(sensor, "alarm")) return true;
  if (!numberAt(sensor, "value", &value)) return false;
  return (numberAt(sensor, "crit", &bound) && value >= bound) ||
         (numberAt(sensor, "max", &bound) && value > bound) ||
         (numberAt(sensor, "min", &bound) && value < bound);
}

std::vector<DictionaryRef> dictionariesAt(const Dictionary& reply, const char* key) {
  std::vector<DictionaryRef> out;
  if (auto array = as<Array>(reply.objectForKey(key))) {
    for (const auto& item : array->objects()) {
      if (auto dictionary = as<Dictionary>(item)) out.push_back(dictionary);
    }
  }
  return out;
}

void appendSensors(const Dictionary& reply, std::string* out) {
  std::vector<std::string> kinds;
  std::map<std::string, std::vector<Row>> byKind;
  for (const auto& sensor : dictionariesAt(reply, "Sensors")) {
    std::string kind = stringAt(*sensor, "kind");
    if (kind.empty()) kind = "other";
    if (!byKind.count(kind)) kinds.push_back(kind);
    const std::string unit = stringAt(*sensor, "unit");
    double value;
    std::string shown = numberAt(*sensor, "value", &value) ? reading(value, unit) : "?";
    auto& rows = byKind[kind];
    if (rows.empty()) rows.push_back({"SENSOR", "CHIP", "VALUE", "UNIT", "MIN", "MAX", "CRIT", ""});
    rows.push_back({stringAt(*sensor, "label"), stringAt(*sensor, "chip"), shown, unit,
                    limit(*sensor, "min", unit), limit(*sensor, "max", unit),
                    limit(*sensor, "crit", unit), alarmed(*sensor) ? "ALARM" : ""});
  }
  if (kinds.empty()) *out += "\nno sensors\n";
  for (const auto& kind : kinds) {
    *out += "\n" + kind + "\n";
    appendTable(byKind[kind], out);
  }
}

void appendPowerSupplies(const Dictionary& reply, std::string* out) {
  auto supplies = dictionariesAt(reply, "PowerSupplies");
  if (supplies.empty()) return;
  std::vector<Row> rows = {{"SUPPLY", "TYPE", "ONLINE", "STATUS", "CAPACITY"}};
  for (const auto& supply : supplies) {
    double capacity;
    bool hasOnline = supply->objectForKey("online") != nullptr;
    rows.push_back({stringAt(*supply, "name"), stringAt(*supply, "type"),
                    hasOnline ? (flagAt(*supply, "online") ? "yes" : "no") : "-",
                    stringAt(*supply, "status"),
                    numberAt(*supply, "capacity", &capacity) ? reading(capacity, "") + " %" : ""});
  }
  *out += "\npower supplies\n";
  appendTable(rows, out);
}

std::string lightText(const Dictionary& reply) {
  auto light = as<Dictionary>(reply.objectForKey("ServiceLight"));
  if (!light || !flagAt(*light, "Available")) return "none";
  return flagAt(*light, "On") ? leaseText(*light) : "off";
}

int alarmCount(const Dictionary& reply) {
  int count = 0;
  for (const auto& sensor : dictionariesAt(reply, "Sensors")) count += alarmed(*sensor);
  return count;
}

std::string plural(std::size_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

}  // namespace

std::string errorInWords(const std::string& code) {
  static const std::map<std::string, std::string> kWords = {
      {"UNEXPECTED_COMMAND",
       "the service has no answer to this request (an unknown command, the hardware monitor "
       "not running, or no boot device to read)"},
      {"CANNOT_PARSE_XML_REQUEST_ERR", "the service could not read the request"},
      {"CANNOT_CREATE_XML_RESPONSE_ERR", "the service could not write its reply"},
      {"CANNOT_LOAD_BUNDLE_ERR", "the service could not load the tool for a batch item"},
      {"CANNOT_RUN_BUNDLE_ERR", "a tool of the batch does not take requests"},
  };
  auto found = kWords.find(code);
  if (found != kWords.end()) return found->second + " (" + code + ")";
  if (code.rfind("NIL_RESPONSE_ERR", 0) == 0) return "the command failed on the server (" + code + ")";
  return "the service answered with an error (" + code + ")";
}

Outcome judge(const Exchange& exchange) {
  Outcome outcome;
  if (!exchange.transferred) {
    outcome.failure = exchange.failure.empty() ? "no reply" : exchange.failure;
    return outcome;
  }
  switch (exchange.httpStatus) {
    case 200: break;
    case 401: outcome.failure = "the user name or password was not accepted (HTTP 401)"; return outcome;
    case 429:
      outcome.failure = "too many failed logins from this address; try again later (HTTP 429)";
      return outcome;
    case 413: outcome.failure = "the request is too large for the server (HTTP 413)"; return outcome;
    case 404: outcome.failure = "the server offers no administration service here (HTTP 404)"; return outcome;
    default:
      outcome.failure = "the server answered HTTP " + std::to_string(exchange.httpStatus);
      return outcome;
  }
  std::string reason;
  auto value = propertyListFromData(exchange.body, Mutability::kImmutable, nullptr, &reason);
  outcome.reply = as<Dictionary>(value);
  if (!outcome.reply) {
    outcome.failure = "the reply is not a property-list dictionary" +
                      (reason.empty() ? std::string() : " (" + reason + ")");
    return outcome;
  }
  const Dictionary& reply = *outcome.reply;
  if (auto error = as<String>(reply.objectForKey("error"))) {
    outcome.failure = errorInWords(error->str());
  } else if (stringAt(reply, "Message") == "CONNECT-AUTH") {
    outcome.failure = "refused: the user is not an administrator (CONNECT-AUTH)";
  } else if (std::string failure = stringAt(reply, "Failure"); !failure.empty()) {
    outcome.failure = failure;
  } else if (auto status = as<Integer>(reply.objectForKey("OSStatus")); status && status->value()) {
    outcome.failure = "failed with status " + std::to_string(status->value()) +
                      (status->value() == -50 ? " (a required parameter is missing)" : "");
  } else {
    outcome.failure = changeFailure(reply);
  }
  return outcome;
}

std::string bootListText(const Dictionary& reply) {
  const std::string device = stringAt(reply, "Message"), once = stringAt(reply, "OnceDevice");
  std::vector<Row> rows;
  for (const auto& entry : dictionariesAt(reply, "Devices")) {
    std::string name = stringAt(*entry, "Name");
    std::string mark = !flagAt(*entry, "Active") ? "inactive"
                       : name == device          ? "boot device"
                                                 : "";
    if (name == once) mark += mark.empty() ? "next start only" : ", next start only";
    rows.push_back({name, stringAt(*entry, "Description"), mark});
  }
  std::string out;
  appendTable(rows, &out);
  return out;
}

std::string statusTable(const Dictionary& reply) {
  std::string health = stringAt(reply, "Health");
  std::string out = "Health: " + (health.empty() ? std::string("unknown") : health);
  int alarms = alarmCount(reply);
  if (alarms) out += " (" + plural(alarms, "alarm") + ")";
  out += "\nService light: " + lightText(reply) + "\n";
  appendSensors(reply, &out);
  appendPowerSupplies(reply, &out);
  return out;
}

std::string auditTable(const Dictionary& reply) {
  std::vector<Row> rows = {{"TIME", "USER", "COMMAND", "RESULT", "OLD", "NEW"}};
  auto shown = [](const ValueRef& value) {
    return !value ? "-" : as<String>(value) ? textOf(value) : jsonOf(value);
  };
  for (const auto& record : dictionariesAt(reply, "Records")) {
    if (auto line = record->objectForKey("Unreadable")) {
      rows.push_back({"?", "-", "-", "UNREADABLE", "-", textOf(line)});  // keeps the columns
      continue;
    }
    Row row;
    for (const char* key : {"time", "user", "command", "result", "old", "new"})
      row.push_back(shown(record->objectForKey(key)));
    rows.push_back(row);
  }
  std::string out;
  appendTable(rows, &out);
  out += flagAt(reply, "ChainIntact") ? "chain intact\n"
                                      : "CHAIN BROKEN at " + stringAt(reply, "BrokenAt") + "\n";
  return out;
}

namespace {

std::string changeSummary(const Dictionary& request, const Dictionary& reply) {
  const std::string command = stringAt(request, "command");
  if (command == "status") {
    std::string health = stringAt(reply, "Health");
    return "health " + (health.empty() ? std::string("unknown") : health) + ", " +
           plural(dictionariesAt(reply, "Sensors").size(), "sensor") + ", " +
           plural(alarmCount(reply), "alarm") + ", service light " + lightText(reply);
  }
  if (command == "serviceid") {
    auto state = as<Integer>(request.objectForKey("state"));
    auto lease = as<Dictionary>(reply.objectForKey("Lease"));
    return std::string("service light switched ") + (state && state->value() ? "on" : "off") +
           (lease ? " until " + shortText(lease->objectForKey("Deadline")) : "");
  }
  auto scheduled = as<Dictionary>(reply.objectForKey("Scheduled"));
  if (scheduled && as<Integer>(request.objectForKey("delay"))) return powerText(*scheduled);
  if (command == "restart") return "restarting";
  if (command == "shutdown") return "shutting down";
  if (command == "powerSchedule") {
    for (const char* key : {"Pending", "Cancelled"}) {
      auto entry = as<Dictionary>(reply.objectForKey(key));
      if (entry) return (key[0] == 'P' ? "pending: " : "cancelled: ") + powerText(*entry);
    }
    return "nothing pending";
  }
  if (command == "email" && reply.objectForKey("TestMail")) return "test mail accepted";
  if (command == "getBootPath") {
    std::string once = stringAt(reply, "OnceDevice");
    return "boot device " + stringAt(reply, "Message") +
           (once.empty() ? "" : ", next start only " + once);
  }
  if (command == "setBootPath" && flagAt(request, "clearOnce")) return "once-device cleared";
  if (command == "setBootPath") {
    return (flagAt(request, "once") ? "next start only from " : "boot device set to ") +
           stringAt(request, "bootpath");
  }
  if (command == "email") return "settings stored";
  if (command == "profile") return plural(stringAt(reply, "Profile").size(), "byte") + " of profile";
  return "done";
}

}  // namespace

std::string summaryOf(const Dictionary& request, const Dictionary& reply) {
  std::string summary = changeSummary(request, reply), verified = verifiedText(reply);
  return verified.empty() ? summary : summary + "; " + verified;
}

}  // namespace steward::ctl
