#include "tests/support/IpmiSimulator.h"

#include <unistd.h>

namespace steward::sandbox {
namespace {

std::string sensorRecord(const SimulatedSensor& s) {
  std::string r = "sdr type 1\n sensor_owner_id 0x20\n sensor_owner_lun 0\n channel_number 0\n"
                  " entity_id system_board\n entity_instance 1\n init_scanning true\n"
                  " init_sensor_type true\n default_sensor_scan_on true\n sensor_auto_rearm true\n"
                  " sensor_threshold_access 1\n event_reading_type_code 1\n linearization linear\n"
                  " sensor_event_msg_ctrl per_state\n analog_data_format unsigned\n";
  r += s.fan ? " sensor_type Fan\n base_unit RPM\n m 50\n"
             : " sensor_type Temperature\n base_unit degrees_C\n m 1\n";
  for (auto [limit, name] : {std::pair{s.upperNonCritical, "unc"}, {s.upperCritical, "uc"}}) {
    std::string n = name;
    if (limit)
      r += " " + n + "_thrsh_readable true\n return_" + n + " true\n " + n + "_thresh " +
           std::to_string(limit) + "\n";
  }
  return r + " sensor_number " + std::to_string(s.number) + "\n id_string \"" + s.name +
         "\"\nendsdr\n";
}

}  // namespace

void installIpmiSimulator(Sandbox& sandbox, const std::vector<SimulatedSensor>& sensors) {
  sandbox.writeFile("/tmp/bmc/lan.conf",
                    "name \"bmc\"\nchassis_control \"/tmp/bmc/chassis\"\nset_working_mc 0x20\n"
                    "startlan 1\n addr 127.0.0.1 6230\n priv_limit admin\n"
                    " allowed_auths_admin md5\n allowed_auths_operator md5\n"
                    " allowed_auths_user md5\n guid a123456789abcdefa123456789abcdef\nendlan\n"
                    "user 2 true \"admin\" \"secret\" admin 10 md5\n");
  // Device 0 revision 3, firmware 9.08, manufacturer 0x1291, product 0xf02.
  std::string commands = "mc_setbmc 0x20\n"
                         "mc_add 0x20 0 no-device-sdrs 0x23 9 8 0x9f 0x1291 0xf02 persist_sdr\n";
  std::string records;
  for (const SimulatedSensor& s : sensors) {
    records += sensorRecord(s);
    std::string at = "0x20 0 " + std::to_string(s.number) + " ";
    commands += "sensor_add " + at + (s.fan ? "4" : "1") + " 1\n";
    commands += "sensor_set_threshold " + at + "readable 0" + (s.upperCritical ? "1" : "0") +
                (s.upperNonCritical ? "1" : "0") + "000 0 " + std::to_string(s.upperCritical) +
                " " + std::to_string(s.upperNonCritical) + " 0 0 0\n";
    commands += "sensor_set_value " + at + std::to_string(s.value) + " 0\n";
  }
  sandbox.writeFile("/tmp/bmc/commands", commands + "mc_enable 0x20\n");
  sandbox.writeFile("/tmp/bmc/sensors.sdrs", records);
  // Answers "get" with power on; the identify requests are what tests read.
  sandbox.writeFile("/tmp/bmc/chassis",
                    "#!/bin/sh\necho \"$@\" >>/tmp/bmc/chassis.log\n"
                    "[ \"$1\" = get ] && shift && for a; do echo \"$a:1\"; done\nexit 0\n",
                    0755);
  sandbox.writeFile("/etc/bmc.pass", "secret\n", 0600);
}

std::string startIpmiSimulator() {
  // 6230 is 1856 in /proc/net/udp.
  return "await() { i=0; until eval \"$1\"; do i=$((i+1)); [ $i -lt 500 ] || return 1; "
         "sleep 0.02; done; }; mkdir -p /tmp/bmc/state/ipmi_sim/bmc && "
         "sdrcomp -o /tmp/bmc/state/ipmi_sim/bmc/sdr.20.main /tmp/bmc/sensors.sdrs && "
         "{ ipmi_sim -n -c /tmp/bmc/lan.conf -f /tmp/bmc/commands -s /tmp/bmc/state "
         ">>/tmp/bmc/log 2>&1 & sim=$!; } && "
         "await 'grep -q :1856 /proc/net/udp' || exit 1; ";
}

RunResult runReadingLog(Sandbox& sandbox, const RunOptions& options) {
  auto process = sandbox.start(options);
  for (; !process->hasExited(); usleep(20000)) sandbox.logLines();
  return process->wait();
}

std::string ipmiSettings(int port) {
  // Where nothing listens, a short wait.
  std::string timeout = port == 6230 ? "" : "<key>Timeout</key><integer>1</integer>";
  return "<key>IPMI</key><dict><key>Host</key><string>127.0.0.1</string>" + timeout +
         "<key>Port</key><integer>" + std::to_string(port) + "</integer><key>User</key><string>"
         "admin</string><key>PasswordFile</key><string>/etc/bmc.pass</string><key>Workarounds"
         "</key><array><string>opensesspriv</string></array></dict>";
}

}  // namespace steward::sandbox
