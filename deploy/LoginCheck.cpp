#include "deploy/LoginCheck.h"

#include <security/pam_appl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <utility>
#include <vector>

#include "deploy/FastCgi.h"

namespace steward {
namespace {

constexpr double kAllowedBurst = 5;        // failures in a row
constexpr double kSecondsPerFailure = 10;  // after the burst: one each 10 s
constexpr std::size_t kAddressCapacity = 4096;
constexpr std::size_t kWaitingPerAddress = 256;
constexpr std::size_t kWaitingLimit = 512;
constexpr double kVerifiedLifetime = 30;  // seconds
constexpr std::size_t kVerifiedCapacity = 256;
constexpr time_t kConnectionTimeout = 10;  // seconds, reading or writing

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

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

// User and password of Basic credentials; an empty user when there are none
// or the name holds control characters.
std::pair<std::string, std::string> credentialsOf(const std::string& authorization) {
  std::optional<std::string> decoded;
  if (authorization.compare(0, 6, "Basic ") == 0) decoded = decodeBase64(authorization.substr(6));
  std::size_t colon = decoded ? decoded->find(':') : std::string::npos;
  if (colon == std::string::npos) return {};
  std::string user = decoded->substr(0, colon);
  if (std::any_of(user.begin(), user.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; }))
    return {};
  return {user, decoded->substr(colon + 1)};
}

// Addresses as the web server writes them; anything else is refused.
bool plainAddress(const std::string& address) {
  return !address.empty() && address.size() < 64 &&
         address.find_first_not_of("0123456789abcdefABCDEF.:") == std::string::npos;
}

// Hands the password to every prompt that hides its answer.
int converse(int count, const pam_message** messages, pam_response** replies, void* password) {
  auto* answers = static_cast<pam_response*>(
      std::calloc(static_cast<std::size_t>(count), sizeof(pam_response)));
  if (!answers) return PAM_BUF_ERR;
  for (int i = 0; i < count; ++i)
    if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF)
      answers[i].resp = strdup(static_cast<const char*>(password));
  *replies = answers;
  return PAM_SUCCESS;
}

// PAM's verdict on the password (unless `passwordKnown`) and on the account.
bool authenticate(const std::string& user, const std::string& password, const std::string& address,
                  bool passwordKnown) {
  pam_conv conversation = {converse, const_cast<char*>(password.c_str())};
  pam_handle_t* handle = nullptr;
  if (pam_start("stewardd", user.c_str(), &conversation, &handle) != PAM_SUCCESS) return false;
  pam_set_item(handle, PAM_RHOST, address.c_str());
  int status = passwordKnown ? PAM_SUCCESS : pam_authenticate(handle, PAM_DISALLOW_NULL_AUTHTOK);
  if (status == PAM_SUCCESS) status = pam_acct_mgmt(handle, PAM_DISALLOW_NULL_AUTHTOK);
  pam_end(handle, status);
  return status == PAM_SUCCESS;
}

void answer(int fd, std::uint16_t id, const char* status, const std::string& headers = "") {
  writeFastCgiResponse(fd, id, std::string("Status: ") + status + "\r\n" + headers + "\r\n");
  close(fd);
}

void answerLogin(int fd, std::uint16_t id, bool verified, const std::string& user,
                 const std::string& address) {
  if (verified) return answer(fd, id, "200 OK", "X-Stewardd-User: " + user + "\r\n");
  syslog(LOG_NOTICE, "failed login of %s from %s", user.c_str(), address.c_str());
  answer(fd, id, "401 Unauthorized", "WWW-Authenticate: Basic realm=\"stewardd\"\r\n");
}

}  // namespace

// A PAM handle of the service that is never used keeps its modules loaded:
// every check's own pam_start then finds them in memory instead of loading
// and relocating them again, most of a known login's cost. Checks still
// read the configuration afresh, and load any module it names anew.
LoginCheck::LoginCheck() : verified_(kVerifiedLifetime, kVerifiedCapacity) {
  pam_conv none = {nullptr, nullptr};
  if (pam_start("stewardd", nullptr, &none, &resident_) != PAM_SUCCESS) resident_ = nullptr;
}

LoginCheck::~LoginCheck() {
  if (resident_) pam_end(resident_, PAM_SUCCESS);
}

