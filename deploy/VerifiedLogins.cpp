#include "deploy/VerifiedLogins.h"

#include <fcntl.h>
#include <nettle/hmac.h>
#include <nettle/memops.h>
#include <sys/file.h>
#include <sys/random.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <utility>
#include <vector>

namespace steward {
namespace {

constexpr std::size_t kKeyBytes = 32;

std::string hex(const unsigned char* bytes, std::size_t size) {
  std::string text;
  char pair[3];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    text += pair;
  }
  return text;
}

struct Login {
  std::string mac;
  double expires;
};

// The file, locked from opening to closing: the key on the first line, then
// one line per login, "MAC EXPIRES".
class LockedFile {
 public:
  explicit LockedFile(const std::string& path)
      : fd_(open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600)) {
    if (fd_ >= 0 && flock(fd_, LOCK_EX) != 0) {
      close(fd_);
      fd_ = -1;
    }
    if (fd_ >= 0 && !read()) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~LockedFile() {
    if (fd_ >= 0) close(fd_);
  }
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  bool usable() const { return fd_ >= 0; }
  std::vector<Login>& logins() { return logins_; }

  std::string macOf(const std::string& user, const std::string& password) const {
    const std::string data = user + '\0' + password;
    hmac_sha256_ctx context;
    unsigned char mac[SHA256_DIGEST_SIZE];
    hmac_sha256_set_key(&context, key_.size(), reinterpret_cast<const std::uint8_t*>(key_.data()));
    hmac_sha256_update(&context, data.size(), reinterpret_cast<const std::uint8_t*>(data.data()));
    hmac_sha256_digest(&context, sizeof mac, mac);
    return hex(mac, sizeof mac);
  }

  bool write() const {
    std::string text = hex(reinterpret_cast<const unsigned char*>(key_.data()), key_.size()) + "\n";
    for (const Login& login : logins_) text += login.mac + " " + std::to_string(login.expires) + "\n";
    return ftruncate(fd_, 0) == 0 &&
           pwrite(fd_, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
  }

 private:
  // The content; a new key when there is none (a new file).
  bool read() {
    std::string text;
    char buffer[4096];
    ssize_t n;
    off_t offset = 0;
    while ((n = pread(fd_, buffer, sizeof buffer, offset)) > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
      offset += n;
    }
    std::istringstream lines(text);
    std::string keyHex;
    if (n < 0) return false;
    if (!(lines >> keyHex) || keyHex.size() != 2 * kKeyBytes ||
        keyHex.find_first_not_of("0123456789abcdef") != std::string::npos) {
      key_.resize(kKeyBytes);
      return getrandom(key_.data(), kKeyBytes, 0) == static_cast<ssize_t>(kKeyBytes) && write();
    }
    for (std::size_t i = 0; i < kKeyBytes; ++i)
      key_.push_back(static_cast<char>(std::stoul(keyHex.substr(2 * i, 2), nullptr, 16)));
    Login login;
    while (lines >> login.mac >> login.expires) logins_.push_back(login);
    return true;
  }

  int fd_;
  std::string key_;
  std::vector<Login> logins_;
};

}  // namespace

VerifiedLogins::VerifiedLogins(std::string path, double lifetime, std::size_t capacity)
    : path_(std::move(path)), lifetime_(lifetime), capacity_(capacity) {}

bool VerifiedLogins::contains(const std::string& user, const std::string& password,
                              double now) const {
  LockedFile file(path_);
  if (!file.usable()) return false;
  const std::string mac = file.macOf(user, password);
  for (const Login& login : file.logins())
    if (login.expires > now && login.expires <= now + lifetime_ &&
        login.mac.size() == mac.size() && memeql_sec(login.mac.data(), mac.data(), mac.size()))
      return true;
  return false;
}

bool VerifiedLogins::remember(const std::string& user, const std::string& password,
                              double now) const {
  LockedFile file(path_);
  if (!file.usable() || capacity_ == 0) return false;
  const std::string mac = file.macOf(user, password);
  std::vector<Login> kept;
  for (const Login& login : file.logins())
    if (login.expires > now && login.expires <= now + lifetime_ && login.mac != mac) kept.push_back(login);
  if (kept.size() >= capacity_) kept.erase(kept.begin(), kept.end() - static_cast<long>(capacity_ - 1));
  kept.push_back({mac, now + lifetime_});
  file.logins() = std::move(kept);
  return file.write();
}

}  // namespace steward
