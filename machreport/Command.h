// The machreport command line:
//   machreport [-detailLevel N] [-xml] [-root DIR]
// N is 0 (overview), 1 (the usual, default) or -1 (everything). -root reads
// a copy of another machine's /sys, /proc and /etc instead of this one's.
#pragma once

#include <string>
#include <vector>

namespace steward::machreport {

constexpr int kExitUsage = 2;

// Writes the profile to *out and returns 0, or a usage line to *err and
// returns kExitUsage. Missing sources are never an error.
int runMachreport(const std::vector<std::string>& arguments, std::string* out,
                  std::string* err);

}  // namespace steward::machreport
