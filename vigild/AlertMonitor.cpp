#include "vigild/AlertMonitor.h"

#include <sys/timerfd.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "kestrel/MailTest.h"
#include "vigild/AlertMail.h"

namespace steward::vigild {
namespace {

// The request tool waits a little longer than this for the verdict.
constexpr std::chrono::seconds kTestMailLimit(static_cast<int>(kTestMailSendmailLimit));

void logLine(int priority, const std::string& text) { syslog(priority, "%s", text.c_str()); }

std::string hostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

std::string mailSummary(const MailSettings& mail) {
  if (mail.recipients.empty()) return "no mail: no recipients";
  if (!mail.enabled) return "no mail: not enabled";
  std::string to;
  for (const std::string& recipient : mail.recipients) to += (to.empty() ? "" : ", ") + recipient;
  return "mail to " + to;
}

}  // namespace

AlertMonitor::AlertMonitor(SensorSource& sensors, std::string settingsPath,
                           std::string sendmailPath)
    : sensors_(sensors),
      settingsPath_(settingsPath),
      transport_(sendmailPath),
      outbox_(transport_, [] { return RunLoopClock::now(); }, logLine),
      testMailer_(sendmailPath, kTestMailLimit),
      watch_(std::move(settingsPath), [this] { reload(); }) {}

AlertMonitor::~AlertMonitor() {
  // The queue is in memory only.
  if (outbox_.size() > 0) syslog(LOG_WARNING, "%zu alarm mails not sent", outbox_.size());
  if (timerSource_) timerSource_->invalidate();
  if (timerFd_ >= 0) close(timerFd_);
}

bool AlertMonitor::start(std::string* error) {
  timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (timerFd_ < 0) {
    *error = std::string("cannot make the poll timer: ") + std::strerror(errno);
    return false;
  }
  timerSource_ = RunLoopSource::create(SocketWatch::create(timerFd_, [this](SocketWatch&) {
    std::uint64_t expirations;
    if (read(timerFd_, &expirations, sizeof expirations) > 0) poll();
  }));
  RunLoop::current().addSource(timerSource_, kRunLoopCommonModes);
  std::string watchError;
  if (!watch_.start(&watchError)) syslog(LOG_ERR, "%s; changes take effect on SIGHUP", watchError.c_str());
  reload();
  poll();  // an alarm present at start-up is reported now
  return true;
}

void AlertMonitor::reload() {
  std::vector<std::string> problems;
  Settings read = settings_;
  SettingsFile file = readSettings(settingsPath_, &read, &problems);
  for (const std::string& problem : problems)
    syslog(file == SettingsFile::kBroken ? LOG_ERR : LOG_WARNING, "%s: %s",
           settingsPath_.c_str(), problem.c_str());
  if (file == SettingsFile::kBroken) {
    syslog(LOG_ERR, "%s", haveSettings_ ? "keeping the settings read before"
                                        : "no settings yet: no mail");
  } else {
    settings_ = read;
    haveSettings_ = true;
    syslog(LOG_INFO, "settings %s: %s", file == SettingsFile::kMissing ? "missing" : "read",
           mailSummary(settings_.mail).c_str());
  }
  outbox_.setRetryInterval(settings_.mail.retryInterval);
  armTimer();
}

void AlertMonitor::sendTestMail(MailTransport::Done done) {
  watch_.catchUp();
  if (!haveSettings_) return done(false, "no settings yet: " + settingsPath_ + " does not parse");
  testMailer_.send(settings_.mail, hostName(), std::move(done));
}

void AlertMonitor::armTimer() {
  timespec interval = timespecOf(settings_.pollInterval);
  itimerspec every{interval, interval};
  if (timerfd_settime(timerFd_, 0, &every, nullptr) != 0) syslog(LOG_ERR, "poll timer: %m");
}

void AlertMonitor::poll() {
  const MailSettings& mail = settings_.mail;
  for (const Alert& alert : tracker_.observe(sensors_.read(), mail.minimumLevel, mail.holdOff,
                                             RunLoopClock::now())) {
    syslog(alert.level == Level::kOk ? LOG_NOTICE : LOG_WARNING, "sensor %s (%s): %s, was %s",
           alert.reading.label.c_str(), alert.reading.chip.c_str(), levelName(alert.level),
           levelName(alert.was));
    if (!mail.enabled) continue;
    AlertMail composed = composeAlertMail(mail, alert, hostName(), std::time(nullptr));
    outbox_.add(composed.subject, composed.message);
  }
  transport_.enforceDeadline();
  outbox_.service();
}

}  // namespace steward::vigild
