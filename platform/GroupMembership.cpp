#include "platform/GroupMembership.h"

#include <grp.h>
#include <pwd.h>

#include <vector>

namespace steward {

namespace {

class SystemGroupMembership final : public GroupMembership {
 public:
  bool userNamed(const std::string& name, User* user) override {
    if (name.empty()) return false;
    const passwd* entry = getpwnam(name.c_str());
    if (!entry) return false;
    user->name = entry->pw_name;
    user->primaryGroup = entry->pw_gid;
    return true;
  }

  bool groupNamed(const std::string& name, gid_t* group) override {
    if (name.empty()) return false;
    const struct group* entry = getgrnam(name.c_str());
    if (!entry) return false;
    *group = entry->gr_gid;
    return true;
  }

  // getgrouplist gives the primary group and every group listing the user.
  bool isMember(const User& user, gid_t group, bool* member) override {
    std::vector<gid_t> groups(32);
    for (int attempt = 0; attempt < 8; ++attempt) {
      int count = static_cast<int>(groups.size());
      if (getgrouplist(user.name.c_str(), user.primaryGroup, groups.data(),
                       &count) >= 0) {
        groups.resize(static_cast<std::size_t>(count));
        *member = false;
        for (gid_t g : groups) *member = *member || g == group;
        return true;
      }
      if (count <= static_cast<int>(groups.size())) return false;
      groups.resize(static_cast<std::size_t>(count));
    }
    return false;
  }
};

}  // namespace

GroupMembership& systemGroupMembership() {
  static SystemGroupMembership membership;
  return membership;
}

}  // namespace steward
