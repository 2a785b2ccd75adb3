// The parts of the power options that need no machine: what systemctl's
// time spans mean, the timer's description read back, the accepted edges.
#include "kestrel/PowerPlan.h"

#include <gtest/gtest.h>

#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

TEST(PowerPlan, TimespansAsSystemctlShowsThem) {
  const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
      {"30min", 1800}, {"1min 30s", 90}, {"1h 1min 1s", 3661}, {"2d", 172800}, {"1w", 604800},
      {"1s 500ms", 1}, {"infinity", -1}, {"0", 0}, {"", std::nullopt},
      {"5", std::nullopt}, {"min", std::nullopt}, {"1x", std::nullopt}, {"1min  2s", std::nullopt},
      {"99999999999999w", std::nullopt}};
  for (const auto& [text, seconds] : cases) EXPECT_EQ(parseTimespan(text), seconds) << text;
}

TEST(PowerPlan, DescriptionsComeBackWhole) {
  PendingPower pending{PowerAction::kShutdown, true, 1800000000, 90, 1799999000, "al ice"};
  auto back = parsePending(describePending(pending));
  ASSERT_TRUE(back);
  EXPECT_EQ(describePending(*back), describePending(pending));
  EXPECT_EQ(back->user, "al ice");
  for (const char* other : {"steward-power.timer", "steward_kestrel reboot graceful at=1 forceAfter=0 asked=1 by=a",
                            "steward_kestrel restart graceful at=x forceAfter=0 asked=1 by=a",
                            "steward_kestrel restart graceful at=1 asked=1 forceAfter=0 by=a",
                            "steward_kestrel restart graceful at=1 forceAfter=0 asked=1"}) {
    EXPECT_FALSE(parsePending(other)) << other;
  }
}

// The largest values are taken, whole reals too; one more is not.
TEST(PowerPlan, RequestEdges) {
  auto accepted = parsePowerRequest(dictionaryOf({{"delay", makeInteger(kMaxPowerDelay)},
                                                  {"forceAfter", makeReal(86400.0)},
                                                  {"message", makeString("süß, 5 min")}}),
                                    PowerAction::kRestart);
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->delay, kMaxPowerDelay);
  EXPECT_EQ(accepted->forceAfter, kMaxForceAfter);
  EXPECT_FALSE(parsePowerRequest(dictionaryOf({{"delay", makeReal(kMaxPowerDelay + 1.0)}}),
                                 PowerAction::kRestart));
  EXPECT_FALSE(parsePowerRequest(dictionaryOf({{"delay", makeReal(-0.5)}}), PowerAction::kRestart));
}

}  // namespace
}  // namespace steward
