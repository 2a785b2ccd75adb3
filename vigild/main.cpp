// vigild: the hardware-monitor daemon. It serves the machine's status on the
// "vigildPort" message port until SIGTERM, having first linked the service
// light's registry entry to the LED; with --once it prints one status
// document to standard output and exits, changing nothing.
#include <signal.h>
#include <syslog.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "platform/BootDevice.h"
#include "platform/PropertyList.h"
#include "platform/XmlPropertyList.h"
#include "vigild/LibSensorsSource.h"
#include "vigild/Status.h"
#include "vigild/StatusServer.h"

namespace {

using namespace steward;
using namespace steward::vigild;

// A status read this recently is served again: many clients at once cost
// one reading of the chips.
constexpr auto kStatusLifetime = std::chrono::seconds(1);

constexpr const char* kSettingsPath = "/etc/vigild.conf";

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
  syslog(LOG_INFO, "serving %s", StatusServer::kDefaultSocketPath);
  server.serveUntil(&stopRequested);
  syslog(LOG_INFO, "stopping");
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
