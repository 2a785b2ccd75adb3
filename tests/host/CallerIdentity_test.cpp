#include "host/CallerIdentity.h"

#include <stdlib.h>

#include <gtest/gtest.h>

namespace steward {
namespace {

// Knows alice and "admin"; everyone it knows is a member, unless it fails.
class FakeGroupMembership : public GroupMembership {
 public:
  bool userNamed(const std::string& name, User* user) override {
    asked = true;
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
  bool asked = false;
};

void set(const char* name, const char* value) {
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

TEST(CallerIdentity, AddUserReadsBothVariables) {
  struct Case {
    const char* remoteUser;
    const char* sessionID;
    const char* user;  // none: nothing added, "_user_" stays as it was
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.remoteUser ? c.remoteUser : "(unset)") + " / " +
                 (c.sessionID ? c.sessionID : "(unset)"));
    set("REMOTE_USER", c.remoteUser);
    set("HTTP_STEWARDSESSIONID", c.sessionID);
    auto context = makeMutableDictionary();
    context->setObject(makeString("previous"), "_user_");
    EXPECT_EQ(add_user_to_context(context), c.user != nullptr);
    EXPECT_EQ(user_name_from_context(context)->str(), c.user ? c.user : "previous");
    EXPECT_EQ(add_user_to_context(nullptr), c.user != nullptr);
  }
  unsetenv("REMOTE_USER");
  unsetenv("HTTP_STEWARDSESSIONID");
}

TEST(CallerIdentity, RemoveUserTakesOnlyStrings) {
  auto context = makeMutableDictionary();
  EXPECT_FALSE(remove_user_from_context(nullptr));
  context->setObject(makeInteger(5), "_user_");
  EXPECT_FALSE(remove_user_from_context(context));
  EXPECT_FALSE(user_name_from_context(context));
  EXPECT_TRUE(isEqual(context->objectForKey("_user_"), makeInteger(5)));
  context->setObject(makeString("alice"), "_user_");
  EXPECT_TRUE(remove_user_from_context(context));
  EXPECT_FALSE(context->objectForKey("_user_"));
}

// Which users the real databases count as admins is tested in the sandbox.
TEST(Membership, EveryFailureAnswersNoMember) {
  FakeGroupMembership membership;
  EXPECT_TRUE(user_is_member_of_group(makeString("alice"), "admin", membership));
  EXPECT_FALSE(user_is_member_of_group(makeString("dave"), "admin", membership));
  EXPECT_FALSE(user_is_member_of_group(makeString("alice"), "wheel", membership));
  membership.asked = false;
  EXPECT_FALSE(user_is_member_of_group(nullptr, "admin", membership));
  EXPECT_FALSE(membership.asked);
  EXPECT_FALSE(context_user_is_admin(nullptr, membership));
  auto context = makeMutableDictionary();
  context->setObject(makeString("alice"), "_user_");
  EXPECT_TRUE(context_user_is_admin(context, membership));
  membership.failing = true;
  EXPECT_FALSE(context_user_is_admin(context, membership));
}

}  // namespace
}  // namespace steward
