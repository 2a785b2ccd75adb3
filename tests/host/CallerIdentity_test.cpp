#include "host/CallerIdentity.h"

#include <stdlib.h>

#include <map>

#include <gtest/gtest.h>

namespace steward {
namespace {

// Answers from tables, and records whether it was asked at all.
class FakeGroupMembership : public GroupMembership {
 public:
  bool userNamed(const std::string& name, User* user) override {
    asked = true;
    auto found = users.find(name);
    if (found == users.end()) return false;
    *user = {name, found->second};
    return true;
  }
  bool groupNamed(const std::string& name, gid_t* group) override {
    auto found = groups.find(name);
    if (found == groups.end()) return false;
    *group = found->second;
    return true;
  }
  bool isMember(const User& user, gid_t group, bool* member) override {
    if (failing) return false;
    *member = user.primaryGroup == group ||
              (group == 80 && user.name == "alice");
    return true;
  }

  std::map<std::string, gid_t> users = {{"alice", 1001}, {"bob", 80}, {"carol", 1003}};
  std::map<std::string, gid_t> groups = {{"admin", 80}, {"staff", 20}};
  bool failing = false;
  bool asked = false;
};

// Sets the two variables for one test and clears them afterwards.
class IdentityTest : public ::testing::Test {
 protected:
  void TearDown() override {
    unsetenv("REMOTE_USER");
    unsetenv("HTTP_STEWARDSESSIONID");
  }
  static void set(const char* name, const char* value) {
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
};

TEST_F(IdentityTest, AddUserReadsBothVariables) {
  struct Case {
    const char* remoteUser;
    const char* sessionID;
    bool added;
    const char* user;  // none: no "_user_"
  };
  const Case cases[] = {
      {"alice", "bob@x", true, "alice"},
      {"carol@example.com", nullptr, true, "carol@example.com"},
      {"", nullptr, true, ""},
      {"<USE_SESSION_ID>", "bob@session@1", true, "bob"},
      {"<USE_SESSION_ID>", "bob", true, "bob"},
      {"<USE_SESSION_ID>", "@x", true, ""},
      {"<USE_SESSION_ID>", nullptr, false, nullptr},
      {"<use_session_id>", "bob@x", true, "<use_session_id>"},
      {nullptr, "alice@x", false, nullptr},
      {"\xc3\x28", nullptr, false, nullptr},  // not UTF-8
      {"<USE_SESSION_ID>", "\xed\xa0\x80@x", false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.remoteUser ? c.remoteUser : "(unset)") + " / " +
                 (c.sessionID ? c.sessionID : "(unset)"));
    set("REMOTE_USER", c.remoteUser);
    set("HTTP_STEWARDSESSIONID", c.sessionID);
    auto context = makeMutableDictionary();
    context->setObject(makeString("previous"), "_user_");
    EXPECT_EQ(add_user_to_context(context), c.added);
    StringRef user = user_name_from_context(context);
    EXPECT_EQ(user->str(), c.user ? c.user : "previous");
    EXPECT_EQ(add_user_to_context(nullptr), c.added);
  }
}

TEST_F(IdentityTest, RemoveUserTakesOnlyStrings) {
  auto context = makeMutableDictionary();
  EXPECT_FALSE(remove_user_from_context(context));
  EXPECT_FALSE(remove_user_from_context(nullptr));
  context->setObject(makeInteger(5), "_user_");
  EXPECT_FALSE(remove_user_from_context(context));
  EXPECT_FALSE(user_name_from_context(context));
  EXPECT_TRUE(isEqual(context->objectForKey("_user_"), makeInteger(5)));
  context->setObject(makeString("alice"), "_user_");
  EXPECT_TRUE(remove_user_from_context(context));
  EXPECT_FALSE(context->objectForKey("_user_"));
  EXPECT_FALSE(user_name_from_context(nullptr));
}

TEST(Membership, EveryFailureAnswersNoMember) {
  FakeGroupMembership membership;
  EXPECT_TRUE(user_is_member_of_group(makeString("alice"), "admin", membership));
  EXPECT_TRUE(user_is_member_of_group(makeString("bob"), "admin", membership));
  EXPECT_FALSE(user_is_member_of_group(makeString("carol"), "admin", membership));
  EXPECT_FALSE(user_is_member_of_group(makeString("dave"), "admin", membership));
  EXPECT_FALSE(user_is_member_of_group(makeString("alice"), "wheel", membership));
  EXPECT_FALSE(user_is_member_of_group(makeString(""), "admin", membership));
  EXPECT_FALSE(user_is_member_of_group(makeString("alice"), "", membership));
  membership.asked = false;
  EXPECT_FALSE(user_is_member_of_group(nullptr, "admin", membership));
  EXPECT_FALSE(membership.asked);
  membership.failing = true;
  EXPECT_FALSE(user_is_member_of_group(makeString("bob"), "admin", membership));
}

TEST(Membership, AdminCheckUsesTheContextsUser) {
  FakeGroupMembership membership;
  auto context = makeMutableDictionary();
  EXPECT_FALSE(context_user_is_admin(context, membership));
  EXPECT_FALSE(context_user_is_admin(nullptr, membership));
  context->setObject(makeString("alice"), "_user_");
  EXPECT_TRUE(context_user_is_admin(context, membership));
  context->setObject(makeString("carol"), "_user_");
  EXPECT_FALSE(context_user_is_admin(context, membership));
}

// The real databases, with names every system has or none has.
TEST(SystemGroupMembership, AnswersFromTheSystemDatabases) {
  EXPECT_TRUE(user_is_member_of_group(makeString("root"), "root"));
  EXPECT_FALSE(user_is_member_of_group(makeString("no-such-user-4711"), "root"));
  EXPECT_FALSE(user_is_member_of_group(makeString("root"), "no-such-group-4711"));
}

}  // namespace
}  // namespace steward
