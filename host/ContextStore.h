// The context of a tool name: a dictionary kept between runs in one file per
// name, "/private/var/stewardd/" + last path component + ".lock". The same
// file is the lock that lets one run at a time work with that name: it is
// held from get_and_lock_context until set_and_unlock_context.
#pragma once

#include <string>
#include <string_view>

#include "platform/PropertyValue.h"

namespace steward {

inline constexpr const char* kContextDirectory = "/private/var/stewardd/";

// The context file of `name` inside `directory` (which ends with "/").
std::string context_file_path(std::string_view name,
                              const std::string& directory = kContextDirectory);

// Opens (creating with mode 0770 when missing) and locks the context file,
// waiting for the lock in 1 ms steps, and loads the archived dictionary with
// "contextDirty" set to false. None, with *lockFileFD -1, when the file cannot
// be opened; a symbolic link or anything but a regular file under the name
// is refused that way too, and logged. An empty or undecodable file gives an
// empty context.
MutableDictionaryRef get_and_lock_context(
    std::string_view name, int* lockFileFD,
    const std::string& directory = kContextDirectory);

// Writes the context back as "contextDirty" decides (absent or not a string:
// write; a string: remove it, write only for "YES"; no context: empty the
// file), then unlocks and closes, setting *lockFileFD to -1. Does nothing
// when the descriptor is already -1.
void set_and_unlock_context(int* lockFileFD, MutableDictionaryRef* context);

}  // namespace steward
