#include "kestrel/PowerRequest.h"

#include <cmath>

#include "platform/TextEncoding.h"

namespace steward {

namespace {

constexpr const char* kOptionKeys[] = {"mode", "delay", "message", "forceAfter", "dryRun"};

// A whole number of seconds from 0 to max; a missing entry is 0.
bool read_seconds(const ValueRef& value, std::int64_t max, std::int64_t* out) {
  if (!value) return true;
  if (auto integer = as<Integer>(value)) {
    *out = integer->value();
  } else if (auto real = as<Real>(value)) {
    double seconds = real->value();
    if (!(seconds >= 0 && seconds <= static_cast<double>(max)) || std::trunc(seconds) != seconds)
      return false;
    *out = static_cast<std::int64_t>(seconds);
  } else {
    return false;
  }
  return *out >= 0 && *out <= max;
}

// Control characters would reach every terminal; DEL and the C1 range too.
bool is_printable(char32_t c) { return c >= 0x20 && !(c >= 0x7F && c <= 0x9F); }

bool read_message(const ValueRef& value, std::string* out) {
  if (!value) return true;
  auto text = as<String>(value);
  if (!text || text->str().size() > kMaxPowerMessage) return false;
  if (unicode::replacingCharacters(text->str(), is_printable, "") != text->str()) return false;
  *out = text->str();
  return true;
}

bool read_mode(const ValueRef& value, bool* force) {
  if (!value) return true;
  auto mode = as<String>(value);
  if (!mode || (mode->str() != "graceful" && mode->str() != "force")) return false;
  *force = mode->str() == "force";
  return true;
}

}  // namespace

bool hasPowerOptions(const DictionaryRef& request) {
  for (const char* key : kOptionKeys) {
    if (request->objectForKey(key)) return true;
  }
  return false;
}

std::optional<PowerRequest> parsePowerRequest(const DictionaryRef& request, PowerAction action) {
  PowerRequest parsed;
  parsed.action = action;
  ValueRef dryRun = request->objectForKey("dryRun");
  if (dryRun && !as<Boolean>(dryRun)) return std::nullopt;
  if (!read_mode(request->objectForKey("mode"), &parsed.force) ||
      !read_seconds(request->objectForKey("delay"), kMaxPowerDelay, &parsed.delay) ||
      !read_seconds(request->objectForKey("forceAfter"), kMaxForceAfter, &parsed.forceAfter) ||
      !read_message(request->objectForKey("message"), &parsed.message)) {
    return std::nullopt;
  }
  // A job time-out of 0 is none at all, and a forced action has nothing
  // left to force.
  if (request->objectForKey("forceAfter") && (parsed.forceAfter == 0 || parsed.force)) {
    return std::nullopt;
  }
  return parsed;
}

const char* powerActionName(PowerAction action) {
  return action == PowerAction::kRestart ? "restart" : "shutdown";
}

const char* powerModeName(bool force) { return force ? "force" : "graceful"; }

}  // namespace steward
