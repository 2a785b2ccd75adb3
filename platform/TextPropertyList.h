// The old text form of property lists, and the strings-file form built on it.
//
//   { key = value; "quoted key" = ( a, "b c", <0fbd 7777> ); }
//
// Values: quoted strings ("..." with the escapes \n \t \r \" \\ \a \b \f \v,
// octal \NNN and \UXXXX), unquoted strings of [A-Za-z0-9_$+/:.-],
// dictionaries, arrays (a trailing comma is allowed) and data. Comments
// (// and /* */) may stand wherever white space may.
//
// A strings file is a dictionary of strings without the braces:
//
//   "key" = "value";   /* an entry */
//   "key";             // the same as "key" = "key";
//
// Text with no value at all (empty, or only comments) is an empty strings
// file. Input may start with a UTF-8 byte order mark, or be UTF-16 with one.
#pragma once

#include <string>
#include <string_view>

#include "platform/PropertyList.h"
#include "platform/PropertyValue.h"

namespace steward {

// The tree in the text, or none with "line N: reason" in *error. Anything
// but the forms above fails, as does nesting deeper than kMaxTextDepth.
[[nodiscard]] ValueRef readOpenStepPropertyList(std::string_view text,
                                                Mutability mutability,
                                                std::string* error);

inline constexpr int kMaxTextDepth = 512;

}  // namespace steward
