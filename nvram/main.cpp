// nvram: prints and sets the firmware's boot device (see Nvram.h).
#include <cstdio>
#include <string>
#include <vector>

#include "nvram/Nvram.h"
#include "platform/FirmwareVariables.h"

int main(int argc, char** argv) {
  auto variables = steward::openFirmwareVariables();
  steward::nvram::Nvram nvram(*variables);
  std::string out, err;
  int status = nvram.run(std::vector<std::string>(argv + 1, argv + argc), &out, &err);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fwrite(err.data(), 1, err.size(), stderr);
  if (std::fflush(stdout) != 0 && status == 0) status = 1;
  return status;
}
