// Property values as one line of JSON and back, for the audit log's records.
// Dates become "YYYY-MM-DDTHH:MM:SSZ" strings and data "<N bytes>", so a
// record reads back with strings in their place.
#pragma once

#include <string>
#include <string_view>

#include "platform/PropertyValue.h"

namespace steward {

// Compact JSON on one line (control characters escaped); none is null.
std::string jsonText(const ValueRef& value);

// The value of JSON text; none when it is not JSON or holds a null at the top.
// A null inside a container is left out.
ValueRef valueOfJson(std::string_view text);

// "YYYY-MM-DDTHH:MM:SSZ" of a Unix time; "" outside the years 0000 to 9999.
std::string isoTime(double unixTime);

}  // namespace steward
