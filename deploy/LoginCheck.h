// The web server's login check: HTTP Basic credentials against PAM service
// "stewardd", asked by a FastCGI request per login (an auth_request). Answers
// 200 with the verified name in X-Stewardd-User, 401, or 403 when the client
// address has failed too often lately; PAM is not asked then.
//
// A login verified in the last half minute skips the password hash (yescrypt,
// tens of milliseconds by design), but not PAM's account check. The password
// checks of one address run one at a time, each seeing the failures before
// it, on one thread: the others wait in a queue rather than on threads, so
// slow failures (pam_unix waits two seconds after one) hold up only their
// own address, never the other threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "deploy/VerifiedLogins.h"

struct pam_handle;

namespace steward {

class LoginCheck {
 public:
  LoginCheck();
  ~LoginCheck();
  LoginCheck(const LoginCheck&) = delete;
  LoginCheck& operator=(const LoginCheck&) = delete;

  // Reads one request from connection `fd` and answers it, now or later on
  // some thread; owns `fd` from here and closes it once answered.
  void serve(int fd);

 private:
  struct Check {
    int fd;
    std::uint16_t id;
    std::string address;
    std::string user;  // empty without usable credentials
    std::string password;
  };
  // The failures of one address: a level that drains one step each ten
  // seconds; whether a password check of it runs, and the checks waiting.
  struct Address {
    double level = 0;
    double at = 0;
    bool checking = false;
    std::deque<Check> waiting;
    double levelAt(double time) const;
  };
  enum class Verdict { kRefused, kTooMany, kNoCredentials, kKnown, kQueued, kNeedsPassword };

  Verdict look(Check& check, bool queueWhenBusy);  // with mutex_ held
  Address* addressOf(const std::string& name, double now);
  void conclude(Check& check, Verdict verdict);
  void checkPasswords(Check check);
  void forgetIfIdle(const std::string& name, double now);

  std::mutex mutex_;
  std::map<std::string, Address> addresses_;
  std::size_t waiting_ = 0;  // in all queues
  VerifiedLogins verified_;
  pam_handle* resident_ = nullptr;  // keeps the service's modules loaded
};

}  // namespace steward
