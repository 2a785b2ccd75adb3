#include "vigild/TestMailer.h"

#include <sys/timerfd.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>

#include "vigild/AlertMail.h"

namespace steward::vigild {

TestMailer::TestMailer(std::string sendmailPath, std::chrono::seconds limit)
    : sendmailPath_(std::move(sendmailPath)),
      limit_(limit),
      self_(std::make_shared<TestMailer*>(this)) {}

TestMailer::~TestMailer() {
  *self_ = nullptr;
  if (timerSource_) timerSource_->invalidate();
  if (timer_ >= 0) close(timer_);
}

void TestMailer::send(const MailSettings& settings, const std::string& host,
                      MailTransport::Done done) {
  tick();
  if (settings.recipients.empty()) return done(false, "no recipients in the settings");
  if (sends_.size() >= kMostAtOnce) return done(false, "too many test mails at once");
  if (timer_ < 0) {
    timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    timerSource_ = RunLoopSource::create(SocketWatch::create(timer_, [this](SocketWatch&) {
      std::uint64_t expirations;
      if (read(timer_, &expirations, sizeof expirations) > 0) tick();
    }));
    if (timerSource_) RunLoop::current().addSource(timerSource_, kRunLoopCommonModes);
  }
  // The deadline is checked every second while sends run.
  itimerspec everySecond{{1, 0}, {1, 0}};
  if (timer_ < 0 || timerfd_settime(timer_, 0, &everySecond, nullptr) != 0)
    syslog(LOG_ERR, "test mail timer: %m");
  AlertMail mail = composeTestMail(settings, host, std::time(nullptr));
  sends_.push_back({std::make_unique<SendmailTransport>(sendmailPath_, limit_)});
  Send* sending = &sends_.back();
  std::weak_ptr<TestMailer*> self = self_;
  std::string subject = mail.subject;
  sending->transport->send(mail.message, [self, sending, done, subject](
                                             bool accepted, const std::string& reason) {
    syslog(accepted ? LOG_INFO : LOG_ERR, "test mail \"%s\": %s", subject.c_str(),
           accepted ? "accepted" : reason.c_str());
    // The transport is removed later, not inside its own call.
    if (auto mailer = self.lock(); mailer && *mailer) sending->finished = true;
    done(accepted, reason);
  });
}

void TestMailer::tick() {
  for (Send& send : sends_) {
    if (!send.finished) send.transport->enforceDeadline();
  }
  sends_.remove_if([](const Send& send) { return send.finished; });
  itimerspec never{};
  if (sends_.empty() && timer_ >= 0) timerfd_settime(timer_, 0, &never, nullptr);
}

}  // namespace steward::vigild
