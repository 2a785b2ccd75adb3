// The system's user and group databases, asked three questions: a user by
// name, a group by name, and whether the user is a member of the group (the
// group is the user's primary group or lists the user).
#pragma once

#include <sys/types.h>

#include <string>

namespace steward {

struct GroupMembership {
  struct User {
    std::string name;
    gid_t primaryGroup = 0;
  };

  virtual ~GroupMembership() = default;

  // False when no such user is known.
  [[nodiscard]] virtual bool userNamed(const std::string& name, User* user) = 0;
  // False when no such group is known.
  [[nodiscard]] virtual bool groupNamed(const std::string& name,
                                        gid_t* group) = 0;
  // False when the service fails; otherwise *member holds the answer.
  [[nodiscard]] virtual bool isMember(const User& user, gid_t group,
                                      bool* member) = 0;
};

// The databases as the system's name service (NSS) gives them.
GroupMembership& systemGroupMembership();

}  // namespace steward
