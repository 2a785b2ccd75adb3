// vigild: the hardware-monitor daemon. It serves the machine's status on the
// "vigildPort" message port until SIGTERM, having first linked the service
// light's registry entry to the LED, and mails alarm transitions; SIGHUP
// reads the settings again. With --once it prints one status document to
// standard output and exits, changing nothing.
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <syslog.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

#include "kestrel/MailTest.h"
#include "platform/BootDevice.h"
#include "platform/PropertyList.h"
#include "platform/ServiceNotifier.h"
#include "platform/XmlPropertyList.h"
#include "vigild/AlertMonitor.h"
#include "vigild/LibSensorsSource.h"
#include "vigild/LightLeaseKeeper.h"
#include "vigild/LightPropertyWatch.h"
#include "vigild/ManagementController.h"
#include "vigild/Status.h"
#include "vigild/StatusServer.h"

namespace {

using namespace steward;
using namespace steward::vigild;

// Chip readings this recent are served again: many clients at once cost
// one reading of the chips.
constexpr auto kReadingLifetime = std::chrono::seconds(1);

volatile std::sig_atomic_t stopRequested = 0;

// A client asking for a test mail may wait longer than the tool does.
constexpr auto kTestMailAnswerDeadline =
    std::chrono::seconds(static_cast<int>(kTestMailWait) + 10);

double unixNow() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

ValueRef readSettings() {
  std::string error;
  ValueRef settings;
  if (access(kSettingsPath, F_OK) == 0) {
    settings = propertyListFromFile(kSettingsPath, Mutability::kImmutable, nullptr, &error);
    if (!settings) syslog(LOG_WARNING, "%s", error.c_str());
  }
  return settings;
}

// The light the settings name, else the one whose name says what it is for,
// else the management controller's identify.
void chooseServiceLight(ServiceLight& light, const ValueRef& settings, bool controller) {
  light.choose(configuredServiceLight(settings));
  light.useManagementController(controller);
}

// The controller the settings name, else the in-band one when present.
std::unique_ptr<ManagementController> findManagementController(const ValueRef& settings) {
  std::string error;
  auto target = ipmiTargetFromSettings(settings, "", &error);
  if (!error.empty()) syslog(LOG_WARNING, "%s", error.c_str());
  return target ? std::make_unique<ManagementController>(*target) : nullptr;
}

// The chips' sensors, then the controller's.
class AllSensors : public SensorSource {
 public:
  AllSensors(SensorSource& chips, ManagementController* controller)
      : chips_(chips), controller_(controller) {}
  std::vector<SensorReading> read() override {
    std::vector<SensorReading> readings = chips_.read();
    if (!controller_) return readings;
    std::vector<SensorReading> more = controller_->read();
    readings.insert(readings.end(), more.begin(), more.end());
    return readings;
  }

 private:
  SensorSource& chips_;
  ManagementController* controller_;
};

// Only the readings are kept: the light and the time in a status stay
// current, so a status right after "serviceid" shows the new state.
class RecentReadings : public SensorSource {
 public:
  explicit RecentReadings(SensorSource& source) : source_(source) {}
  std::vector<SensorReading> read() override {
    auto now = RunLoopClock::now();
    if (!readAt_ || now - *readAt_ >= kReadingLifetime) {
      readings_ = source_.read();
      readAt_ = now;
    }
    return readings_;
  }

