// The command dispatcher and its command handlers.
#include "steward_kestreldispatcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/AuditRecord.h"
#include "host/CallerIdentity.h"
#include "host/Entry.h"
#include "kestrel/AuditQuery.h"
#include "kestrel/BootPathChange.h"
#include "kestrel/BootPublication.h"
#include "kestrel/ChangeReport.h"
#include "kestrel/LightSwitch.h"
#include "kestrel/MailTest.h"
#include "kestrel/PowerControl.h"
#include "kestrel/SettingsDigest.h"
#include "platform/AtomicFile.h"
#include "platform/DeviceRegistry.h"
#include "platform/MessagePort.h"
#include "platform/ProcessLauncher.h"
#include "platform/PropertyList.h"
#include "platform/TextEncoding.h"
#include "platform/XmlPropertyList.h"

namespace steward {

// The command handlers and what they share.

namespace {

constexpr const char* kMonitorPortName = "vigildPort";
constexpr double kMonitorSendTimeout = 5.0;
constexpr double kMonitorReceiveTimeout = 5.0;
constexpr const char* kMonitorSettingsPath = "/etc/vigild.conf";
constexpr const char* kControllerSettingsKey = "IPMI";

constexpr const char* kInventoryToolPath = "/usr/sbin/machreport";
constexpr const char* kProfilePath = "/tmp/profile.txt";
constexpr mode_t kProfileMode = 0644;

constexpr const char* kRestartCommandLine = "/sbin/shutdown -r now&\n";
constexpr const char* kShutdownCommandLine = "/sbin/shutdown -h now&\n";
constexpr const char* kFirmwareVariableToolPath = "/usr/sbin/nvram";
constexpr const char* kOptionsNodePath = "IODeviceTree:/options";
constexpr const char* kBootDeviceKey = "boot-device";

constexpr const char* kButtonPlane = "IOService";
constexpr const char* kButtonEntryName = "OrchardFPButton";

constexpr std::int32_t kNoErr = 0;
constexpr std::int32_t kParamErr = -50;

MutableDictionaryRef reply_with(const char* key, ValueRef value) {
  auto response = makeMutableDictionary();
  response->setObject(std::move(value), key);
  return response;
}

MutableDictionaryRef status_reply(std::int32_t status) {
  return reply_with("OSStatus", makeInteger(status));
}

MutableDictionaryRef message_reply(std::string message) {
  return reply_with("Message", makeString(std::move(message)));
}

// The dictionary of an XML property list, its containers mutable; none for
// bytes of any other kind, which no other reader ever sees.
MutableDictionaryRef xml_dictionary_from_data(std::string_view bytes) {
  std::string error;
  return as<MutableDictionary>(
      readXMLPropertyList(bytes, Mutability::kMutableContainers, &error));
}

MutableDictionaryRef xml_dictionary_from_file(const std::string& path) {
  PropertyListFormat format = PropertyListFormat::kBinary;
  std::string error;
  ValueRef root = propertyListFromFile(path, Mutability::kMutableContainers, &format, &error);
  return format == PropertyListFormat::kXML ? as<MutableDictionary>(root) : nullptr;
}

// The integer at the start of text, as the light's "state" reads it: blanks
// skipped, an optional sign, decimal digits; 0 when there are none. Only
// whether it is zero matters, so a long number saturates.
std::int64_t leading_integer(std::string_view text) {
  std::size_t i = text.find_first_not_of(" \t\n\v\f\r");
  if (i == std::string_view::npos) return 0;
  bool negative = text[i] == '-';
  if (text[i] == '-' || text[i] == '+') ++i;
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value > INT64_MAX / 10 - 10 ? INT64_MAX / 10 : value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

// The "state" of a "serviceid" request; a missing entry, and one of a kind
// that holds no number (dictionary, array, data, date), count as 0.
std::int64_t light_state(const ValueRef& state) {
  if (auto integer = as<Integer>(state)) return integer->value();
  if (auto real = as<Real>(state)) return std::fabs(real->value()) >= 1.0 ? 1 : 0;
  if (auto boolean = as<Boolean>(state)) return boolean->value() ? 1 : 0;
  if (auto string = as<String>(state)) return leading_integer(string->str());
  return 0;
}

// The last entry of the plane whose name is entryName; none when the plane
// cannot be walked or holds no such entry.
std::optional<RegistryEntry> find_registry_entry_by_name(const DeviceRegistry& registry,
                                                         std::string_view plane,
                                                         std::string_view entryName) {
  std::optional<RegistryEntry> found;
  auto iterator = registry.createIterator(plane);
  if (!iterator) return found;
  while (auto entry = iterator->next()) {
    if (entry->name() == entryName) found = std::move(entry);
  }
  return found;
}

// What an XML reply can carry, line breaks and tabs included.
bool isCarriable(char32_t c) {
  return (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') && c != 0xFFFE && c != 0xFFFF;
}

// Text that an XML reply can carry: taken as UTF-8 when it is UTF-8, else
// read as Latin-1, so that no byte of the profile is lost; then every other
// control character, and U+FFFE and U+FFFF, become U+FFFD.
std::string profile_text(const std::string& bytes) {
  std::string text;
  if (unicode::isValidUTF8(bytes)) {
    text = bytes;
  } else {
    for (unsigned char c : bytes) unicode::appendUTF8(c, &text);
  }
  return unicode::replacingCharacters(text, isCarriable, "\xEF\xBF\xBD");
}

std::string read_from_start(int fd) {
  std::string bytes;
  if (lseek(fd, 0, SEEK_SET) != 0) return bytes;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      bytes.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      return bytes;
    }
  }
}

// Closes a descriptor when the scope ends, an exception included.
struct OwnedDescriptor {
  int fd;
  ~OwnedDescriptor() {
    if (fd >= 0) close(fd);
  }
};

// Runs the inventory tool into a new file of this run's own beside the
// profile path (an exclusive create of a fresh name, so nothing planted is
// ever opened), then moves that file onto the path for those who read it
// there, but only over a regular file or nothing: a link, directory, fifo
// or anything else planted there is left alone. Concurrent runs each keep
// their own file; the last to finish leaves its output at the path. The
// output, as bytes.
std::string run_inventory_tool() {
  std::string temporary = std::string(kProfilePath) + ".XXXXXX";
  OwnedDescriptor output{mkostemp(temporary.data(), O_CLOEXEC)};
  if (output.fd < 0) return {};
  std::string error;
  runProgram({kInventoryToolPath, "-detailLevel", "-1"}, output.fd, &error);
  struct stat present;
  bool replaceable = lstat(kProfilePath, &present) == 0 ? S_ISREG(present.st_mode)
                                                        : errno == ENOENT;
  if (!replaceable || fchmod(output.fd, kProfileMode) != 0 ||
      rename(temporary.c_str(), kProfilePath) != 0) {
    unlink(temporary.c_str());
  }
  return read_from_start(output.fd);
}

// The management controller's settings name a host the root-run monitor
// logs in to and a file it reads as the password: only an administrator
// changes them. Anyone else's settings are written with those in force.
DictionaryRef controller_settings_kept(const DictionaryRef& settings,
                                       const MutableDictionaryRef& context) {
  if (!settings || context_user_is_admin(context)) return settings;
  auto current = xml_dictionary_from_file(kMonitorSettingsPath);
  ValueRef inForce = current ? current->objectForKey(kControllerSettingsKey) : nullptr;
  if (isEqual(settings->objectForKey(kControllerSettingsKey), inForce)) return settings;
  auto kept = settings->mutableCopy();
  if (inForce) {
    kept->setObject(inForce, kControllerSettingsKey);
  } else {
    kept->removeObjectForKey(kControllerSettingsKey);
  }
  return kept;
}

}  // namespace

DictionaryRef kestrel_status(const DictionaryRef&, const MutableDictionaryRef&, int&) {
  auto port = MessagePort::createRemote(kMonitorPortName);
  if (!port) return nullptr;
  MutableDictionaryRef response;
  {
    std::string bytes;
    if (port->sendRequest(0, {}, kMonitorSendTimeout, kMonitorReceiveTimeout, &bytes) !=
            MessagePort::kSuccess ||
        bytes.empty()) {
      return nullptr;
    }
    response = xml_dictionary_from_data(bytes);
  }
  if (!response) return nullptr;

  auto settings = xml_dictionary_from_file(kMonitorSettingsPath);
  if (!settings) return response;
  if (auto email = as<MutableDictionary>(settings->objectForKey("Email"))) {
    email->removeObjectForKey("Localizable");
    email->removeObjectForKey("Responses");
    removeMailSecrets(email);
  }
  response->addEntriesFromDictionary(*settings);
  return response;
}

DictionaryRef kestrel_profile(const DictionaryRef&, const MutableDictionaryRef&, int&) {
  return reply_with("Profile", makeString(profile_text(run_inventory_tool())));
}

DictionaryRef kestrel_email(const DictionaryRef& request, const MutableDictionaryRef& context,
                            int&) {
  // Anything but a dictionary would leave the monitor a settings file it
  // cannot read.
  auto settings = controller_settings_kept(as<Dictionary>(request->objectForKey("email")), context);
  // A test alone needs no settings; it then tries those in force.
  bool test = asksForTestMail(request);
  if (!settings && (!test || request->objectForKey("email"))) return status_reply(kParamErr);
  if (isDryRun(request)) return planMailSettings(kMonitorSettingsPath, settings, test);
  // Only requests with the new keys hear whether the file took the change.
  bool verify = test || request->objectForKey("requestId");
  std::optional<std::string> previous;
  if (verify) previous = settingsFileBytes(kMonitorSettingsPath);
  // A failed write keeps the old file and does not change the reply.
  std::string bytes, error;
  bool written = settings && propertyListToData(settings, PropertyListFormat::kXML, &bytes, &error);
  if (written) (void)writeFileAtomically(kMonitorSettingsPath, bytes);
  auto reply = status_reply(kNoErr);
  if (written && verify) {
    reply->setObject(verifiedSettingsFile(kMonitorSettingsPath, bytes, previous), "Verified");
  }
  if (test) reply->setObject(sendTestMail(), "TestMail");
  return reply;
}

DictionaryRef kestrel_serviceid(const DictionaryRef& request, const MutableDictionaryRef& context,
                                int&) {
  std::int64_t state = light_state(request->objectForKey("state"));
  DeviceRegistry registry;
  auto button = find_registry_entry_by_name(registry, kButtonPlane, kButtonEntryName);
  if (usesLightAdditions(request)) {
    return switchLightWithAdditions(request, context, state != 0, button);
  }
  if (button) switchLight(*button, state != 0);
  return status_reply(kNoErr);
}

DictionaryRef kestrel_restart(const DictionaryRef& request, const MutableDictionaryRef& context,
                              int&) {
  if (hasPowerOptions(request)) {
    return powerActionReply(request, context, PowerAction::kRestart, "RESTART-SUCCESS");
  }
  if (!context_user_is_admin(context)) return message_reply("CONNECT-AUTH");
  runShellCommand(kRestartCommandLine);
  return message_reply("RESTART-SUCCESS");
}

DictionaryRef kestrel_shutdown(const DictionaryRef& request, const MutableDictionaryRef& context,
                               int&) {
  if (hasPowerOptions(request)) {
    return powerActionReply(request, context, PowerAction::kShutdown, "SHUTDWN-SUCCESS");
  }
  if (!context_user_is_admin(context)) return message_reply("CONNECT-AUTH");
  runShellCommand(kShutdownCommandLine);
  return message_reply("SHUTDWN-SUCCESS");
}

DictionaryRef kestrel_set_boot_path(const DictionaryRef& request,
                                    const MutableDictionaryRef& context, int&) {
  if (usesBootChangeKeys(request)) {
    return answerBootChange(request, context_user_is_admin(context), kFirmwareVariableToolPath);
  }
  auto bootPath = as<String>(request->objectForKey("bootpath"));
  if (!context_user_is_admin(context)) return message_reply("CONNECT-AUTH");
  // A value with a NUL byte cannot reach the tool whole.
  if (!bootPath || bootPath->str().find('\0') != std::string::npos) {
    return status_reply(kParamErr);
  }
  // Started directly: the path reaches the tool as one argument, unchanged,
  // and no shell reads it. Its output goes to standard error, never into
  // the reply on standard output.
  std::string error;
  runProgram({kFirmwareVariableToolPath, "boot-device=" + bootPath->str()}, STDERR_FILENO,
             &error);
  return message_reply("SUCCESS");
}

DictionaryRef kestrel_power_schedule(const DictionaryRef& request,
                                     const MutableDictionaryRef& context, int&) {
  return powerScheduleReply(request, context);
}

DictionaryRef kestrel_get_boot_path(const DictionaryRef& request,
                                    const MutableDictionaryRef& context, int&) {
  auto options = DeviceRegistry().entryFromPath(kOptionsNodePath);
  if (!options) return nullptr;
  auto bootDevice = options->copyProperty(kBootDeviceKey);
  if (!bootDevice) return nullptr;
  if (!context_user_is_admin(context)) return message_reply("CONNECT-AUTH");
  return withBootDetails(request, *options, reply_with("Message", bootDevice));
}

DictionaryRef kestrel_get_audit_log(const DictionaryRef& request,
                                    const MutableDictionaryRef& context, int&) {
  if (!context_user_is_admin(context)) return message_reply("CONNECT-AUTH");
  return audit_log_reply(request, AuditLog().read());
}

// The command table and its dispatcher.

namespace {

struct Command {
  std::string_view name;
  KestrelHandler handler;
};

// Compared in this order.
constexpr Command kCommands[] = {
    {"status", kestrel_status},
    {"profile", kestrel_profile},
    {"email", kestrel_email},
    {"serviceid", kestrel_serviceid},
    {"restart", kestrel_restart},
    {"shutdown", kestrel_shutdown},
    {"setBootPath", kestrel_set_boot_path},
    {"getBootPath", kestrel_get_boot_path},
    {"powerSchedule", kestrel_power_schedule},
    {"getAuditLog", kestrel_get_audit_log},
};

}  // namespace

DictionaryRef kestrel_dispatch(const DictionaryRef& request,
                               const MutableDictionaryRef& context,
                               int& lockFileFD) {
  steward_assert(request);
  StringRef command = as<String>(request->objectForKey("command"));
  if (!command) return nullptr;
  for (const Command& entry : kCommands) {
    if (command->str() == entry.name) {
      if (is_changing_command(entry.name) && hasMalformedDryRun(request)) {
        return status_reply(kParamErr);
      }
      return entry.handler(request, context, lockFileFD);
    }
  }
  return nullptr;
}

}  // namespace steward
