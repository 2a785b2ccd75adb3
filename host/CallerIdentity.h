// Who the caller is: the user name that stewardd passes in REMOTE_USER or
// HTTP_STEWARDSESSIONID, kept in the context under "_user_" for the run, and
// the group membership question the commands ask about it.
#pragma once

#include <string>

#include "platform/GroupMembership.h"
#include "platform/PropertyValue.h"

namespace steward {

// Stores the caller's name under "_user_"; true when a name was found in the
// environment (with no context nothing is stored). A name that is not UTF-8
// counts as no name.
bool add_user_to_context(const MutableDictionaryRef& context);

// Removes a string "_user_"; true when one was removed.
bool remove_user_from_context(const MutableDictionaryRef& context);

// The string under "_user_", or none.
StringRef user_name_from_context(const DictionaryRef& context);

// False for a missing name or group, for a user or group the membership
// service does not know, and when the service fails.
bool user_is_member_of_group(const StringRef& userName,
                             const std::string& groupName,
                             GroupMembership& membership = systemGroupMembership());

// The check of the commands that change the machine: the context's user is a
// member of "admin".
bool context_user_is_admin(const DictionaryRef& context,
                           GroupMembership& membership = systemGroupMembership());

}  // namespace steward
