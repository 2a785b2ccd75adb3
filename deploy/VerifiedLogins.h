// Logins the login check verified lately, so that a client that sends the
// same credentials with every request does not pay for the password hash
// each time. Only a keyed hash of user and password is kept, under a random
// key that lives in the same root-only file: the file never holds anything
// that would let its reader guess a password offline.
#pragma once

#include <cstddef>
#include <string>

namespace steward {

class VerifiedLogins {
 public:
  // `path`: the file, made on first use; `lifetime`: seconds a login stays
  // verified; `capacity`: the most logins kept, the oldest dropped first.
  VerifiedLogins(std::string path, double lifetime, std::size_t capacity);

  // Whether `user` logged in with `password` less than the lifetime before
  // `now` (seconds on a clock shared by all processes).
  bool contains(const std::string& user, const std::string& password, double now) const;
  // Records a login PAM accepted at `now`. False when the file could not be
  // written: the next check then asks PAM again.
  bool remember(const std::string& user, const std::string& password, double now) const;

 private:
  std::string path_;
  double lifetime_;
  std::size_t capacity_;
};

}  // namespace steward
