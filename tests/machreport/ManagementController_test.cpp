// machreport against the BMC simulator in the sandbox: what the controller
// says, one that does not answer, none at all.
#include <gtest/gtest.h>

#include "tests/sandbox/Sandbox.h"
#include "tests/support/IpmiSimulator.h"

namespace steward::sandbox {
namespace {

TEST(ManagementControllerSection, TellsWhatTheControllerSaysNeverFailing) {
  struct Case { std::string settings, detail, section; } cases[] = {
      {ipmiSettings(), "-1",
       "Management Controller:\n  Address: 127.0.0.1:6230\n  Firmware Version: 9.08\n"
       "  IPMI Version: 2.0\n  Manufacturer ID: 4753\n  Product ID: 0x0f02\n  Device ID: 0\n"
       "  Device Revision: 3\n"},
      {ipmiSettings(6231), "1",
       "Management Controller:\n  Address: 127.0.0.1:6231\n  Status: not answering\n"},
      {"", "-1", "Management Controller:\n"},
  };
  Sandbox sandbox;
  installIpmiSimulator(sandbox, {});
  std::string runs;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    std::string n = std::to_string(i);
    sandbox.writeFile("/tmp/conf" + n, "<plist><dict>" + cases[i].settings + "</dict></plist>");
    runs += "cp /tmp/conf" + n + " /etc/vigild.conf; machreport -detailLevel " + cases[i].detail +
            " >/tmp/out" + n + "; echo $? >>/tmp/status; ";
  }
  runReadingLog(sandbox, {.shell = startIpmiSimulator() + runs,
               .programs = {{"machreport", STEWARD_MACHREPORT_PATH}}});
  EXPECT_EQ(sandbox.readFile("/tmp/status"), "0\n0\n0\n");
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    std::string out = sandbox.readFile("/tmp/out" + std::to_string(i));
    std::size_t start = std::min(out.find("Management Controller:"), out.size());
    EXPECT_EQ(out.substr(start, out.find("\n\n", start) - start + 1), cases[i].section);
  }
}

}  // namespace
}  // namespace steward::sandbox
