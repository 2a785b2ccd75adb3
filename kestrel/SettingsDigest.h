// "Verified" for a settings file written whole: its SHA-256 as asked for,
// as read back, and as it was before.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/PropertyValue.h"

namespace steward {

// The file's bytes; nothing when it cannot be read.
std::optional<std::string> settingsFileBytes(const std::string& path);

// {Requested, Observed, Previous, Agree} of hexadecimal digests; Observed
// and Previous are left out for a file that could not be read.
DictionaryRef verifiedSettingsFile(const std::string& path, std::string_view written,
                                   const std::optional<std::string>& previous);

}  // namespace steward
