#include "stewardctl/ChangeText.h"

#include <cstdio>
#include <set>
#include <sstream>
#include <vector>

#include "platform/CivilTime.h"
#include "stewardctl/JsonWriter.h"

namespace steward::ctl {
namespace {

std::string stringAt(const Dictionary& dictionary, const char* key) {
  auto value = as<String>(dictionary.objectForKey(key));
  return value ? value->str() : "";
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A multi-line value (a settings file) shown as what goes and what comes.
void appendLineChange(const std::string& old, const std::string& replacement, std::string* out) {
  auto before = linesOf(old), after = linesOf(replacement);
  std::multiset<std::string> kept(after.begin(), after.end()), had(before.begin(), before.end());
  for (const auto& line : before) {
    if (!kept.count(line)) *out += "      - " + line + "\n";
  }
  for (const auto& line : after) {
    if (!had.count(line)) *out += "      + " + line + "\n";
  }
}

bool multiLine(const ValueRef& value) {
  auto text = as<String>(value);
  return text && text->str().find('\n') != std::string::npos;
}

std::string duration(std::int64_t seconds) {
  std::string out;
  if (seconds >= 3600) out += std::to_string(seconds / 3600) + " h ";
  if (seconds >= 60) out += std::to_string(seconds / 60 % 60) + " min ";
  return out + std::to_string(seconds % 60) + " s";
}

}  // namespace

std::string shortText(const ValueRef& value) {
  if (!value) return "(none)";
  if (auto text = as<String>(value)) return text->str().empty() ? "(none)" : text->str();
  if (auto date = as<Date>(value)) {
    CivilTime t;
    if (!civilTimeOf(date->secondsSinceReference(), &t)) return jsonOf(value);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u %02u:%02u:%02u UTC", t.year, t.month,
                  t.day, t.hour, t.minute, t.second);
    return buffer;
  }
  return jsonOf(value);
}

std::string planText(const Dictionary& plan) {
  auto allowed = as<Boolean>(plan.objectForKey("Allowed"));
  std::string out = allowed && allowed->value() ? "plan (allowed):\n"
                                                : "plan (NOT allowed for this user):\n";
  auto run = as<Array>(plan.objectForKey("Run"));
  auto changes = as<Array>(plan.objectForKey("Changes"));
  for (const auto& argv : run ? run->objects() : std::vector<ValueRef>{}) {
    std::string line;
    if (auto words = as<Array>(argv)) {
      for (const auto& word : words->objects()) line += (line.empty() ? "" : " ") + shortText(word);
    }
    out += "  run     " + line + "\n";
  }
  for (const auto& item : changes ? changes->objects() : std::vector<ValueRef>{}) {
    auto change = as<Dictionary>(item);
    if (!change) continue;
    ValueRef old = change->objectForKey("Old"), replacement = change->objectForKey("New");
    out += "  change  " + stringAt(*change, "Target");
    if (multiLine(old) || multiLine(replacement)) {
      out += "\n";
      appendLineChange(old ? shortText(old) : "", replacement ? shortText(replacement) : "", &out);
    } else if (old || replacement) {
      out += ": " + shortText(old) + " -> " + shortText(replacement) + "\n";
    } else {
      out += "\n";
    }
  }
  if (std::string failure = stringAt(plan, "Failure"); !failure.empty()) {
    out += "  would fail: " + failure + "\n";
  }
  if ((!run || run->count() == 0) && (!changes || changes->count() == 0)) {
    out += "  nothing would change\n";
  }
  return out;
}

std::string verifiedText(const Dictionary& reply) {
  auto verified = as<Dictionary>(reply.objectForKey("Verified"));
  if (!verified) return "";
  ValueRef observed = verified->objectForKey("Observed");
  if (!observed) return "not read back (asked " + shortText(verified->objectForKey("Requested")) + ")";
  auto agree = as<Boolean>(verified->objectForKey("Agree"));
  if (agree && agree->value()) return "verified: " + shortText(observed);
  return "NOT verified: asked " + shortText(verified->objectForKey("Requested")) + ", observed " +
         shortText(observed);
}

std::string changeFailure(const Dictionary& reply) {
  if (auto mail = as<Dictionary>(reply.objectForKey("TestMail"))) {
    auto accepted = as<Boolean>(mail->objectForKey("Accepted"));
    if (!accepted || !accepted->value()) {
      std::string error = stringAt(*mail, "Error");
      return "the mail system did not accept the test mail" + (error.empty() ? "" : ": " + error);
    }
  }
  std::string verified = verifiedText(reply);
  if (verified.rfind("NOT ", 0) == 0) return "the change did not take effect as asked (" + verified + ")";
  return "";
}

std::string leaseText(const Dictionary& light) {
  auto left = as<Integer>(light.objectForKey("SecondsLeft"));
  if (!left) return "on";
  std::string owner = stringAt(light, "Owner"), reason = stringAt(light, "Reason");
  std::string out = "on (";
  if (!owner.empty()) out += "by " + owner + ", ";
  if (!reason.empty()) out += "\"" + reason + "\", ";
  return out + duration(left->value()) + " left)";
}

std::string powerText(const Dictionary& entry) {
  std::string out = stringAt(entry, "Action") + " " + stringAt(entry, "Mode") + " at " +
                    shortText(entry.objectForKey("At"));
  auto forceAfter = as<Integer>(entry.objectForKey("ForceAfter"));
  if (forceAfter && forceAfter->value() > 0) {
    out += ", forced after " + std::to_string(forceAfter->value()) + " s";
  }
  if (std::string user = stringAt(entry, "User"); !user.empty()) out += ", asked by " + user;
  return out;
}

}  // namespace steward::ctl
