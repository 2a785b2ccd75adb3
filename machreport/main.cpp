// machreport: the machine's hardware and software profile on standard output.
#include <cstdio>
#include <string>
#include <vector>

#include "machreport/Command.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  std::string out;
  std::string err;
  int status = steward::machreport::runMachreport(arguments, &out, &err);
  std::fwrite(err.data(), 1, err.size(), stderr);
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() ||
      std::fflush(stdout) != 0)
    return 1;
  return status;
}
