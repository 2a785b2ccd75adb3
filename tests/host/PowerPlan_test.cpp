// The parts of the power options that need no machine: systemctl's time
// spans, the timer's description read back, the largest values accepted.
#include "kestrel/PowerPlan.h"

#include <gtest/gtest.h>

#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

TEST(PowerPlan, TimespansAsSystemctlShowsThem) {
  const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
      {"30min", 1800}, {"1min 30s", 90}, {"1h 1min 1s", 3661}, {"2d 1w", 777600}, {"1s 500ms", 1},
      {"infinity", -1}, {"0", 0}, {"", {}}, {"5", {}}, {"min", {}}, {"1x", {}}, {"1min  2s", {}},
      {"99999999999999w", {}}};
  for (const auto& [text, seconds] : cases) EXPECT_EQ(parseTimespan(text), seconds) << text;
}

TEST(PowerPlan, DescriptionsComeBackWhole) {
  PendingPower pending{PowerAction::kShutdown, true, 1800000000, 90, 1799999000, "al ice"};
  auto back = parsePending(describePending(pending));
  ASSERT_TRUE(back);
  EXPECT_EQ(describePending(*back), describePending(pending));
  for (const char* other : {"steward-power.timer", "steward_kestrel reboot graceful at=1",
                            "steward_kestrel restart graceful at=1 forceAfter=0 asked=1"})
    EXPECT_FALSE(parsePending(other)) << other;
}

// "ß" holds the byte 0x9F, which as a character would be a C1 control.
TEST(PowerPlan, LargestValuesAreTakenWholeRealsToo) {
  auto largest = dictionaryOf({{"delay", makeInteger(kMaxPowerDelay)},
                               {"forceAfter", makeReal(86400.0)}, {"message", makeString("süß")}});
  EXPECT_TRUE(parsePowerRequest(largest, PowerAction::kRestart));
}

}  // namespace
}  // namespace steward
