// The baseboard management controller through FreeIPMI: in-band through the
// kernel's IPMI device, or out-of-band over IPMI 2.0 LAN. Both kinds of
// connection serve the same calls; only opening differs.
//
// Calls block until the controller answers or the session times out, which
// over LAN can take seconds: a caller with a run loop makes them elsewhere.
// A connection belongs to one thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/PropertyValue.h"

namespace steward {

// Where the controller is. No host means in-band.
struct IpmiTarget {
  static constexpr const char* kInBandDevice = "/dev/ipmi0";

  std::string host;
  std::uint16_t port = 623;
  std::string user;
  std::string password;
  // FreeIPMI's IPMI 2.0 workaround flags, for controllers that bend the
  // protocol (names as FreeIPMI's tools take them; see ipmiWorkaroundFlag).
  unsigned workaroundFlags = 0;
  std::chrono::milliseconds sessionTimeout = std::chrono::seconds(5);
  std::string device = kInBandDevice;  // in-band only

  bool inBand() const { return host.empty(); }
  // "/dev/ipmi0", or the host (with ":port" when not 623).
  std::string address() const;
};

// The flag FreeIPMI's tools call `name` ("opensesspriv", "authcap",
// "intel20", "supermicro20", "sun20", "integritycheckvalue",
// "nochecksumcheck"); none for another name.
std::optional<unsigned> ipmiWorkaroundFlag(const std::string& name);

// The target the settings dictionary names under "IPMI" (keys Host, Port,
// User, PasswordFile, Workarounds, Timeout): out-of-band when it has a Host, with the
// password read from the file `root` + PasswordFile. Otherwise in-band, when
// `root` + the device exists. None when neither, or when the settings are
// unusable (the reason in *error).
std::optional<IpmiTarget> ipmiTargetFromSettings(const ValueRef& settings, const std::string& root,
                                                 std::string* error);

struct IpmiDeviceInfo {
  unsigned deviceId = 0;
  unsigned deviceRevision = 0;
  std::string firmwareVersion;  // "9.08"
  std::string ipmiVersion;      // "2.0"
  std::uint32_t manufacturerId = 0;
  std::uint16_t productId = 0;
};

struct IpmiChassisStatus {
  bool powerOn = false;
  // The identify light, when the controller reports it.
  std::optional<bool> identifyOn;
};

// A sensor as libipmimonitoring interprets it.
struct IpmiSensor {
  std::string name;
  std::string kind;  // temperature, fan, voltage, current, power, other
  std::optional<double> value;
  std::string unit;  // "°C", "RPM", "V", "A", "W", "%", ""
  bool warning = false;   // FreeIPMI's warning, or a threshold crossed
  bool critical = false;  // FreeIPMI's critical, or a critical threshold
};

// The payloads of replies, completion code first. None when the reply is
// short or its completion code is not 0.
std::optional<IpmiDeviceInfo> parseIpmiDeviceId(const std::vector<std::uint8_t>& reply);
std::optional<IpmiChassisStatus> parseIpmiChassisStatus(const std::vector<std::uint8_t>& reply);
// A LAN configuration parameter's data; none when it is unset (all zero).
std::optional<std::string> parseIpmiLanAddress(const std::vector<std::uint8_t>& reply,
                                               bool mac);

class IpmiConnection {
 public:
  explicit IpmiConnection(IpmiTarget target);
  ~IpmiConnection();
  IpmiConnection(const IpmiConnection&) = delete;
  IpmiConnection& operator=(const IpmiConnection&) = delete;

  const IpmiTarget& target() const { return target_; }

  // Opens the session (again after a failure); false with the reason.
  [[nodiscard]] bool open(std::string* error);
  bool isOpen() const { return context_ != nullptr; }
  void close();

  // One request; *reply gets the completion code and the data. False,
  // with the reason, when no reply came (the connection is then closed).
  [[nodiscard]] bool command(std::uint8_t netFunction, std::uint8_t command,
                             const std::vector<std::uint8_t>& data,
                             std::vector<std::uint8_t>* reply, std::string* error);

  std::optional<IpmiDeviceInfo> deviceInfo(std::string* error);
  std::optional<IpmiChassisStatus> chassisStatus(std::string* error);
  // Forces the chassis identify light on until told otherwise, or off.
  [[nodiscard]] bool setIdentify(bool on, std::string* error);
  // The first LAN channel's IP and MAC address; empty where unset.
  std::pair<std::string, std::string> lanAddresses();

  // Every readable sensor, through libipmimonitoring with its SDR cache in
  // `cacheDirectory`. False with the reason when they cannot be read.
  [[nodiscard]] bool readSensors(const std::string& cacheDirectory,
                                 std::vector<IpmiSensor>* sensors, std::string* error);

 private:
  struct Context;
  IpmiTarget target_;
  std::unique_ptr<Context> context_;
};

}  // namespace steward
