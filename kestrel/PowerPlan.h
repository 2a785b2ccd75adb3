// How a restart or shutdown with options is carried out by systemd itself:
// the argument vectors to start, the runtime drop-in that bounds a graceful
// action's job, and the text by which a delayed action's timer says what it
// will do. Nothing here touches the machine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrel/PowerRequest.h"

namespace steward {

using ArgumentVector = std::vector<std::string>;

// The transient timer (and its service) of a delayed action.
inline constexpr const char* kPowerTimerUnit = "steward-power.timer";
inline constexpr const char* kSystemctlPath = "/bin/systemctl";

// A delayed action as its timer describes it.
struct PendingPower {
  PowerAction action = PowerAction::kRestart;
  bool force = false;
  std::int64_t at = 0;          // Unix time it fires
  std::int64_t forceAfter = 0;  // 0: none
  std::int64_t asked = 0;       // Unix time it was asked for
  std::string user;             // who asked
};

// The timer's description; parsePending reads it back, and gives none for
// a description of anything else.
std::string describePending(const PendingPower& pending);
std::optional<PendingPower> parsePending(std::string_view description);

// The graceful action is the original shutdown program's; the forced one
// is systemd's own, which stops no services but still unmounts.
ArgumentVector actionCommand(PowerAction action, bool force);

// The timer that starts the action's command `delay` seconds from now.
ArgumentVector timerCommand(const PendingPower& pending, std::int64_t delay);

// The wall message before an action at Unix time `at`.
ArgumentVector wallCommand(const PendingPower& pending, const std::string& message);

// The runtime drop-in on the action's target that forces the action when
// its job has not finished `forceAfter` seconds after it was queued.
std::string forceAfterDropInPath(PowerAction action);
std::string forceAfterDropIn(PowerAction action, std::int64_t forceAfter);
// What the manager does when the job times out: "reboot-force" or
// "poweroff-force".
const char* jobTimeoutAction(PowerAction action);
// The target whose job the drop-in bounds: "reboot.target" or "poweroff.target".
const char* powerTarget(PowerAction action);

// A time span as systemctl shows it ("30min", "1min 30s", "infinity"), in
// whole seconds rounded down; none for text of another form, -1 for infinity.
std::optional<std::int64_t> parseTimespan(std::string_view text);

}  // namespace steward
