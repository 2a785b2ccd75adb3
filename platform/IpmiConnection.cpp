#include "platform/IpmiConnection.h"

#include <freeipmi/freeipmi.h>
#include <ipmi_monitoring.h>
#include <ipmi_monitoring_bitmasks.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <mutex>

#include "platform/TextEncoding.h"

namespace steward {
namespace {

constexpr std::uint8_t kNetFunctionChassis = 0x00;
constexpr std::uint8_t kNetFunctionApp = 0x06;
constexpr std::uint8_t kNetFunctionTransport = 0x0C;
constexpr std::uint8_t kGetDeviceId = 0x01;
constexpr std::uint8_t kGetChassisStatus = 0x01;
constexpr std::uint8_t kChassisIdentify = 0x04;
constexpr std::uint8_t kGetLanParameter = 0x02;
constexpr std::uint8_t kLanIpAddress = 3;
constexpr std::uint8_t kLanMacAddress = 5;

struct Workaround {
  const char* name;
  unsigned flag;
};
constexpr Workaround kWorkarounds[] = {
    {"authcap", IPMI_WORKAROUND_FLAGS_OUTOFBAND_2_0_AUTHENTICATION_CAPABILITIES},
    {"intel20", IPMI_WORKAROUND_FLAGS_OUTOFBAND_2_0_INTEL_2_0_SESSION},
    {"supermicro20", IPMI_WORKAROUND_FLAGS_OUTOFBAND_2_0_SUPERMICRO_2_0_SESSION},
    {"sun20", IPMI_WORKAROUND_FLAGS_OUTOFBAND_2_0_SUN_2_0_SESSION},
    {"opensesspriv", IPMI_WORKAROUND_FLAGS_OUTOFBAND_2_0_OPEN_SESSION_PRIVILEGE},
    {"integritycheckvalue", IPMI_WORKAROUND_FLAGS_OUTOFBAND_2_0_NON_EMPTY_INTEGRITY_CHECK_VALUE},
    {"nochecksumcheck", IPMI_WORKAROUND_FLAGS_OUTOFBAND_2_0_NO_CHECKSUM_CHECK},
};

std::string stringFor(const DictionaryRef& dictionary, const char* key) {
  auto value = dictionary ? as<String>(dictionary->objectForKey(key)) : nullptr;
  return value ? value->str() : "";
}

// The first line of a file; none when it cannot be read.
std::optional<std::string> firstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  return line;
}

bool parseOptions(const DictionaryRef& options, IpmiTarget* target, const std::string& root,
                  std::string* error) {
  target->host = stringFor(options, "Host");
  target->user = stringFor(options, "User");
  if (auto port = options->objectForKey("Port")) {
    auto number = as<Integer>(port);
    if (!number || number->value() < 1 || number->value() > 65535) {
      *error = "IPMI Port is not a port number";
      return false;
    }
    target->port = static_cast<std::uint16_t>(number->value());
  }
  if (auto timeout = options->objectForKey("Timeout")) {
    auto seconds = as<Integer>(timeout);
    if (!seconds || seconds->value() < 1 || seconds->value() > 60) {
      *error = "IPMI Timeout is not 1 to 60 seconds";
      return false;
    }
    target->sessionTimeout = std::chrono::seconds(seconds->value());
  }
  std::string passwordFile = stringFor(options, "PasswordFile");
  if (!passwordFile.empty()) {
    auto password = firstLine(root + passwordFile);
    if (!password) {
      *error = "cannot read the IPMI password file " + passwordFile;
      return false;
    }
    target->password = *password;
  }
  auto workarounds = as<Array>(options->objectForKey("Workarounds"));
  for (std::size_t i = 0; workarounds && i < workarounds->count(); ++i) {
    auto name = as<String>(workarounds->objectAtIndex(i));
    auto flag = name ? ipmiWorkaroundFlag(name->str()) : std::nullopt;
    if (!flag) {
      *error = "unknown IPMI workaround " + (name ? name->str() : std::string("(not a string)"));
      return false;
    }
    target->workaroundFlags |= *flag;
  }
  return true;
}

std::string kindOf(int type) {
  switch (type) {
    case IPMI_MONITORING_SENSOR_TYPE_TEMPERATURE: return "temperature";
    case IPMI_MONITORING_SENSOR_TYPE_VOLTAGE: return "voltage";
    case IPMI_MONITORING_SENSOR_TYPE_CURRENT: return "current";
    case IPMI_MONITORING_SENSOR_TYPE_FAN: return "fan";
    case IPMI_MONITORING_SENSOR_TYPE_POWER_SUPPLY: return "power supply";
    case IPMI_MONITORING_SENSOR_TYPE_POWER_UNIT: return "power unit";
    default: return "other";
  }
}

std::string unitOf(int units) {
  switch (units) {
    case IPMI_MONITORING_SENSOR_UNITS_CELSIUS: return "°C";
    case IPMI_MONITORING_SENSOR_UNITS_FAHRENHEIT: return "°F";
    case IPMI_MONITORING_SENSOR_UNITS_VOLTS: return "V";
    case IPMI_MONITORING_SENSOR_UNITS_AMPS: return "A";
    case IPMI_MONITORING_SENSOR_UNITS_RPM: return "RPM";
    case IPMI_MONITORING_SENSOR_UNITS_WATTS: return "W";
    case IPMI_MONITORING_SENSOR_UNITS_PERCENT: return "%";
    default: return "";
  }
}

// Names come from the controller's records as bytes; what XML cannot
// carry becomes '?'.
bool isPrintable(char32_t c) {
  return c >= 0x20 && !(c >= 0x7F && c < 0xA0) && c != 0xFFFE && c != 0xFFFF;
}

int collectSensor(ipmi_monitoring_ctx_t context, void* data) {
  IpmiSensor sensor;
  const char* name = ipmi_monitoring_sensor_read_sensor_name(context);
  sensor.name = unicode::replacingCharacters(name ? name : "", isPrintable, "?");
  sensor.kind = kindOf(ipmi_monitoring_sensor_read_sensor_type(context));
  sensor.unit = unitOf(ipmi_monitoring_sensor_read_sensor_units(context));
  int state = ipmi_monitoring_sensor_read_sensor_state(context);
  // FreeIPMI calls a crossed non-critical threshold nominal; like a chip's
  // max, it is a warning here, and a critical one critical.
  int crossed = ipmi_monitoring_sensor_read_sensor_bitmask_type(context) ==
                        IPMI_MONITORING_SENSOR_BITMASK_TYPE_THRESHOLD
                    ? ipmi_monitoring_sensor_read_sensor_bitmask(context)
                    : 0;
  sensor.critical = state == IPMI_MONITORING_STATE_CRITICAL || (crossed > 0 && crossed & 0x36);
  sensor.warning = sensor.critical || state == IPMI_MONITORING_STATE_WARNING ||
                   (crossed > 0 && crossed & 0x09);
  const void* reading = ipmi_monitoring_sensor_read_sensor_reading(context);
  switch (reading ? ipmi_monitoring_sensor_read_sensor_reading_type(context) : -1) {
    case IPMI_MONITORING_SENSOR_READING_TYPE_DOUBLE:
      sensor.value = *static_cast<const double*>(reading);
      break;
    case IPMI_MONITORING_SENSOR_READING_TYPE_UNSIGNED_INTEGER32:
      sensor.value = *static_cast<const std::uint32_t*>(reading);
      break;
    case IPMI_MONITORING_SENSOR_READING_TYPE_UNSIGNED_INTEGER8_BOOL:
      sensor.value = *static_cast<const std::uint8_t*>(reading);
      break;
    default:
      break;
  }
  static_cast<std::vector<IpmiSensor>*>(data)->push_back(std::move(sensor));
  return 0;
}

bool initializeMonitoring(std::string* error) {
  static std::once_flag once;
  static int result = -1, errnum = 0;
  std::call_once(once, [] { result = ipmi_monitoring_init(0, &errnum); });
  if (result != 0) *error = std::string("ipmimonitoring: ") + ipmi_monitoring_ctx_strerror(errnum);
  return result == 0;
}

}  // namespace

