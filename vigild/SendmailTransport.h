// Sends through the system's sendmail interface: `/usr/sbin/sendmail -t -i`
// (recipients from the headers; a lone "." does not end the message), the
// message on its standard input. The program runs beside the run loop:
// this thread's loop learns of its end through a process descriptor, so a
// slow mail system never holds up the status port. A send that has not
// ended by its deadline is killed and counts as failed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>

#include "platform/RunLoop.h"
#include "vigild/MailTransport.h"

namespace steward::vigild {

class SendmailTransport : public MailTransport {
 public:
  static constexpr const char* kSendmailPath = "/usr/sbin/sendmail";

  explicit SendmailTransport(std::string program = kSendmailPath,
                             std::chrono::seconds deadline = std::chrono::minutes(2));
  ~SendmailTransport() override;  // a running send is left to finish alone
  SendmailTransport(const SendmailTransport&) = delete;
  SendmailTransport& operator=(const SendmailTransport&) = delete;

  void send(const std::string& message, Done done) override;
  // Kills a send past its deadline; for a periodic caller.
  void enforceDeadline();

 private:
  void reap();
  void finish(bool accepted, const std::string& reason);

  std::string program_;
  std::chrono::seconds deadline_;
  pid_t child_ = -1;
  int processFd_ = -1;
  RunLoopClock::time_point startedAt_;
  std::shared_ptr<RunLoopSource> source_;
  Done done_;
};

}  // namespace steward::vigild
