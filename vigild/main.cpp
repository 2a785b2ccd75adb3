// vigild: the hardware-monitor daemon. It serves the machine's status on the
// "vigildPort" message port until SIGTERM, having first linked the service
// light's registry entry to the LED, and mails alarm transitions; SIGHUP
// reads the settings again. With --once it prints one status document to
// standard output and exits, changing nothing.
#include <signal.h>
#include <sys/signalfd.h>
#include <syslog.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "platform/BootDevice.h"
#include "platform/PropertyList.h"
#include "platform/ServiceNotifier.h"
#include "platform/XmlPropertyList.h"
#include "vigild/AlertMonitor.h"
#include "vigild/LibSensorsSource.h"
#include "vigild/Status.h"
#include "vigild/StatusServer.h"

namespace {

using namespace steward;
using namespace steward::vigild;

// A status read this recently is served again: many clients at once cost
// one reading of the chips.
constexpr auto kStatusLifetime = std::chrono::seconds(1);

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

double unixNow() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The light the settings name, else the one whose name says what it is for.
void chooseServiceLight(ServiceLight& light) {
  std::string error;
  ValueRef settings;
  if (access(kSettingsPath, F_OK) == 0) {
    settings = propertyListFromFile(kSettingsPath, Mutability::kImmutable, nullptr, &error);
    if (!settings) syslog(LOG_WARNING, "%s", error.c_str());
  }
  light.choose(configuredServiceLight(settings));
}

std::string statusDocument(SensorSource& sensors, const ServiceLight& light) {
  std::string xml, error;
  if (!writeXMLPropertyList(buildStatus(sensors, kPowerSupplyDirectory, light, unixNow()), &xml,
                            &error)) {
    syslog(LOG_ERR, "cannot write the status: %s", error.c_str());
    return {};
  }
  return xml;
}

void notify(const std::string& state) {
  std::string error;
  if (!notifyServiceManager(state, &error)) syslog(LOG_WARNING, "%s", error.c_str());
}

// SIGHUP arrives through a descriptor on the run loop, so that the reload
// runs between requests, not inside a signal handler.
std::shared_ptr<RunLoopSource> reloadOnHangup(AlertMonitor& monitor) {
  sigset_t hangup;
  sigemptyset(&hangup);
  sigaddset(&hangup, SIGHUP);
  sigprocmask(SIG_BLOCK, &hangup, nullptr);
  int fd = signalfd(-1, &hangup, SFD_NONBLOCK | SFD_CLOEXEC);
  auto source = RunLoopSource::create(SocketWatch::create(fd, [&monitor, fd](SocketWatch&) {
    signalfd_siginfo info;
    while (read(fd, &info, sizeof info) == sizeof info) {
      notify("RELOADING=1\n" + monotonicTimeField());
      syslog(LOG_INFO, "reloading the settings");
      monitor.reload();
      notify("READY=1");
    }
  }));
  if (source) RunLoop::current().addSource(source, kRunLoopCommonModes);
  else syslog(LOG_ERR, "SIGHUP cannot reload: %m");
  return source;
}

int serve(SensorSource& sensors, const ServiceLight& light) {
  std::string error;
  if (!light.setUp(&error)) {
    syslog(LOG_ERR, "%s", error.c_str());
  } else {
    syslog(LOG_INFO, "service light: %s", light.device().empty() ? "none" : light.device().c_str());
  }
  std::string cached;
  auto cachedAt = RunLoopClock::time_point::min();
  StatusServer server([&] {
    auto now = RunLoopClock::now();
    if (cached.empty() || now - cachedAt >= kStatusLifetime) {
      cached = statusDocument(sensors, light);
      cachedAt = now;
    }
    return cached;
  });
  if (!server.start(&error)) {
    syslog(LOG_ERR, "%s", error.c_str());
    return 1;
  }
  struct sigaction action = {};
  action.sa_handler = requestStop;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  AlertMonitor monitor(sensors);
  if (!monitor.start(&error)) syslog(LOG_ERR, "no alarm mail: %s", error.c_str());
  auto hangup = reloadOnHangup(monitor);
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
  ServiceLight light;
  chooseServiceLight(light);
  // The registry's "boot-device" follows the firmware from the start.
  if (!once && !publishBootDevice(&error)) syslog(LOG_WARNING, "%s", error.c_str());
  if (!once) return serve(sensors, light);
  std::string document = statusDocument(sensors, light);
  std::fwrite(document.data(), 1, document.size(), stdout);
  return document.empty() || std::fflush(stdout) != 0 ? 1 : 0;
}
