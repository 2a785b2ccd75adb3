// OpenIPMI's BMC simulator on the sandbox's loopback address, port 6230; its
// chassis control program records each request in /tmp/bmc/chassis.log.
#pragma once

#include "tests/sandbox/Sandbox.h"

namespace steward::sandbox {

struct SimulatedSensor {
  int number;
  std::string name;  // mixed case: FreeIPMI shows packed upper-case names raw
  bool fan;          // else a temperature
  int value;         // raw byte; a fan reads 50 RPM a step
  int upperNonCritical = 0, upperCritical = 0;  // raw; 0 for none
};

// Writes the simulator's files and the password file /etc/bmc.pass.
void installIpmiSimulator(Sandbox& sandbox, const std::vector<SimulatedSensor>& sensors);
// Shell text starting it (pid in $sim); defines `await CONDITION` (10 s).
std::string startIpmiSimulator();
// Runs the sandbox reading the log meanwhile, lest the simulator's log
// lines fill the socket and stall whoever logs.
RunResult runReadingLog(Sandbox& sandbox, const RunOptions& options);
// The settings' "IPMI" entry that reaches it, as XML dictionary content.
std::string ipmiSettings(int port = 6230);

}  // namespace steward::sandbox
