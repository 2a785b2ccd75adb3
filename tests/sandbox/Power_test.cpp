// "restart" and "shutdown" with options, and "powerSchedule", end to end on
// stand-ins for systemctl, systemd-run and wall.
#include <ctime>
#include <filesystem>

#include <gtest/gtest.h>

#include "tests/sandbox/Sandbox.h"

namespace steward::sandbox {
namespace {

const std::string kDropIn = "/run/systemd/system/reboot.target.d/steward-force-after.conf";
const std::string kDryRun = "<key>dryRun</key><true/>", kCancel = "<key>cancel</key><true/>";

std::string entry(const char* key, const std::string& value, const char* kind = "integer") {
  return std::string("<key>") + key + "</key><" + kind + ">" + value + "</" + kind + ">";
}

class PowerTest : public ::testing::Test {
 protected:
  DictionaryRef ask(const char* user, const char* command, const std::string& more) {
    RunOptions options{.input = request(command, more), .fakeSystemd = true};
    options.environment["REMOTE_USER"] = user;
    auto reply = as<Dictionary>(parsed(sandbox_.run(options).output));
    return reply ? reply : makeMutableDictionary();
  }
  // The stand-ins' calls since the last look, program and arguments one a line.
  std::string calls() {
    std::string recorded = sandbox_.readFile("/steward/record/calls");
    sandbox_.writeFile("/steward/record/calls", "");
    return recorded;
  }
  // reply[outer][key], or reply[key] alone.
  static ValueRef at(const DictionaryRef& reply, const char* outer, const char* key = nullptr) {
    auto inner = key ? as<Dictionary>(reply->objectForKey(outer)) : reply;
    return inner ? inner->objectForKey(key ? key : outer) : nullptr;
  }
  static std::string text(const DictionaryRef& reply, const char* outer, const char* key = nullptr) {
    auto value = as<String>(at(reply, outer, key));
    return value ? value->str() : "(none)";
  }
  // Seconds from now to the reply's outer "At".
  static double secondsTo(const DictionaryRef& reply, const char* outer) {
    auto date = as<Date>(at(reply, outer, "At"));
    return date ? date->unixTime() - static_cast<double>(std::time(nullptr)) : -1e9;
  }

