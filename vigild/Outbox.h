// The mails waiting to go out, in order, one send at a time. A send that
// fails is retried after a back-off that doubles from the retry interval
// up to an hour; the mail stays at the head so that an alarm and its
// all-clear never arrive the wrong way round. The queue is bounded: when
// it is full, the oldest waiting mail is dropped (the newest says best how
// the machine is now). The queue lives in memory only.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "platform/RunLoop.h"
#include "vigild/MailTransport.h"

namespace steward::vigild {

class Outbox {
 public:
  static constexpr std::size_t kDefaultCapacity = 100;
  using Clock = std::function<RunLoopClock::time_point()>;
  // Gets a syslog priority and a line about a failure or a drop.
  using Log = std::function<void(int priority, const std::string& text)>;

  // `transport` must outlive the outbox.
  Outbox(MailTransport& transport, Clock clock, Log log,
         std::size_t capacity = kDefaultCapacity);
  ~Outbox();
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  // The first back-off after a failure.
  void setRetryInterval(RunLoopClock::duration interval) { retryInterval_ = interval; }
  // Queues `message` (its subject `subject` names it in log lines) and
  // sends what is due.
  void add(std::string subject, std::string message);
  // Starts the head's send when it is due and nothing is in flight.
  void service();
  std::size_t size() const { return queue_.size(); }

 private:
  struct Mail {
    std::string subject, message;
    int failures = 0;
    RunLoopClock::time_point notBefore;
  };
  void finished(bool accepted, const std::string& reason);

  MailTransport& transport_;
  Clock clock_;
  Log log_;
  std::size_t capacity_;
  RunLoopClock::duration retryInterval_ = std::chrono::minutes(1);
  std::deque<Mail> queue_;
  bool sending_ = false;
  // Outlives the outbox in callbacks that come late.
  std::shared_ptr<Outbox*> self_;
};

}  // namespace steward::vigild
