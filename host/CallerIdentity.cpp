#include "host/CallerIdentity.h"

#include <cstdlib>
#include <string_view>

namespace steward {

namespace {

constexpr std::string_view kUserKey = "_user_";
constexpr std::string_view kSessionMarker = "<USE_SESSION_ID>";

// Well-formed UTF-8: no stray continuation bytes, no overlong forms, no
// surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t length;
    unsigned min;
    unsigned code;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      length = 2, min = 0x80, code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3, min = 0x800, code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4, min = 0x10000, code = c & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

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
  if (!callerNameFromEnvironment(&name) || !isValidUtf8(name)) return false;
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