void LoginCheck::serve(int fd) {
  const timeval timeout = {kConnectionTimeout, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  std::optional<FastCgiRequest> request = readFastCgiRequest(fd);
  if (!request) {
    close(fd);
    return;
  }
  auto [user, password] = credentialsOf(request->params["HTTP_AUTHORIZATION"]);
  Check check{fd, request->id, request->params["REMOTE_ADDR"], user, password};
  Verdict verdict;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    verdict = look(check, true);
  }
  if (verdict == Verdict::kNeedsPassword)
    checkPasswords(std::move(check));
  else if (verdict != Verdict::kQueued)
    conclude(check, verdict);
}

LoginCheck::Verdict LoginCheck::look(Check& check, bool queueWhenBusy) {
  const double time = now();
  Address* address = plainAddress(check.address) ? addressOf(check.address, time) : nullptr;
  Verdict verdict = Verdict::kNeedsPassword;
  if (!address || address->levelAt(time) + 1 > kAllowedBurst)
    verdict = Verdict::kRefused;
  else if (check.user.empty())
    verdict = Verdict::kNoCredentials;
  else if (verified_.contains(check.user, check.password, time))
    verdict = Verdict::kKnown;
  else if (queueWhenBusy && address->checking &&
           (address->waiting.size() >= kWaitingPerAddress || waiting_ >= kWaitingLimit))
    verdict = Verdict::kTooMany;
  else if (queueWhenBusy && address->checking) {
    address->waiting.push_back(std::move(check));
    ++waiting_;
    return Verdict::kQueued;
  } else {
    address->checking = true;
    return Verdict::kNeedsPassword;
  }
  if (address) forgetIfIdle(check.address, time);
  return verdict;
}

// An address that cannot be kept counts as over the limit. When full, the
// idle address with the fewest failures goes.
LoginCheck::Address* LoginCheck::addressOf(const std::string& name, double time) {
  auto found = addresses_.find(name);
  if (found != addresses_.end()) return &found->second;
  if (addresses_.size() >= kAddressCapacity) {
    auto victim = addresses_.end();
    double lowest = kAllowedBurst + 1;
    for (auto it = addresses_.begin(); it != addresses_.end(); ++it) {
      const double level = it->second.levelAt(time);
      if (!it->second.checking && level < lowest) victim = it, lowest = level;
    }
    if (victim == addresses_.end()) return nullptr;
    addresses_.erase(victim);
  }
  return &addresses_[name];
}

double LoginCheck::Address::levelAt(double time) const {
  return std::max(0.0, level - (time - at) / kSecondsPerFailure);
}

void LoginCheck::forgetIfIdle(const std::string& name, double time) {
  auto it = addresses_.find(name);
  if (it != addresses_.end() && !it->second.checking && it->second.waiting.empty() &&
      it->second.levelAt(time) == 0)
    addresses_.erase(it);
}

void LoginCheck::conclude(Check& check, Verdict verdict) {
  switch (verdict) {
    case Verdict::kRefused:
    case Verdict::kTooMany:
      syslog(LOG_WARNING, "refused a login from %s: %s", check.address.c_str(),
             verdict == Verdict::kRefused ? "too many failures" : "too many at once");
      return answer(check.fd, check.id, "403 Forbidden");
    case Verdict::kNoCredentials:
      return answer(check.fd, check.id, "401 Unauthorized",
                    "WWW-Authenticate: Basic realm=\"stewardd\"\r\n");
    case Verdict::kKnown:
      return answerLogin(check.fd, check.id,
                         authenticate(check.user, check.password, check.address, true), check.user,
                         check.address);
    case Verdict::kQueued:
    case Verdict::kNeedsPassword:
      break;
  }
}

// Runs the password checks of one address, this one and those that queue
// meanwhile, until none is left.
void LoginCheck::checkPasswords(Check check) {
  for (;;) {
    const bool verified = authenticate(check.user, check.password, check.address, false);
    if (verified) verified_.remember(check.user, check.password, now());
    answerLogin(check.fd, check.id, verified, check.user, check.address);
    std::vector<std::pair<Check, Verdict>> others;
    std::optional<Check> next;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const double time = now();
      Address& address = addresses_.at(check.address);
      if (!verified) {
        address.level = address.levelAt(time) + 1;
        address.at = time;
      }
      while (!next && !address.waiting.empty()) {
        Check waiting = std::move(address.waiting.front());
        address.waiting.pop_front();
        --waiting_;
        const Verdict verdict = look(waiting, false);
        if (verdict == Verdict::kNeedsPassword)
          next = std::move(waiting);
        else
          others.emplace_back(std::move(waiting), verdict);
      }
      if (!next) {
        address.checking = false;
        forgetIfIdle(check.address, time);
      }
    }
    for (auto& [other, verdict] : others) conclude(other, verdict);
    if (!next) return;
    check = std::move(*next);
  }
}

}  // namespace steward
