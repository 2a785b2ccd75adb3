// A baseboard management controller for sandbox tests: OpenIPMI's ipmi_sim
// on the sandbox's loopback address, reached over IPMI 2.0 LAN. Its
// chassis control program records each request in kChassisLog.
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

inline constexpr const char* kChassisLog = "/tmp/bmc/chassis.log";

// Writes the simulator's files and the password file /etc/bmc.pass.
void installIpmiSimulator(Sandbox& sandbox, const std::vector<SimulatedSensor>& sensors);
// Shell text starting it, defining `await CONDITION` (ten seconds at most).
std::string startIpmiSimulator();
// The settings' "IPMI" entry that reaches it, as XML dictionary content.
std::string ipmiSettings(int port = 6230);

}  // namespace steward::sandbox
