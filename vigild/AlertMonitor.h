// The alarm mail: polls the sensors on a timer, turns their transitions
// into mail (AlertTracker, AlertMail) and sends it through sendmail with
// retries (Outbox). Follows the settings file as it changes. Everything
// runs on this thread's run loop; log lines go to syslog.
//
// Settings: a missing file means no mail (it was taken away on purpose); a
// file that does not parse keeps the settings read before, so that a
// half-edited file does not silence the alarms; at start-up there are none
// and no mail goes out.
#pragma once

#include <memory>
#include <string>

#include "platform/RunLoop.h"
#include "vigild/AlertTracker.h"
#include "vigild/Outbox.h"
#include "vigild/SendmailTransport.h"
#include "vigild/SensorSource.h"
#include "vigild/Settings.h"
#include "vigild/SettingsWatch.h"
#include "vigild/TestMailer.h"

namespace steward::vigild {

class AlertMonitor {
 public:
  // `sensors` must outlive the monitor.
  explicit AlertMonitor(SensorSource& sensors, std::string settingsPath = kSettingsPath,
                        std::string sendmailPath = SendmailTransport::kSendmailPath);
  ~AlertMonitor();
  AlertMonitor(const AlertMonitor&) = delete;
  AlertMonitor& operator=(const AlertMonitor&) = delete;

  // Reads the settings, watches them, polls once and then on a timer. False, with the
  // reason in *error, when the poll timer cannot be made; a settings
  // directory that cannot be watched is only logged (reload still works).
  [[nodiscard]] bool start(std::string* error);
  // Reads the settings again now.
  void reload();
  // Sends a test mail with the settings in force, changes to the file made
  // before this call included; `done` gets whether the mail system took it.
  void sendTestMail(MailTransport::Done done);

 private:
  void poll();
  void armTimer();

  SensorSource& sensors_;
  std::string settingsPath_;
  Settings settings_;
  bool haveSettings_ = false;
  AlertTracker tracker_;
  SendmailTransport transport_;
  Outbox outbox_;
  TestMailer testMailer_;
  SettingsWatch watch_;
  int timerFd_ = -1;
  std::shared_ptr<RunLoopSource> timerSource_;
};

}  // namespace steward::vigild
