// A file's modification time from one lstat call, without a general
// attribute query.
#pragma once

#include <string>

#include "platform/PropertyValue.h"

namespace steward {

// The modification time, in whole seconds, of the path itself (a symbolic
// link is not followed); none when the path cannot be looked at.
DateRef modificationDateAtPath(const std::string& path);

}  // namespace steward
