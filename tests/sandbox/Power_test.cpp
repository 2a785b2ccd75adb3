// "restart" and "shutdown" with options, and "powerSchedule", end to end on
// stand-ins for systemctl, systemd-run and wall.
#include <ctime>
#include <filesystem>

#include <gtest/gtest.h>

#include "tests/sandbox/Sandbox.h"

namespace steward::sandbox {
namespace {

const std::string kDropIn = "/run/systemd/system/reboot.target.d/steward-force-after.conf";

std::string integer(const char* key, const char* value) {
  return std::string("<key>") + key + "</key><integer>" + value + "</integer>";
}
std::string text(const char* key, const std::string& value) {
  return std::string("<key>") + key + "</key><string>" + value + "</string>";
}

class PowerTest : public ::testing::Test {
 protected:
  DictionaryRef ask(const char* user, const char* command, const std::string& more) {
    RunOptions options{.input = request(command, more), .fakeSystemd = true};
    options.environment["REMOTE_USER"] = user;
    RunResult result = sandbox_.run(options);
    EXPECT_EQ(result.exitStatus, 0);
    auto reply = as<Dictionary>(parsed(result.output));
    EXPECT_NE(reply, nullptr) << result.output;
    return reply ? reply : makeMutableDictionary();
  }
  // The calls of the stand-ins since the last look, program and arguments
  // one a line.
  std::string calls() {
    std::string recorded = sandbox_.readFile("/steward/record/calls");
    sandbox_.writeFile("/steward/record/calls", "");
    return recorded;
  }
  static ValueRef at(const DictionaryRef& reply, const char* outer, const char* key) {
    auto inner = as<Dictionary>(reply->objectForKey(outer));
    return inner ? inner->objectForKey(key) : nullptr;
  }
  // "Scheduled" or "Pending" "At" is `delay` seconds from now.
  static void expectAt(const DictionaryRef& reply, const char* outer, std::int64_t delay) {
    auto date = as<Date>(at(reply, outer, "At"));
    ASSERT_NE(date, nullptr);
    EXPECT_NEAR(date->unixTime(), static_cast<double>(std::time(nullptr) + delay), 5.0);
  }
  static std::string message(const DictionaryRef& reply) {
    auto value = as<String>(reply->objectForKey("Message"));
    return value ? value->str() : "";
  }

