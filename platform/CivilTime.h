// UTC calendar times of the proleptic Gregorian calendar, limited to the
// years 0000 to 9999 that the property-list date texts can spell.
#pragma once

#include <cstdint>

namespace steward {

struct CivilTime {
  int year;
  unsigned month, day, hour, minute, second;
};

// Days since 1970-01-01; any year.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day);

// The whole second `floor(secondsSinceReference)` (seconds since
// 2001-01-01T00:00:00Z) as a calendar time. False, leaving *out alone, for
// NaN, infinities and anything outside the years 0000 to 9999.
bool civilTimeOf(double secondsSinceReference, CivilTime* out);

}  // namespace steward
