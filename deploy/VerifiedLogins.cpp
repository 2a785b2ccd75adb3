#include "deploy/VerifiedLogins.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/random.h>

#include <algorithm>

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
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!HMAC(EVP_sha256(), key_.data(), static_cast<int>(key_.size()),
            reinterpret_cast<const unsigned char*>(data.data()), data.size(), mac, &size))
    return {};
  return std::string(reinterpret_cast<const char*>(mac), size);
}

// A clock that went back leaves no login verified for longer than the lifetime.
bool VerifiedLogins::current(const Login& login, double now) const {
  return login.expires > now && login.expires <= now + lifetime_;
}

bool VerifiedLogins::contains(const std::string& user, const std::string& password,
                              double now) const {
  if (key_.empty()) return false;
  const std::string mac = macOf(user, password);
  if (mac.empty()) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(logins_.begin(), logins_.end(), [&](const Login& login) {
    return current(login, now) && login.mac.size() == mac.size() &&
           CRYPTO_memcmp(login.mac.data(), mac.data(), mac.size()) == 0;
  });
}

bool VerifiedLogins::remember(const std::string& user, const std::string& password, double now) {
  if (key_.empty() || capacity_ == 0) return false;
  const std::string mac = macOf(user, password);
  if (mac.empty()) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(logins_,
                [&](const Login& login) { return !current(login, now) || login.mac == mac; });
  if (logins_.size() >= capacity_)
    logins_.erase(logins_.begin(), logins_.end() - static_cast<long>(capacity_ - 1));
  logins_.push_back({mac, now + lifetime_});
  return true;
}

}  // namespace steward