  Sandbox sandbox_;
};

// What an admin's immediate action starts, and that the manager is seen going down.
TEST_F(PowerTest, ImmediateActionsStartTheirProgramsDirectly) {
  struct Case {
    const char* command;
    std::string more, calls;
  } cases[] = {
      {"restart", text("mode", "force"), "/bin/systemctl\nreboot\n--force\n"},
      {"shutdown", text("mode", "force"), "/bin/systemctl\npoweroff\n--force\n"},
      {"shutdown", text("mode", "graceful") + integer("delay", "0"), "/sbin/shutdown\n-h\nnow\n"},
      {"restart", text("message", "back in 5 min") + "<key>dryRun</key><false/>",
       "/usr/bin/wall\nRestart at *\nback in 5 min\n/sbin/shutdown\n-r\nnow\n"},
  };
  for (const auto& [command, more, expected] : cases) {
    SCOPED_TRACE(more);
    auto reply = ask("alice", command, more);
    EXPECT_EQ(message(reply), command == std::string("restart") ? "RESTART-SUCCESS" : "SHUTDWN-SUCCESS");
    EXPECT_TRUE(isEqual(at(reply, "Scheduled", "Action"), makeString(command)));
    expectAt(reply, "Scheduled", 0);
    EXPECT_TRUE(isEqual(at(reply, "Verified", "Agree"), makeBoolean(true)));
    std::string recorded = calls();
    if (std::size_t star = expected.find('*'); star != std::string::npos) {  // the time varies
      std::size_t end = recorded.find(":\n", star);
      ASSERT_NE(end, std::string::npos) << recorded;
      recorded.replace(star, end - star + 1, "*");
    }
    EXPECT_EQ(recorded, expected);
  }
}

// Graceful now, forced by the target's own job time-out; the drop-in goes
// away with the next action that does not ask for it.
TEST_F(PowerTest, ForceAfterBoundsTheTargetsJob) {
  auto reply = ask("bob", "restart", integer("forceAfter", "90"));
  EXPECT_EQ(calls(), "/bin/systemctl\ndaemon-reload\n/sbin/shutdown\n-r\nnow\n");
  EXPECT_EQ(sandbox_.readFile(kDropIn),
            "# Forces the restart when its job has not finished in time.\n[Unit]\n"
            "JobTimeoutSec=90s\nJobTimeoutAction=reboot-force\n");
  auto verified = dictionaryOf({{"SystemState", makeString("stopping")},
                                {"JobTimeoutSec", makeInteger(90)},
                                {"JobTimeoutAction", makeString("reboot-force")}});
  EXPECT_TRUE(isEqual(at(reply, "Verified", "Observed"), verified));
  EXPECT_TRUE(isEqual(at(reply, "Verified", "Previous"),
                      dictionaryOf({{"JobTimeoutSec", makeInteger(1800)},
                                    {"JobTimeoutAction", makeString("reboot-force")}})));
  EXPECT_TRUE(isEqual(at(reply, "Scheduled", "ForceAfter"), makeInteger(90)));
  ask("alice", "shutdown", text("mode", "force"));
  EXPECT_EQ(calls(), "/bin/systemctl\ndaemon-reload\n/bin/systemctl\npoweroff\n--force\n");
  EXPECT_FALSE(std::filesystem::exists(sandbox_.hostPath(kDropIn)));
}

// Schedule, replace, read, cancel, and cancel again with nothing left.
TEST_F(PowerTest, DelayedActionIsATimerThatCanBeReadAndCancelled) {
  EXPECT_EQ(message(ask("alice", "powerSchedule", "")), "NOTHING-PENDING");
  auto first = ask("alice", "restart", integer("delay", "600") + text("message", "patch day"));
  std::string recorded = calls();
  EXPECT_TRUE(recorded.starts_with("/usr/bin/wall\nRestart at ")) << recorded;
  EXPECT_NE(recorded.find(", asked by alice:\npatch day\n/usr/bin/systemd-run\n--unit=steward-power\n"
                          "--description=steward_kestrel restart graceful at="),
            std::string::npos) << recorded;
  EXPECT_TRUE(recorded.ends_with(
      " by=alice\n--on-active=600s\n--timer-property=AccuracySec=1s\n"
      "--timer-property=RemainAfterElapse=no\n/sbin/shutdown\n-r\nnow\n"));
  EXPECT_TRUE(isEqual(at(first, "Verified", "Agree"), makeBoolean(true)));
  expectAt(first, "Scheduled", 600);

  auto second = ask("bob", "shutdown", integer("delay", "60") + text("mode", "force"));
  recorded = calls();
  EXPECT_TRUE(recorded.starts_with("/bin/systemctl\nstop\nsteward-power.timer\n/usr/bin/systemd-run\n"))
      << recorded;
  EXPECT_TRUE(isEqual(at(second, "Verified", "Previous"), at(first, "Verified", "Observed")));
  EXPECT_TRUE(isEqual(at(second, "Verified", "Agree"), makeBoolean(true)));

  auto pending = ask("alice", "powerSchedule", "");
  EXPECT_EQ(message(pending), "PENDING");
  expectAt(pending, "Pending", 60);
  EXPECT_TRUE(isEqual(at(pending, "Pending", "User"), makeString("bob")));
  EXPECT_TRUE(isEqual(at(pending, "Pending", "Mode"), makeString("force")));
  EXPECT_EQ(calls(), "");

  auto cancelled = ask("alice", "powerSchedule", "<key>cancel</key><true/>");
  EXPECT_EQ(message(cancelled), "CANCELLED");
  EXPECT_TRUE(isEqual(at(cancelled, "Cancelled", "Action"), makeString("shutdown")));
  EXPECT_TRUE(isEqual(at(cancelled, "Verified", "Observed"), makeString("none")));
  EXPECT_EQ(calls(), "/bin/systemctl\nstop\nsteward-power.timer\n");
  EXPECT_EQ(message(ask("alice", "powerSchedule", "<key>cancel</key><true/>")), "NOTHING-PENDING");
  EXPECT_EQ(calls(), "");
}

// Malformed options, plain users and dry runs start nothing.
TEST_F(PowerTest, RefusalsAndPlansChangeNothing) {
  auto paramErr = dictionaryOf({{"OSStatus", makeInteger(-50)}, {"command", makeString("restart")}});
  const std::string bad[] = {
      text("mode", "hard"), integer("mode", "1"), integer("delay", "-1"),
      "<key>delay</key><real>1.5</real>", text("delay", "10"), integer("delay", "2592001"),
      "<key>delay</key><real>1e300</real>", "<key>delay</key><true/>", integer("forceAfter", "0"),
      integer("forceAfter", "60") + text("mode", "force"), integer("forceAfter", "86401"),
      text("message", "hi\x7F"), text("message", "two\nlines"), text("message", "\xC2\x9B"),
      text("message", std::string(1001, 'x')), integer("message", "1"), text("dryRun", "true")};
  for (const std::string& more : bad) {
    SCOPED_TRACE(more);
    EXPECT_TRUE(isEqual(ask("alice", "restart", more), paramErr));
  }
  auto refused = [](const char* command) {
    return dictionaryOf({{"Message", makeString("CONNECT-AUTH")}, {"command", makeString(command)}});
  };
  EXPECT_TRUE(isEqual(ask("carol", "restart", integer("delay", "60")), refused("restart")));
  EXPECT_TRUE(isEqual(ask("carol", "powerSchedule", ""), refused("powerSchedule")));
  EXPECT_TRUE(isEqual(ask("carol", "powerSchedule", "<key>cancel</key><true/>"),
                      refused("powerSchedule")));

  auto plan = ask("carol", "restart", integer("delay", "60") + "<key>dryRun</key><true/>");
  EXPECT_TRUE(isEqual(at(plan, "Plan", "Allowed"), makeBoolean(false)));
  auto run = as<Array>(at(plan, "Plan", "Run"));
  ASSERT_TRUE(run && run->count() == 1);
  EXPECT_TRUE(isEqual(as<Array>(run->objectAtIndex(0))->objectAtIndex(0),
                      makeString("/usr/bin/systemd-run")));
  plan = ask("alice", "restart", integer("forceAfter", "30") + "<key>dryRun</key><true/>");
  EXPECT_TRUE(isEqual(at(plan, "Plan", "Allowed"), makeBoolean(true)));
  auto changes = as<Array>(at(plan, "Plan", "Changes"));
  ASSERT_TRUE(changes && changes->count() == 1);
  EXPECT_TRUE(isEqual(as<Dictionary>(changes->objectAtIndex(0))->objectForKey("Target"),
                      makeString(kDropIn)));
  EXPECT_EQ(calls(), "");
  EXPECT_FALSE(std::filesystem::exists(sandbox_.hostPath(kDropIn)));
}

}  // namespace
}  // namespace steward::sandbox
