#include "deploy/VerifiedLogins.h"

#include <nettle/hmac.h>
#include <nettle/memops.h>
#include <sys/random.h>

#include <algorithm>
#include <cstdint>

namespace steward {
namespace {

constexpr std::size_t kKeyBytes = 32;

}  // namespace

VerifiedLogins::VerifiedLogins(double lifetime, std::size_t capacity)
    : lifetime_(lifetime), capacity_(capacity), key_(kKeyBytes, '\0') {
  if (getrandom(key_.data(), kKeyBytes, 0) != static_cast<ssize_t>(kKeyBytes)) key_.clear();
}

std::string VerifiedLogins::macOf(const std::string& user, const std::string& password) const {
  const std::string data = user + '\0' + password;
  hmac_sha256_ctx context;
  std::string mac(SHA256_DIGEST_SIZE, '\0');
  hmac_sha256_set_key(&context, key_.size(), reinterpret_cast<const std::uint8_t*>(key_.data()));
  hmac_sha256_update(&context, data.size(), reinterpret_cast<const std::uint8_t*>(data.data()));
  hmac_sha256_digest(&context, mac.size(), reinterpret_cast<std::uint8_t*>(mac.data()));
  return mac;
}

// A clock that went back leaves no login verified for longer than the lifetime.
bool VerifiedLogins::current(const Login& login, double now) const {
  return login.expires > now && login.expires <= now + lifetime_;
}

bool VerifiedLogins::contains(const std::string& user, const std::string& password,
                              double now) const {
  if (key_.empty()) return false;
  const std::string mac = macOf(user, password);
  std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(logins_.begin(), logins_.end(), [&](const Login& login) {
    return current(login, now) && memeql_sec(login.mac.data(), mac.data(), mac.size());
  });
}

bool VerifiedLogins::remember(const std::string& user, const std::string& password, double now) {
  if (key_.empty() || capacity_ == 0) return false;
  const std::string mac = macOf(user, password);
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(logins_,
                [&](const Login& login) { return !current(login, now) || login.mac == mac; });
  if (logins_.size() >= capacity_)
    logins_.erase(logins_.begin(), logins_.end() - static_cast<long>(capacity_ - 1));
  logins_.push_back({mac, now + lifetime_});
  return true;
}

}  // namespace steward
