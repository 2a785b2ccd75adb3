// The options that "restart" and "shutdown" take besides their original
// form: "mode", "delay", "message", "forceAfter" and "dryRun", checked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/PropertyValue.h"

namespace steward {

enum class PowerAction { kRestart, kShutdown };

struct PowerRequest {
  PowerAction action = PowerAction::kRestart;
  bool force = false;           // "mode" "force": no waiting for services to stop
  std::int64_t delay = 0;       // seconds from now; 0 is at once
  std::int64_t forceAfter = 0;  // seconds until a graceful action is forced; 0 never
  std::string message;          // for logged-in users; empty sends none
};

inline constexpr std::int64_t kMaxPowerDelay = 30 * 86400;
inline constexpr std::int64_t kMaxForceAfter = 86400;
inline constexpr std::size_t kMaxPowerMessage = 1000;

// True when the request holds any of the options; without them the command
// keeps its original form and reply.
bool hasPowerOptions(const DictionaryRef& request);

// The options, or none when one is malformed: a mode other than "graceful"
// or "force"; a delay or forceAfter that is not a whole number of seconds
// in range (forceAfter at least 1, and not with "force"); a message that is
// not text, is too long or holds control characters; a "dryRun" that is not
// a boolean, which must never be taken for a real request.
std::optional<PowerRequest> parsePowerRequest(const DictionaryRef& request, PowerAction action);

// "restart" or "shutdown"; "graceful" or "force".
const char* powerActionName(PowerAction action);
const char* powerModeName(bool force);

}  // namespace steward
