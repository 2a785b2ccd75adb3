#include "vigild/Outbox.h"

#include <syslog.h>

#include <algorithm>

namespace steward::vigild {
namespace {

constexpr auto kLongestBackOff = std::chrono::hours(1);

std::string secondsText(RunLoopClock::duration duration) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
  std::string text = std::to_string(ms / 1000);
  if (ms % 1000 != 0) {
    std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
    text += "." + fraction.substr(0, fraction.find_last_not_of('0') + 1);
  }
  return text + " s";
}

}  // namespace

Outbox::Outbox(MailTransport& transport, Clock clock, Log log, std::size_t capacity)
    : transport_(transport),
      clock_(std::move(clock)),
      log_(std::move(log)),
      capacity_(std::max<std::size_t>(capacity, 2)),
      self_(std::make_shared<Outbox*>(this)) {}

Outbox::~Outbox() { *self_ = nullptr; }

void Outbox::add(std::string subject, std::string message) {
  if (queue_.size() >= capacity_) {
    // The head may be in flight; the next one is then the oldest waiting.
    auto oldest = queue_.begin() + (sending_ ? 1 : 0);
    log_(LOG_ERR, "mail queue full: dropped \"" + oldest->subject + "\"");
    queue_.erase(oldest);
  }
  queue_.push_back({std::move(subject), std::move(message), 0, clock_()});
  service();
}

void Outbox::service() {
  if (sending_ || queue_.empty() || clock_() < queue_.front().notBefore) return;
  sending_ = true;
  std::weak_ptr<Outbox*> self = self_;
  transport_.send(queue_.front().message, [self](bool accepted, const std::string& reason) {
    if (auto outbox = self.lock(); outbox && *outbox) (*outbox)->finished(accepted, reason);
  });
}

void Outbox::finished(bool accepted, const std::string& reason) {
  sending_ = false;
  if (queue_.empty()) return;
  Mail& head = queue_.front();
  if (accepted) {
    queue_.pop_front();
    return service();
  }
  RunLoopClock::duration backOff = retryInterval_;
  for (int i = 0; i < head.failures && backOff < kLongestBackOff; ++i) backOff *= 2;
  backOff = std::min<RunLoopClock::duration>(backOff, kLongestBackOff);
  ++head.failures;
  head.notBefore = clock_() + backOff;
  log_(LOG_ERR, "cannot send \"" + head.subject + "\": " + reason + "; trying again in " +
                    secondsText(backOff));
}

}  // namespace steward::vigild
