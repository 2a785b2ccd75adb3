// The web server's login check, run as a gateway script for each request
// (an auth_request): HTTP Basic credentials against PAM service "stewardd".
// Answers 200 with the verified name in X-Stewardd-User, 401, or 403 when
// the client address has failed too often lately; PAM is not asked then.
// A login verified in the last half minute skips the password hash (yescrypt,
// tens of milliseconds by design), but not PAM's account check.
#include <fcntl.h>
#include <security/pam_appl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "deploy/VerifiedLogins.h"

namespace {

constexpr const char* kFailureDirectory = "/run/stewardd-logins";
constexpr double kAllowedBurst = 5;        // failures in a row
constexpr double kSecondsPerFailure = 10;  // after the burst: one each 10 s
// Dropped when the check's service starts, and so its key with it.
constexpr const char* kVerifiedFile = "/run/stewardd-logins/verified";
constexpr double kVerifiedLifetime = 30;  // seconds
constexpr std::size_t kVerifiedCapacity = 256;

std::optional<std::string> decodeBase64(const std::string& text) {
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  unsigned bits = 0, count = 0;
  for (char c : text) {
    if (c == '=') break;
    std::size_t value = alphabet.find(c);
    if (value == std::string::npos) return std::nullopt;
    bits = (bits << 6) | static_cast<unsigned>(value);
    if ((count += 6) >= 8) bytes.push_back(static_cast<char>((bits >> (count -= 8)) & 0xff));
  }
  return bytes;
}

// The failure record of one address: a level that drains one step each
// kSecondsPerFailure, kept locked in a file while this check runs.
class FailureRecord {
 public:
  explicit FailureRecord(const std::string& address) {
    bool plain = !address.empty() && address.size() < 64 &&
                 address.find_first_not_of("0123456789abcdefABCDEF.:") == std::string::npos;
    mkdir(kFailureDirectory, 0700);
    if (plain) fd_ = open((std::string(kFailureDirectory) + "/" + address).c_str(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ >= 0 && flock(fd_, LOCK_EX) != 0) {
      close(fd_);
      fd_ = -1;
    }
    if (fd_ < 0) return;
    char text[64] = {};
    if (pread(fd_, text, sizeof text - 1, 0) > 0) {
      double level = 0, at = 0;
      if (std::sscanf(text, "%lf %lf", &level, &at) == 2)
        level_ = std::max(0.0, level - (now() - at) / kSecondsPerFailure);
    }
  }
  ~FailureRecord() {
    if (fd_ >= 0) close(fd_);
  }
  // An address that cannot be recorded counts as over the limit.
  bool overLimit() const { return fd_ < 0 || level_ + 1 > kAllowedBurst; }
  // Lets the address's other checks go on: for a login that cannot fail on
  // its password. Guesses stay one at a time, each seeing the ones before.
  void release() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  static double now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
  }
  bool addFailure() {
    std::string text = std::to_string(level_ + 1) + " " + std::to_string(now()) + "\n";
    return ftruncate(fd_, 0) == 0 &&
           pwrite(fd_, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
  }

 private:
  int fd_ = -1;
  double level_ = 0;
};

// Hands the password to every prompt that hides its answer.
int converse(int count, const pam_message** messages, pam_response** replies, void* password) {
  auto* answers = static_cast<pam_response*>(std::calloc(static_cast<std::size_t>(count),
                                                         sizeof(pam_response)));
  if (!answers) return PAM_BUF_ERR;
  for (int i = 0; i < count; ++i)
    if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF)
      answers[i].resp = strdup(static_cast<const char*>(password));
  *replies = answers;
  return PAM_SUCCESS;
}

// PAM's verdict on the password (unless `passwordKnown`) and on the account.
bool authenticate(const std::string& user, const std::string& password,
                  const std::string& address, bool passwordKnown) {
  pam_conv conversation = {converse, const_cast<char*>(password.c_str())};
  pam_handle_t* handle = nullptr;
  if (pam_start("stewardd", user.c_str(), &conversation, &handle) != PAM_SUCCESS) return false;
  pam_set_item(handle, PAM_RHOST, address.c_str());
  int status = passwordKnown ? PAM_SUCCESS : pam_authenticate(handle, PAM_DISALLOW_NULL_AUTHTOK);
  if (status == PAM_SUCCESS) status = pam_acct_mgmt(handle, PAM_DISALLOW_NULL_AUTHTOK);
  pam_end(handle, status);
  return status == PAM_SUCCESS;
}

void answer(const char* status, const std::string& headers = "") {
  std::printf("Status: %s\r\n%s\r\n", status, headers.c_str());
}

}  // namespace

int main() {
  const char* addressVariable = std::getenv("REMOTE_ADDR");
  const char* authorization = std::getenv("HTTP_AUTHORIZATION");
  std::string address = addressVariable ? addressVariable : "";
  openlog("stewardd-login", LOG_PID, LOG_AUTHPRIV);
  FailureRecord record(address);
  if (record.overLimit()) {
    syslog(LOG_WARNING, "refused a login from %s: too many failures", address.c_str());
    answer("403 Forbidden");
    return 0;
  }
  std::optional<std::string> credentials;
  if (authorization && std::strncmp(authorization, "Basic ", 6) == 0)
    credentials = decodeBase64(authorization + 6);
  std::size_t colon = credentials ? credentials->find(':') : std::string::npos;
  std::string user = credentials ? credentials->substr(0, std::min(colon, credentials->size())) : "";
  bool printable = std::none_of(user.begin(), user.end(),
                                [](unsigned char c) { return c < 0x20 || c == 0x7f; });
  if (colon != std::string::npos && !user.empty() && printable) {
    const std::string password = credentials->substr(colon + 1);
    const steward::VerifiedLogins verified(kVerifiedFile, kVerifiedLifetime, kVerifiedCapacity);
    const bool known = verified.contains(user, password, FailureRecord::now());
    if (known) record.release();
    if (authenticate(user, password, address, known)) {
      if (!known) verified.remember(user, password, FailureRecord::now());
      answer("200 OK", "X-Stewardd-User: " + user + "\r\n");
      return 0;
    }
    syslog(LOG_NOTICE, "failed login of %s from %s", user.c_str(), address.c_str());
    record.addFailure();
  }
  answer("401 Unauthorized", "WWW-Authenticate: Basic realm=\"stewardd\"\r\n");
  return 0;
}