struct IpmiConnection::Context {
  ipmi_ctx_t ipmi = ipmi_ctx_create();
  ~Context() {
    if (ipmi) {
      ipmi_ctx_close(ipmi);
      ipmi_ctx_destroy(ipmi);
    }
  }
};

std::string IpmiTarget::address() const {
  if (inBand()) return device;
  return port == 623 ? host : host + ":" + std::to_string(port);
}

std::optional<unsigned> ipmiWorkaroundFlag(const std::string& name) {
  for (const Workaround& workaround : kWorkarounds) {
    if (name == workaround.name) return workaround.flag;
  }
  return std::nullopt;
}

std::optional<IpmiTarget> ipmiTargetFromSettings(const ValueRef& settings, const std::string& root,
                                                 std::string* error) {
  auto dictionary = as<Dictionary>(settings);
  auto options = dictionary ? as<Dictionary>(dictionary->objectForKey("IPMI")) : nullptr;
  IpmiTarget target;
  if (options && !parseOptions(options, &target, root, error)) return std::nullopt;
  if (target.inBand() && access((root + target.device).c_str(), F_OK) != 0) return std::nullopt;
  return target;
}

std::optional<IpmiDeviceInfo> parseIpmiDeviceId(const std::vector<std::uint8_t>& reply) {
  if (reply.size() < 12 || reply[0] != 0) return std::nullopt;
  IpmiDeviceInfo info;
  info.deviceId = reply[1];
  info.deviceRevision = reply[2] & 0x0F;
  char text[16];
  std::snprintf(text, sizeof text, "%u.%02x", reply[3] & 0x7Fu, reply[4]);
  info.firmwareVersion = text;
  std::snprintf(text, sizeof text, "%u.%u", reply[5] & 0x0Fu, reply[5] >> 4);
  info.ipmiVersion = text;
  info.manufacturerId = reply[7] | reply[8] << 8 | (reply[9] & 0x0F) << 16;
  info.productId = static_cast<std::uint16_t>(reply[10] | reply[11] << 8);
  return info;
}

