// Test mails on request: each goes out at once through a sendmail of its
// own (never queued behind the alarm mail, never retried), and the caller
// learns whether the mail system took it. A send that has not ended within
// the limit is killed and counts as refused. Runs on this thread's run loop.
#pragma once

#include <chrono>
#include <list>
#include <memory>
#include <string>

#include "platform/RunLoop.h"
#include "vigild/SendmailTransport.h"
#include "vigild/Settings.h"

namespace steward::vigild {

class TestMailer {
 public:
  static constexpr std::size_t kMostAtOnce = 4;

  TestMailer(std::string sendmailPath, std::chrono::seconds limit);
  ~TestMailer();  // sends still running are left to finish alone
  TestMailer(const TestMailer&) = delete;
  TestMailer& operator=(const TestMailer&) = delete;

  // Mails the recipients of `settings` whether or not alarm mail is
  // enabled; `done` gets the verdict, at once when there is nobody to mail
  // or kMostAtOnce sends are running.
  void send(const MailSettings& settings, const std::string& host, MailTransport::Done done);

 private:
  struct Send {
    std::unique_ptr<SendmailTransport> transport;
    bool finished = false;
  };
  void tick();

  std::string sendmailPath_;
  std::chrono::seconds limit_;
  std::list<Send> sends_;
  int timer_ = -1;
  std::shared_ptr<RunLoopSource> timerSource_;
  std::shared_ptr<TestMailer*> self_;
};

}  // namespace steward::vigild
