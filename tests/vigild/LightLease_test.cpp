#include "kestrel/LightLease.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/ScratchDirectory.h"
#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

// A record written is read back whole, root-only; records of the wrong
// shape are no lease, so a mangled file never switches a light.
TEST(LightLease, RecordRoundTripsAndBadRecordsAreNoLease) {
  ScratchDirectory scratch;
  std::string path = lightLeasePath(scratch.path());
  std::string error;
  ASSERT_TRUE(writeLightLease(path, {"alice", "rack 4", 1.8e9}, &error)) << error;
  auto lease = readLightLease(path);
  ASSERT_TRUE(lease);
  EXPECT_EQ(lease->owner + "|" + lease->reason, "alice|rack 4");
  EXPECT_DOUBLE_EQ(lease->deadline, 1.8e9);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const ValueRef bad[] = {
      makeString("x"),
      dictionaryOf({{"Owner", makeString("a")}}),
      dictionaryOf({{"Deadline", makeInteger(5)}}),
      dictionaryOf({{"Deadline", Date::fromUnixTime(5)}, {"Reason", makeInteger(1)}}),
  };
  for (const ValueRef& record : bad) EXPECT_FALSE(lightLeaseFromRecord(record)) << textOf(record);
  EXPECT_TRUE(removeLightLease(path) && removeLightLease(path));
  EXPECT_FALSE(readLightLease(path));
}

TEST(LightLease, StatusRoundsTimeLeftUpAndNeverBelowZero) {
  const std::pair<double, int> cases[] = {{0.2, 1}, {1.0, 1}, {59.01, 60}, {0, 0}, {-30, 0}};
  for (auto [left, shown] : cases) {
    auto status = lightLeaseStatus({"", "why", 1000 + left}, 1000);
    EXPECT_TRUE(isEqual(status->objectForKey("SecondsLeft"), makeInteger(shown))) << left;
    EXPECT_EQ(status->objectForKey("Owner"), nullptr);
  }
}

// The daemon's try gives way to a holder; the tool's wait gets it after.
TEST(LightLease, EntryLockIsExclusiveAcrossOpenings) {
  ScratchDirectory scratch;
  auto held = std::make_unique<LightEntryLock>(scratch.path(), true);
  ASSERT_TRUE(held->held());
  EXPECT_FALSE(LightEntryLock(scratch.path(), false).held());
  held.reset();
  EXPECT_TRUE(LightEntryLock(scratch.path(), false).held());
}

}  // namespace
}  // namespace steward