std::optional<IpmiChassisStatus> parseIpmiChassisStatus(const std::vector<std::uint8_t>& reply) {
  if (reply.size() < 4 || reply[0] != 0) return std::nullopt;
  IpmiChassisStatus status;
  status.powerOn = reply[1] & 0x01;
  // Bit 6 says whether bits 5:4 hold the identify state: 0 off, 1 for a
  // while, 2 until told otherwise.
  if (reply[3] & 0x40) status.identifyOn = (reply[3] >> 4 & 0x03) != 0;
  return status;
}

std::optional<std::string> parseIpmiLanAddress(const std::vector<std::uint8_t>& reply, bool mac) {
  std::size_t length = mac ? 6 : 4;
  if (reply.size() < 2 + length || reply[0] != 0) return std::nullopt;
  std::string text;
  bool set = false;
  for (std::size_t i = 0; i < length; ++i) {
    char part[4];
    std::snprintf(part, sizeof part, mac ? "%02x" : "%u", reply[2 + i]);
    text += (i ? (mac ? ":" : ".") : "") + std::string(part);
    set = set || reply[2 + i] != 0;
  }
  if (!set) return std::nullopt;
  return text;
}

IpmiConnection::IpmiConnection(IpmiTarget target) : target_(std::move(target)) {}

IpmiConnection::~IpmiConnection() = default;

void IpmiConnection::close() { context_.reset(); }

bool IpmiConnection::open(std::string* error) {
  if (context_) return true;
  auto context = std::make_unique<Context>();
  if (!context->ipmi) {
    *error = "cannot make an IPMI context";
    return false;
  }
  int result;
  if (target_.inBand()) {
    result = ipmi_ctx_open_inband(context->ipmi, IPMI_DEVICE_OPENIPMI, 0, 0, 0,
                                  target_.device.c_str(), 0, IPMI_FLAGS_DEFAULT);
  } else {
    auto timeout = static_cast<unsigned>(target_.sessionTimeout.count());
    // Operator may switch the light; a user who may not can still read.
    for (std::uint8_t privilege : {IPMI_PRIVILEGE_LEVEL_OPERATOR, IPMI_PRIVILEGE_LEVEL_USER}) {
      result = ipmi_ctx_open_outofband_2_0(context->ipmi, target_.address().c_str(),
                                           target_.user.c_str(), target_.password.c_str(),
                                           nullptr, 0, privilege, 3, timeout, 0,
                                           target_.workaroundFlags, IPMI_FLAGS_DEFAULT);
      if (result == 0 ||
          ipmi_ctx_errnum(context->ipmi) != IPMI_ERR_PRIVILEGE_LEVEL_CANNOT_BE_OBTAINED)
        break;
    }
  }
  if (result < 0) {
    *error = target_.address() + ": " + ipmi_ctx_errormsg(context->ipmi);
    return false;
  }
  context_ = std::move(context);
  return true;
}

bool IpmiConnection::command(std::uint8_t netFunction, std::uint8_t command,
                             const std::vector<std::uint8_t>& data,
                             std::vector<std::uint8_t>* reply, std::string* error) {
  std::vector<std::uint8_t> request{command};
  request.insert(request.end(), data.begin(), data.end());
  // A session kept from before may have expired at the controller: then
  // once more on a new one.
  for (bool reused = isOpen();; reused = false) {
    if (!open(error)) return false;
    std::uint8_t buffer[256];
    // The raw call takes replies longer than the command defines, as some
    // controllers send.
    int length = ipmi_cmd_raw(context_->ipmi, 0, netFunction, request.data(),
                              static_cast<unsigned>(request.size()), buffer, sizeof buffer);
    if (length >= 2) {
      reply->assign(buffer + 1, buffer + length);  // without the command byte
      return true;
    }
    *error = target_.address() + ": " + ipmi_ctx_errormsg(context_->ipmi);
    close();
    if (!reused) return false;
  }
}