 private:
  SensorSource& source_;
  std::vector<SensorReading> readings_;
  std::optional<RunLoopClock::time_point> readAt_;
};

std::string statusDocument(SensorSource& chips, const ServiceLight& light,
                           ManagementController* controller) {
  std::string xml, error;
  AllSensors sensors(chips, controller);
  auto status = buildStatus(sensors, kPowerSupplyDirectory, light, unixNow());
  if (controller) {
    status->setObject(controller->status(), "ManagementController");
    if (light.usesManagementController()) {
      auto lightStatus = controller->lightStatus();
      addLightLease(lightStatus, light, unixNow());
      status->setObject(lightStatus, "ServiceLight");
    }
  }
  if (!writeXMLPropertyList(status, &xml, &error)) {
    syslog(LOG_ERR, "cannot write the status: %s", error.c_str());
    return {};
  }
  return xml;
}

// {"Accepted", "Error" when not}, as the request tool reads it.
std::string testMailVerdict(bool accepted, const std::string& reason) {
  auto verdict = makeMutableDictionary();
  verdict->setObject(makeBoolean(accepted), "Accepted");
  if (!accepted) verdict->setObject(makeString(reason), "Error");
  std::string xml, error;
  if (!writeXMLPropertyList(verdict, &xml, &error)) syslog(LOG_ERR, "%s", error.c_str());
  return xml;
}

void notify(const std::string& state) {
  std::string error;
  if (!notifyServiceManager(state, &error)) syslog(LOG_WARNING, "%s", error.c_str());
}

// Signals arrive through a descriptor on the run loop, so that they are
// handled between requests, not inside a signal handler, and wake the loop
// at once.
std::shared_ptr<RunLoopSource> onSignals(std::initializer_list<int> signals,
                                         std::function<void(int)> handle) {
  sigset_t set;
  sigemptyset(&set);
  for (int number : signals) sigaddset(&set, number);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  int fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  auto source = RunLoopSource::create(SocketWatch::create(fd, [handle, fd](SocketWatch&) {
    signalfd_siginfo info;
    while (read(fd, &info, sizeof info) == sizeof info) handle(static_cast<int>(info.ssi_signo));
  }));
  if (source) RunLoop::current().addSource(source, kRunLoopCommonModes);
  else syslog(LOG_ERR, "cannot take signals: %m");
  return source;
}

void reload(AlertMonitor& monitor) {
  notify("RELOADING=1\n" + monotonicTimeField());
  syslog(LOG_INFO, "reloading the settings");
  monitor.reload();
  notify("READY=1");
}

int serve(SensorSource& sensors, const ServiceLight& light, ManagementController* controller) {
  // Blocked before the controller's worker starts, so that these signals
  // reach only the run loop's descriptors and never end the daemon.
  sigset_t handled;
  sigemptyset(&handled);
  for (int number : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&handled, number);
  pthread_sigmask(SIG_BLOCK, &handled, nullptr);
  std::string error;
  if (!light.setUp(&error)) {
    syslog(LOG_ERR, "%s", error.c_str());
  } else {
    syslog(LOG_INFO, "service light: %s",
           light.usesManagementController() ? "chassis identify"
           : light.device().empty()         ? "none"
                                            : light.device().c_str());
  }
  std::unique_ptr<LightPropertyWatch> identify;
  if (light.usesManagementController()) {
    identify = std::make_unique<LightPropertyWatch>(
        light.propertyPath(), [controller](bool on) { controller->requestIdentify(on); });
    if (!identify->start(&error)) syslog(LOG_ERR, "%s", error.c_str());
  }
  if (controller) controller->start();
  std::unique_ptr<LightLeaseKeeper> lease;
  if (light.usesManagementController() || !light.device().empty()) {
    lease = std::make_unique<LightLeaseKeeper>(light.entryDirectory());
    if (!lease->start(&error)) syslog(LOG_ERR, "%s", error.c_str());
  }
  RecentReadings recentChips(sensors);
  StatusServer server([&] { return statusDocument(recentChips, light, controller); });
  if (!server.start(&error)) {
    syslog(LOG_ERR, "%s", error.c_str());
    return 1;
  }
  auto stopping = onSignals({SIGTERM, SIGINT}, [](int) { stopRequested = 1; });
  signal(SIGPIPE, SIG_IGN);
  AllSensors everySensor(sensors, controller);  // the controller's alarms are mailed too
  AlertMonitor monitor(everySensor);
  if (!monitor.start(&error)) syslog(LOG_ERR, "no alarm mail: %s", error.c_str());
  auto hangup = onSignals({SIGHUP}, [&monitor](int) { reload(monitor); });
  server.answerLater(kTestMailMessageID, [&monitor](std::string_view, StatusServer::Answer answer) {
    monitor.sendTestMail([answer](bool accepted, const std::string& reason) {
      answer(testMailVerdict(accepted, reason));
    });
  }, kTestMailAnswerDeadline);
  syslog(LOG_INFO, "serving %s", StatusServer::kDefaultSocketPath);
  notify("READY=1");
  server.serveUntil(&stopRequested);
  syslog(LOG_INFO, "stopping");
  notify("STOPPING=1");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool once = argc == 2 && std::strcmp(argv[1], "--once") == 0;
  if (argc > 1 && !once) {
    std::fprintf(stderr, "usage: vigild [--once]\n");
    return 2;
  }
  openlog("vigild", LOG_PID | (once ? LOG_PERROR : 0), LOG_DAEMON);
  std::string error;
  LibSensorsSource sensors(&error);
  if (!error.empty()) syslog(LOG_WARNING, "no sensors: %s", error.c_str());
  ValueRef settings = readSettings();
  auto controller = findManagementController(settings);
  ServiceLight light;
  chooseServiceLight(light, settings, controller != nullptr);
  // The registry's "boot-device" follows the firmware from the start.
  if (!once && !publishBootDevice(&error)) syslog(LOG_WARNING, "%s", error.c_str());
  if (!once) return serve(sensors, light, controller.get());
  if (controller) controller->poll();
  std::string document = statusDocument(sensors, light, controller.get());
  std::fwrite(document.data(), 1, document.size(), stdout);
  return document.empty() || std::fflush(stdout) != 0 ? 1 : 0;
}
