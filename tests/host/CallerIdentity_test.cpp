#include "host/CallerIdentity.h"

#include <stdlib.h>

#include <map>

#include <gtest/gtest.h>

namespace steward {
namespace {

// Answers from tables; alice is listed in "admin", bob has it as primary group.
class FakeGroupMembership : public GroupMembership {
 public:
  bool userNamed(const std::string& name, User* user) override {
    asked = true;
    auto found = users.find(name);
    if (found != users.end()) *user = {name, found->second};
    return found != users.end();
  }
  bool groupNamed(const std::string& name, gid_t* group) override {
    auto found = groups.find(name);
    if (found != groups.end()) *group = found->second;
    return found != groups.end();
  }
  bool isMember(const User& user, gid_t group, bool* member) override {
    *member = user.primaryGroup == group || (group == 80 && user.name == "alice");
    return !failing;
  }

  std::map<std::string, gid_t> users = {{"alice", 1001}, {"bob", 80}, {"carol", 1003}};
  std::map<std::string, gid_t> groups = {{"admin", 80}, {"staff", 20}};
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
  EXPECT_FALSE(remove_user_from_context(context));
  EXPECT_FALSE(remove_user_from_context(nullptr));
  context->setObject(makeInteger(5), "_user_");
  EXPECT_FALSE(remove_user_from_context(context));
  EXPECT_FALSE(user_name_from_context(context));
  EXPECT_TRUE(isEqual(context->objectForKey("_user_"), makeInteger(5)));
  context->setObject(makeString("alice"), "_user_");
  EXPECT_TRUE(remove_user_from_context(context));
  EXPECT_FALSE(context->objectForKey("_user_"));
}

TEST(Membership, EveryFailureAnswersNoMember) {
  FakeGroupMembership membership;
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"alice", "admin", true},  {"bob", "admin", true},   {"carol", "admin", false},
      {"dave", "admin", false},  {"alice", "wheel", false}, {"", "admin", false},
      {"alice", "", false},
  };
  for (const auto& [user, group, member] : cases) {
    EXPECT_EQ(user_is_member_of_group(makeString(user), group, membership), member)
        << user << " in " << group;
  }
  membership.asked = false;
  EXPECT_FALSE(user_is_member_of_group(nullptr, "admin", membership));
  EXPECT_FALSE(membership.asked);
  auto context = makeMutableDictionary();
  EXPECT_FALSE(context_user_is_admin(context, membership));
  EXPECT_FALSE(context_user_is_admin(nullptr, membership));
  context->setObject(makeString("bob"), "_user_");
  EXPECT_TRUE(context_user_is_admin(context, membership));
  membership.failing = true;
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
