#include "deploy/VerifiedLogins.h"

#include <gtest/gtest.h>

namespace steward {
namespace {

struct Case {
  const char* what;
  const char* user;
  const char* password;
  double at;  // alice:secret was verified at 100, for 30 s
  bool known;
};

TEST(VerifiedLogins, KnowsOnlyTheSameCredentialsWithinTheLifetime) {
  const Case cases[] = {
      {"same, at once", "alice", "secret", 100, true},
      {"same, just before expiry", "alice", "secret", 129.9, true},
      {"same, expired", "alice", "secret", 130, false},
      {"same, clock went back", "alice", "secret", 50, false},
      {"other password", "alice", "secreT", 101, false},
      {"other user", "carol", "secret", 101, false},
      {"boundary moved", "alices", "ecret", 101, false},
  };
  VerifiedLogins logins(30, 8);
  ASSERT_TRUE(logins.remember("alice", "secret", 100));
  for (const Case& c : cases)
    EXPECT_EQ(logins.contains(c.user, c.password, c.at), c.known) << c.what;
}

TEST(VerifiedLogins, DropsTheOldestBeyondCapacity) {
  VerifiedLogins logins(30, 2);
  for (const char* password : {"one", "two", "three"}) ASSERT_TRUE(logins.remember("u", password, 1));
  EXPECT_FALSE(logins.contains("u", "one", 2));
  EXPECT_TRUE(logins.contains("u", "two", 2) && logins.contains("u", "three", 2));
}

}  // namespace
}  // namespace steward