  Sandbox sandbox_;
};

// An admin's immediate actions; the wall's header holds the time, cut here.
TEST_F(PowerTest, ImmediateActionsStartTheirProgramsDirectly) {
  const std::tuple<const char*, std::string, std::string> cases[] = {
      {"restart", entry("mode", "force", "string"), "/bin/systemctl\nreboot\n--force\n"},
      {"shutdown", entry("mode", "force", "string"), "/bin/systemctl\npoweroff\n--force\n"},
      {"shutdown", entry("mode", "graceful", "string") + entry("delay", "0"),
       "/sbin/shutdown\n-h\nnow\n"},
      {"restart", entry("message", "back in 5 min", "string") + "<key>dryRun</key><false/>",
       "/usr/bin/wall\nRestart at\nback in 5 min\n/sbin/shutdown\n-r\nnow\n"},
  };
  for (const auto& [command, more, expected] : cases) {
    SCOPED_TRACE(more);
    auto reply = ask("alice", command, more);
    EXPECT_EQ(text(reply, "Message"), *command == 'r' ? "RESTART-SUCCESS" : "SHUTDWN-SUCCESS");
    EXPECT_NEAR(secondsTo(reply, "Scheduled"), 0, 5);
    EXPECT_TRUE(isEqual(at(reply, "Verified", "Agree"), makeBoolean(true)));
    std::string recorded = calls();
    if (std::size_t time = recorded.find("Restart at "); time != std::string::npos)
      recorded.erase(time + 10, recorded.find(", asked by alice:\n") + 17 - time - 10);
    EXPECT_EQ(recorded, expected);
  }
}

// Graceful now, forced by the target's own job time-out; the drop-in goes
// with the next action that does not ask for it.
TEST_F(PowerTest, ForceAfterBoundsTheTargetsJob) {
  auto reply = ask("bob", "restart", entry("forceAfter", "90"));
  EXPECT_EQ(calls(), "/bin/systemctl\ndaemon-reload\n/sbin/shutdown\n-r\nnow\n");
  EXPECT_EQ(sandbox_.readFile(kDropIn),
            "# Forces the restart when its job has not finished in time.\n[Unit]\n"
            "JobTimeoutSec=90s\nJobTimeoutAction=reboot-force\n");
  EXPECT_TRUE(isEqual(at(reply, "Verified", "Agree"), makeBoolean(true)));
  auto previous = as<Dictionary>(at(reply, "Verified", "Previous"));
  EXPECT_TRUE(previous && isEqual(previous->objectForKey("JobTimeoutSec"), makeInteger(1800)));
  ask("alice", "shutdown", entry("mode", "force", "string"));
  EXPECT_EQ(calls(), "/bin/systemctl\ndaemon-reload\n/bin/systemctl\npoweroff\n--force\n");
  EXPECT_FALSE(std::filesystem::exists(sandbox_.hostPath(kDropIn)));
}

// Schedule, replace, read, cancel, and cancel again with nothing left.
TEST_F(PowerTest, DelayedActionIsATimerThatCanBeReadAndCancelled) {
  EXPECT_EQ(text(ask("alice", "powerSchedule", ""), "Message"), "NOTHING-PENDING");
  auto first = ask("alice", "restart", entry("delay", "600") + entry("message", "patch", "string"));
  std::string recorded = calls();
  EXPECT_TRUE(recorded.starts_with("/usr/bin/wall\nRestart at ") &&
              recorded.find(", asked by alice:\npatch\n/usr/bin/systemd-run\n--unit=steward-power\n"
                          "--description=steward_kestrel restart graceful at=") != std::string::npos);
  EXPECT_TRUE(recorded.ends_with(" by=alice\n--on-active=600s\n--timer-property=AccuracySec=1s\n"
                                 "--timer-property=RemainAfterElapse=no\n/sbin/shutdown\n-r\nnow\n"));
  EXPECT_NEAR(secondsTo(first, "Scheduled"), 600, 5);

  auto second = ask("bob", "shutdown", entry("delay", "60") + entry("mode", "force", "string"));
  EXPECT_TRUE(calls().starts_with("/bin/systemctl\nstop\nsteward-power.timer\n/usr/bin/systemd-run\n"));
  EXPECT_TRUE(isEqual(at(second, "Verified", "Previous"), at(first, "Verified", "Observed")));
  EXPECT_TRUE(isEqual(at(second, "Verified", "Agree"), makeBoolean(true)));

  auto pending = ask("alice", "powerSchedule", "");
  EXPECT_EQ(text(pending, "Message"), "PENDING");
  EXPECT_NEAR(secondsTo(pending, "Pending"), 60, 5);
  EXPECT_EQ(text(pending, "Pending", "User"), "bob");
  auto cancelled = ask("alice", "powerSchedule", kCancel);
  EXPECT_EQ(text(cancelled, "Message"), "CANCELLED");
  EXPECT_EQ(text(cancelled, "Verified", "Observed"), "none");
  EXPECT_EQ(calls(), "/bin/systemctl\nstop\nsteward-power.timer\n");
  EXPECT_EQ(text(ask("alice", "powerSchedule", kCancel), "Message"), "NOTHING-PENDING");
  EXPECT_EQ(calls(), "");
}

// Malformed options, plain users and dry runs start and write nothing.
TEST_F(PowerTest, RefusalsAndPlansChangeNothing) {
  const std::string bad[] = {
      entry("mode", "hard", "string"), entry("mode", "1"), entry("delay", "-1"),
      entry("delay", "1.5", "real"), entry("delay", "10", "string"), entry("delay", "2592001"),
      entry("delay", "1e300", "real"), entry("forceAfter", "0"), entry("forceAfter", "86401"),
      entry("forceAfter", "60") + entry("mode", "force", "string"),
      entry("message", "hi\x7F", "string"), entry("message", "two\nlines", "string"),
      entry("message", "\xC2\x9B", "string"), entry("message", std::string(1001, 'x'), "string"),
      entry("message", "1"), entry("dryRun", "true", "string")};
  for (const std::string& more : bad)
    EXPECT_TRUE(isEqual(at(ask("alice", "restart", more), "OSStatus"), makeInteger(-50))) << more;
  for (const auto& [command, more] : {std::pair{"restart", entry("delay", "60")},
                                      {"powerSchedule", ""}, {"powerSchedule", kCancel}})
    EXPECT_EQ(text(ask("carol", command, more), "Message"), "CONNECT-AUTH");

  auto plan = ask("carol", "restart", entry("delay", "60") + kDryRun);
  EXPECT_TRUE(isEqual(at(plan, "Plan", "Allowed"), makeBoolean(false)));
  auto run = as<Array>(at(plan, "Plan", "Run"));  // the timer alone
  EXPECT_TRUE(run && run->count() == 1 && xmlOf(run).find("systemd-run") != std::string::npos);
  plan = ask("alice", "restart", entry("forceAfter", "30") + kDryRun);
  EXPECT_NE(xmlOf(at(plan, "Plan", "Changes")).find(kDropIn), std::string::npos);
  EXPECT_EQ(calls(), "");
  EXPECT_FALSE(std::filesystem::exists(sandbox_.hostPath(kDropIn)));
}

}  // namespace
}  // namespace steward::sandbox
