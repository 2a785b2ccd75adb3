// UTF-8 checks and UTF-16 conversion shared by the property-list readers and
// writers. Text in property values is always UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace steward::unicode {

// True when the bytes are well-formed UTF-8: shortest forms only, no
// surrogates, nothing above U+10FFFF.
bool isValidUTF8(std::string_view bytes);

// The bytes with every code point that `keep` refuses, and every byte that
// is not part of well-formed UTF-8, replaced by `replacement`.
std::string replacingCharacters(std::string_view bytes, bool (*keep)(char32_t),
                                std::string_view replacement);

// Appends the UTF-8 form of a code point (not a surrogate, at most U+10FFFF).
void appendUTF8(char32_t codePoint, std::string* out);

// Converts UTF-16 (big- or little-endian code units, no BOM handling) to
// UTF-8; false on an odd byte count or an unpaired surrogate.
[[nodiscard]] bool utf16ToUTF8(std::string_view bytes, bool bigEndian,
                               std::string* out);

// Appends valid UTF-8 as UTF-16BE code units; returns how many were written.
std::uint64_t appendUTF16BE(std::string_view utf8, std::string* out);

}  // namespace steward::unicode
