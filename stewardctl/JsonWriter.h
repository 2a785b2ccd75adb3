// Property-value trees as JSON, for programs that read stewardctl's output.
//
// Kinds survive the trip: dictionaries, arrays, strings, integers and
// booleans are their JSON selves; a real always carries a fraction or an
// exponent ("2.0", "1e+300"), so it never reads back as an integer; what
// JSON cannot spell is a one-key object:
//   date            {"$date": "2026-12-07T02:30:00Z"}  (whole seconds, UTC)
//   data            {"$data": "<base64>"}
//   NaN, infinities {"$real": "nan" | "inf" | "-inf"}
#pragma once

#include <string>

#include "platform/PropertyValue.h"

namespace steward::ctl {

// Compact JSON of the tree; none becomes null.
std::string jsonOf(const ValueRef& value);

// A JSON string literal of UTF-8 text, quotes included.
std::string jsonString(std::string_view text);

}  // namespace steward::ctl
