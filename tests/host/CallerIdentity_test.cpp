#include "host/CallerIdentity.h"

#include <stdlib.h>

#include <gtest/gtest.h>

#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

// Knows alice and "admin"; everyone it knows is a member, unless it fails.
class FakeGroupMembership : public GroupMembership {
 public:
  bool userNamed(const std::string& name, User* user) override {
    *user = {name, 1001};
    return name == "alice";
  }
  bool groupNamed(const std::string& name, gid_t* group) override {
    *group = 80;
    return name == "admin";
  }
  bool isMember(const User&, gid_t, bool* member) override {
    *member = true;
    return !failing;
  }

  bool failing = false;
};

void set(const char* name, const char* value) {
  value ? setenv(name, value, 1) : unsetenv(name);
}

TEST(CallerIdentity, AddUserReadsBothVariables) {
  // REMOTE_USER, HTTP_STEWARDSESSIONID, and the user added (none: nothing
  // added, "_user_" stays as it was).
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"alice", "bob@x", "alice"},
      {"carol@example.com", nullptr, "carol@example.com"},
      {"", nullptr, ""},
      {"<USE_SESSION_ID>", "bob@session@1", "bob"},
      {"<USE_SESSION_ID>", "bob", "bob"},
      {"<USE_SESSION_ID>", "@x", ""},
      {"<USE_SESSION_ID>", nullptr, nullptr},
      {"<use_session_id>", "bob@x", "<use_session_id>"},
      {nullptr, "alice@x", nullptr},
      {"\xc3\x28", nullptr, nullptr},  // not UTF-8
      {"<USE_SESSION_ID>", "\xed\xa0\x80@x", nullptr},
  };
  for (const auto& [remoteUser, sessionID, user] : cases) {
    SCOPED_TRACE(std::string(remoteUser ? remoteUser : "-") + "/" + (sessionID ? sessionID : "-"));
    set("REMOTE_USER", remoteUser);
    set("HTTP_STEWARDSESSIONID", sessionID);
    auto context = dictionaryOf({{"_user_", makeString("previous")}});
    EXPECT_EQ(add_user_to_context(context), user != nullptr);
    EXPECT_EQ(user_name_from_context(context)->str(), user ? user : "previous");
    EXPECT_EQ(add_user_to_context(nullptr), user != nullptr);
  }
  unsetenv("REMOTE_USER");
  unsetenv("HTTP_STEWARDSESSIONID");
}

// Which users the real databases count as admins is tested in the sandbox.
TEST(Membership, EveryFailureAnswersNoMember) {
  FakeGroupMembership membership;
  EXPECT_TRUE(user_is_member_of_group(makeString("alice"), "admin", membership));
  EXPECT_FALSE(user_is_member_of_group(makeString("alice"), "wheel", membership));
  EXPECT_FALSE(user_is_member_of_group(nullptr, "admin", membership));
  EXPECT_FALSE(context_user_is_admin(nullptr, membership));
  auto context = dictionaryOf({{"_user_", makeString("alice")}});
  EXPECT_TRUE(context_user_is_admin(context, membership));
  membership.failing = true;
  EXPECT_FALSE(context_user_is_admin(context, membership));
}

}  // namespace
}  // namespace steward
