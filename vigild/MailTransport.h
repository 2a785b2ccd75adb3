// Hands a finished message to the mail system: sendmail on a real machine,
// a recording fake in tests.
#pragma once

#include <functional>
#include <string>

namespace steward::vigild {

class MailTransport {
 public:
  // Called once per send: whether the mail system took the message, and
  // why not.
  using Done = std::function<void(bool accepted, const std::string& reason)>;

  virtual ~MailTransport() = default;
  // Starts handing over `message` (headers, blank line, body); `done` may
  // run before this returns. One send at a time.
  virtual void send(const std::string& message, Done done) = 0;
};

}  // namespace steward::vigild