std::optional<IpmiDeviceInfo> IpmiConnection::deviceInfo(std::string* error) {
  std::vector<std::uint8_t> reply;
  if (!command(kNetFunctionApp, kGetDeviceId, {}, &reply, error)) return std::nullopt;
  auto info = parseIpmiDeviceId(reply);
  if (!info) *error = "the controller refused Get Device ID";
  return info;
}

std::optional<IpmiChassisStatus> IpmiConnection::chassisStatus(std::string* error) {
  std::vector<std::uint8_t> reply;
  if (!command(kNetFunctionChassis, kGetChassisStatus, {}, &reply, error)) return std::nullopt;
  auto status = parseIpmiChassisStatus(reply);
  if (!status) *error = "the controller refused Get Chassis Status";
  return status;
}

bool IpmiConnection::setIdentify(bool on, std::string* error) {
  std::vector<std::uint8_t> reply;
  // Interval 0 switches off; "force on" keeps it lit with no interval.
  if (!command(kNetFunctionChassis, kChassisIdentify, {0, on ? std::uint8_t{1} : std::uint8_t{0}},
               &reply, error))
    return false;
  // The force byte is optional: without it, the longest interval.
  if (on && reply[0] != 0 &&
      !command(kNetFunctionChassis, kChassisIdentify, {255}, &reply, error))
    return false;
  if (reply[0] == 0) return true;
  char text[64];
  std::snprintf(text, sizeof text, "the controller refused identify (code 0x%02x)", reply[0]);
  *error = text;
  return false;
}

std::pair<std::string, std::string> IpmiConnection::lanAddresses() {
  std::string error;
  for (std::uint8_t channel = 1; channel <= 4; ++channel) {
    std::vector<std::uint8_t> ip, mac;
    if (!command(kNetFunctionTransport, kGetLanParameter, {channel, kLanIpAddress, 0, 0}, &ip,
                 &error))
      break;
    if (ip[0] != 0) continue;  // not a LAN channel
    if (!command(kNetFunctionTransport, kGetLanParameter, {channel, kLanMacAddress, 0, 0}, &mac,
                 &error))
      break;
    return {parseIpmiLanAddress(ip, false).value_or(""),
            parseIpmiLanAddress(mac, true).value_or("")};
  }
  return {};
}

bool IpmiConnection::readSensors(const std::string& cacheDirectory,
                                 std::vector<IpmiSensor>* sensors, std::string* error) {
  if (!initializeMonitoring(error)) return false;
  std::unique_ptr<ipmi_monitoring_ctx, void (*)(ipmi_monitoring_ctx_t)> monitoring(
      ipmi_monitoring_ctx_create(), ipmi_monitoring_ctx_destroy);
  if (!monitoring) {
    *error = "cannot make an ipmimonitoring context";
    return false;
  }
  ipmi_monitoring_ipmi_config config = {};
  config.driver_type = target_.inBand() ? IPMI_MONITORING_DRIVER_TYPE_OPENIPMI : -1;
  config.disable_auto_probe = 1;
  config.driver_device = target_.inBand() ? const_cast<char*>(target_.device.c_str()) : nullptr;
  config.protocol_version = IPMI_MONITORING_PROTOCOL_VERSION_2_0;
  config.username = const_cast<char*>(target_.user.c_str());
  config.password = const_cast<char*>(target_.password.c_str());
  config.privilege_level = IPMI_MONITORING_PRIVILEGE_LEVEL_USER;
  config.authentication_type = -1;
  config.cipher_suite_id = -1;
  config.session_timeout_len = static_cast<int>(target_.sessionTimeout.count());
  config.retransmission_timeout_len = -1;
  // FreeIPMI gives the IPMI 2.0 workarounds the same bits in both libraries.
  config.workaround_flags = target_.inBand() ? 0 : target_.workaroundFlags;
  sensors->clear();
  std::string host = target_.address();
  if (ipmi_monitoring_ctx_sdr_cache_directory(monitoring.get(), cacheDirectory.c_str()) < 0 ||
      ipmi_monitoring_sensor_readings_by_record_id(
          monitoring.get(), target_.inBand() ? nullptr : host.c_str(), &config,
          IPMI_MONITORING_SENSOR_READING_FLAGS_IGNORE_NON_INTERPRETABLE_SENSORS, nullptr, 0,
          collectSensor, sensors) < 0) {
    *error = host + ": " + ipmi_monitoring_ctx_errormsg(monitoring.get());
    return false;
  }
  return true;
}

}  // namespace steward
