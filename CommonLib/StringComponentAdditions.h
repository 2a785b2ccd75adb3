// Extensions of the string value: whole-file UTF-8 reading and writing that
// keeps a replaced file's owner and group, white-space compaction, and the
// backslash escape scheme of strings split at, or joined with, a separator.
//
// Text is stored as UTF-8, but positions and characters mean 16-bit code
// units: a separator or escape target is one code unit, and the results are
// the same as those of a 16-bit string for any text. Bytes that are not
// UTF-8 pass through unchanged and never match a separator.
//
// None of these functions changes its receiver; a none receiver gives none
// (or false), as a message to nothing would.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/PropertyValue.h"

namespace steward {

// The whole file decoded as UTF-8; none when the file cannot be read or its
// bytes are not UTF-8.
StringRef UTF8StringWithContentsOfFile(const std::string& path);
MutableStringRef UTF8MutableStringWithContentsOfFile(const std::string& path);

// Writes the text as UTF-8, atomically (a new file beside the old one, then
// renamed over it) or straight into the path. A file that was there keeps
// its owner and group; a new file gets the default ids (-1: as created).
// False when the write fails (nothing is logged) or when the owner and group
// cannot be set; the latter is reported on standard error and the new
// content stays written.
[[nodiscard]] bool writeUTF8StringToFile(const StringRef& text,
                                         const std::string& path,
                                         bool atomically,
                                         uid_t defaultUserID = uid_t(-1),
                                         gid_t defaultGroupID = gid_t(-1));

// White space trimmed at both ends and every inner run of it replaced by one
// space. White space is Unicode category Z plus the codes 9 to 13 and 133.
// The text ends at the first character of code 0.
StringRef stringWithCompactedAndTrimmedWhiteSpace(const StringRef& text);

// Every backslash removed; the character after it is taken literally (so two
// backslashes give one). A backslash at the very end is dropped.
MutableStringRef unescapedString(const StringRef& text);

// A backslash inserted before every backslash and every `character`.
// *hasSpaces (when given) tells whether an unescaped space (code 32) is left.
MutableStringRef escapedStringForCharacter(const StringRef& text,
                                           char16_t character, bool* hasSpaces);

// The inverse of joining escaped components with the separator: splits at
// every separator that no backslash escapes and unescapes the components.
// Empty components remain; the empty string gives none. A trailing single
// backslash is dropped and the last component kept. The backslash cannot be
// the separator.
ArrayRef componentsSeparatedByCharacter(const StringRef& text,
                                        char16_t separator);

// The same operations on plain text, for callers that keep no values.
std::vector<std::string> splitEscapedComponents(std::string_view text,
                                                char16_t separator);
std::string joinEscapedComponents(const std::vector<std::string>& components,
                                  char16_t separator);

}  // namespace steward
