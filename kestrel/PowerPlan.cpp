#include "kestrel/PowerPlan.h"

#include <charconv>
#include <cstdio>

#include "platform/CivilTime.h"
#include "platform/PropertyValue.h"

namespace steward {

namespace {

constexpr std::string_view kDescriptionPrefix = "steward_kestrel ";
constexpr const char* kDropInName = "steward-force-after.conf";

std::optional<std::int64_t> to_integer(std::string_view text) {
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string utc_text(std::int64_t unixTime) {
  CivilTime civil{};
  if (!civilTimeOf(static_cast<double>(unixTime) - Date::kUnixEpochOffset, &civil)) return "?";
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02u:%02u:%02u UTC", civil.year, civil.month,
                civil.day, civil.hour, civil.minute, civil.second);
  return text;
}

// The next word of text, and text past it and its blank.
std::string_view next_word(std::string_view* text) {
  std::size_t end = text->find(' ');
  std::string_view word = text->substr(0, end);
  text->remove_prefix(end == std::string_view::npos ? text->size() : end + 1);
  return word;
}

// "key=number" as the next word.
bool read_field(std::string_view* text, std::string_view key, std::int64_t* out) {
  std::string_view word = next_word(text);
  if (!word.starts_with(key) || word.substr(key.size(), 1) != "=") return false;
  auto value = to_integer(word.substr(key.size() + 1));
  if (value) *out = *value;
  return value.has_value();
}

}  // namespace

std::string describePending(const PendingPower& pending) {
  return std::string(kDescriptionPrefix) + powerActionName(pending.action) + " " +
         powerModeName(pending.force) + " at=" + std::to_string(pending.at) +
         " forceAfter=" + std::to_string(pending.forceAfter) +
         " asked=" + std::to_string(pending.asked) + " by=" + pending.user;
}

std::optional<PendingPower> parsePending(std::string_view description) {
  if (!description.starts_with(kDescriptionPrefix)) return std::nullopt;
  description.remove_prefix(kDescriptionPrefix.size());
  PendingPower pending;
  std::string_view action = next_word(&description), mode = next_word(&description);
  if (action != "restart" && action != "shutdown") return std::nullopt;
  if (mode != "graceful" && mode != "force") return std::nullopt;
  pending.action = action == "restart" ? PowerAction::kRestart : PowerAction::kShutdown;
  pending.force = mode == "force";
  if (!read_field(&description, "at", &pending.at) ||
      !read_field(&description, "forceAfter", &pending.forceAfter) ||
      !read_field(&description, "asked", &pending.asked) || !description.starts_with("by=")) {
    return std::nullopt;
  }
  pending.user = description.substr(3);  // the rest: a name may hold blanks
  return pending;
}

ArgumentVector actionCommand(PowerAction action, bool force) {
  bool restart = action == PowerAction::kRestart;
  if (!force) return {"/sbin/shutdown", restart ? "-r" : "-h", "now"};
  // One --force: the manager kills and unmounts on its own without
  // stopping units; twice would skip the unmounting and risk the disks.
  return {kSystemctlPath, restart ? "reboot" : "poweroff", "--force"};
}

ArgumentVector timerCommand(const PendingPower& pending, std::int64_t delay) {
  ArgumentVector argv = {"/usr/bin/systemd-run",
                         "--unit=steward-power",
                         "--description=" + describePending(pending),
                         "--on-active=" + std::to_string(delay) + "s",
                         "--timer-property=AccuracySec=1s",
                         // Gone once fired: a failed action leaves nothing pending.
                         "--timer-property=RemainAfterElapse=no"};
  for (std::string& word : actionCommand(pending.action, pending.force))
    argv.push_back(std::move(word));
  return argv;
}

ArgumentVector wallCommand(const PendingPower& pending, const std::string& message) {
  // Two arguments at least, so that wall never takes the message for the
  // name of a file to show.
  std::string header = std::string(pending.action == PowerAction::kRestart ? "Restart" : "Shutdown") +
                       " at " + utc_text(pending.at) + ", asked by " + pending.user + ":";
  return {"/usr/bin/wall", header, message};
}

const char* powerTarget(PowerAction action) {
  return action == PowerAction::kRestart ? "reboot.target" : "poweroff.target";
}

const char* jobTimeoutAction(PowerAction action) {
  return action == PowerAction::kRestart ? "reboot-force" : "poweroff-force";
}

std::string forceAfterDropInPath(PowerAction action) {
  return std::string("/run/systemd/system/") + powerTarget(action) + ".d/" + kDropInName;
}

std::string forceAfterDropIn(PowerAction action, std::int64_t forceAfter) {
  return "# Forces the " + std::string(powerActionName(action)) +
         " when its job has not finished in time.\n[Unit]\nJobTimeoutSec=" +
         std::to_string(forceAfter) + "s\nJobTimeoutAction=" +
         jobTimeoutAction(action) + "\n";
}

std::optional<std::int64_t> parseTimespan(std::string_view text) {
  if (text == "infinity") return -1;
  if (text == "0") return 0;
  constexpr std::pair<std::string_view, std::int64_t> kUnits[] = {  // in microseconds
      {"us", 1}, {"ms", 1000}, {"s", 1000000}, {"min", 60000000}, {"h", 3600000000},
      {"d", 86400000000}, {"w", 604800000000}};
  std::int64_t total = 0;
  if (text.empty()) return std::nullopt;
  while (!text.empty()) {
    std::string_view word = next_word(&text);
    std::size_t digits = word.find_first_not_of("0123456789");
    if (digits == 0 || digits == std::string_view::npos) return std::nullopt;
    auto count = to_integer(word.substr(0, digits));
    std::int64_t unit = 0;
    for (const auto& [name, micros] : kUnits) {
      if (word.substr(digits) == name) unit = micros;
    }
    if (!count || unit == 0 || *count > (INT64_MAX - total) / unit) return std::nullopt;
    total += *count * unit;
  }
  return total / 1000000;
}

}  // namespace steward
