#include "platform/CivilTime.h"

#include <cmath>

namespace steward {
namespace {

constexpr std::int64_t kUnixToReference = 978307200;

// H. Hinnant's algorithm, the inverse of daysFromCivil.
void civilFromDays(std::int64_t z, std::int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  auto doe = static_cast<unsigned>(z - era * 146097);
  unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2);
}

}  // namespace

std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  auto yoe = static_cast<unsigned>(y - era * 400);
  unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool civilTimeOf(double secondsSinceReference, CivilTime* out) {
  static const double kFirst =
      static_cast<double>(daysFromCivil(0, 1, 1) * 86400 - kUnixToReference);
  static const double kEnd =
      static_cast<double>(daysFromCivil(10000, 1, 1) * 86400 - kUnixToReference);
  // Written so that NaN fails too; only then is the conversion defined.
  if (!(secondsSinceReference >= kFirst && secondsSinceReference < kEnd))
    return false;
  const auto unix =
      static_cast<std::int64_t>(std::floor(secondsSinceReference)) + kUnixToReference;
  std::int64_t days = unix >= 0 ? unix / 86400 : -((-unix + 86399) / 86400);
  std::int64_t second = unix - days * 86400;
  std::int64_t year;
  civilFromDays(days, &year, &out->month, &out->day);
  out->year = static_cast<int>(year);
  out->hour = static_cast<unsigned>(second / 3600);
  out->minute = static_cast<unsigned>(second / 60 % 60);
  out->second = static_cast<unsigned>(second % 60);
  return true;
}

}  // namespace steward
