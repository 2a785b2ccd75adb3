// Logins the login check verified lately, so that a client that sends the
// same credentials with every request does not pay for the password hash
// each time. Only a keyed hash of user and password is kept, under a random
// key made for this object and held in memory alone: nothing kept would let
// its reader guess a password offline. Safe to share between threads.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace steward {

class VerifiedLogins {
 public:
  // `lifetime`: seconds a login stays verified; `capacity`: the most logins
  // kept, the oldest dropped first.
  VerifiedLogins(double lifetime, std::size_t capacity);

  // Whether `user` logged in with `password` less than the lifetime before
  // `now` (seconds on a monotonic clock).
  bool contains(const std::string& user, const std::string& password, double now) const;
  // Records a login PAM accepted at `now`. False when there is no key (no
  // randomness at start): every check then asks PAM again.
  bool remember(const std::string& user, const std::string& password, double now);

 private:
  struct Login {
    std::string mac;
    double expires;
  };
  std::string macOf(const std::string& user, const std::string& password) const;
  bool current(const Login& login, double now) const;

  double lifetime_;
  std::size_t capacity_;
  std::string key_;  // empty when none could be made
  mutable std::mutex mutex_;
  std::vector<Login> logins_;  // oldest first
};

}  // namespace steward
