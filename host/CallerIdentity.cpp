#include "host/CallerIdentity.h"

#include <cstdlib>
#include <string_view>

#include "platform/TextEncoding.h"

namespace steward {

namespace {

constexpr std::string_view kUserKey = "_user_";
constexpr std::string_view kSessionMarker = "<USE_SESSION_ID>";

// The caller's name as the environment gives it; false when there is none.
bool callerNameFromEnvironment(std::string* name) {
  const char* remoteUser = std::getenv("REMOTE_USER");
  if (!remoteUser) return false;
  if (kSessionMarker != remoteUser) {
    *name = remoteUser;
    return true;
  }
  const char* sessionID = std::getenv("HTTP_STEWARDSESSIONID");
  if (!sessionID) return false;
  std::string_view session = sessionID;
  *name = std::string(session.substr(0, session.find('@')));
  return true;
}

}  // namespace

bool add_user_to_context(const MutableDictionaryRef& context) {
  std::string name;
  if (!callerNameFromEnvironment(&name) || !unicode::isValidUTF8(name)) return false;
  if (context) context->setObject(makeString(std::move(name)), std::string(kUserKey));
  return true;
}

bool remove_user_from_context(const MutableDictionaryRef& context) {
  if (!context || !as<String>(context->objectForKey(kUserKey))) return false;
  context->removeObjectForKey(kUserKey);
  return true;
}

StringRef user_name_from_context(const DictionaryRef& context) {
  if (!context) return nullptr;
  return as<String>(context->objectForKey(kUserKey));
}

bool user_is_member_of_group(const StringRef& userName,
                             const std::string& groupName,
                             GroupMembership& membership) {
  if (!userName || groupName.empty()) return false;
  GroupMembership::User user;
  if (!membership.userNamed(userName->str(), &user)) return false;
  gid_t group;
  if (!membership.groupNamed(groupName, &group)) return false;
  bool member = false;
  if (!membership.isMember(user, group, &member)) return false;
  return member;
}

bool context_user_is_admin(const DictionaryRef& context,
                           GroupMembership& membership) {
  return user_is_member_of_group(user_name_from_context(context), "admin",
                                 membership);
}

}  // namespace steward
