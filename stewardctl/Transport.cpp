#include "stewardctl/Transport.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>

namespace steward::ctl {
namespace {

constexpr char kPath[] = "/stewardd/steward_kestrel";
constexpr std::size_t kMaxReply = 64 << 20;

struct Transfer {
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  curl_slist* connectTo = nullptr;
  char errorBuffer[CURL_ERROR_SIZE] = {};
  Exchange* exchange = nullptr;
  ~Transfer() {
    curl_slist_free_all(headers);
    curl_slist_free_all(connectTo);
    if (easy) curl_easy_cleanup(easy);
  }
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* context) {
  auto* body = static_cast<std::string*>(context);
  if (body->size() + size * count > kMaxReply) return 0;
  body->append(data, size * count);
  return size * count;
}

std::string hostInUrl(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

std::string failureText(CURLcode code, const Transfer& transfer, double timeout) {
  std::string detail = transfer.errorBuffer[0] ? transfer.errorBuffer : curl_easy_strerror(code);
  switch (code) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
      return "the server's certificate cannot be trusted (" + detail +
             "); for a private certificate authority pass --cacert FILE";
    case CURLE_COULDNT_RESOLVE_HOST: return "unknown host (" + detail + ")";
    case CURLE_COULDNT_CONNECT: return "cannot connect (" + detail + ")";
    case CURLE_OPERATION_TIMEDOUT:
      return "no answer within " + std::to_string(static_cast<int>(timeout + 0.5)) + " s";
    case CURLE_WRITE_ERROR: return "the reply is larger than 64 MiB";
    default: return detail;
  }
}

std::unique_ptr<Transfer> makeTransfer(const Target& target, const std::string& body,
                                       const TransportSettings& settings, Exchange* exchange) {
  auto transfer = std::make_unique<Transfer>();
  transfer->exchange = exchange;
  CURL* easy = transfer->easy = curl_easy_init();
  if (!easy) return nullptr;
  std::string url = "https://" + hostInUrl(target.host) + ":" + std::to_string(target.port) + kPath;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_POST, 1L);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  transfer->headers = curl_slist_append(nullptr, "Content-Type: application/xml");
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer->headers);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!settings.cacert.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, settings.cacert.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
  curl_easy_setopt(easy, CURLOPT_USERNAME, target.credentials.user.c_str());
  curl_easy_setopt(easy, CURLOPT_PASSWORD, target.credentials.password.c_str());
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(settings.timeout * 1000));
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &exchange->body);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer->errorBuffer);
  curl_easy_setopt(easy, CURLOPT_PRIVATE, transfer.get());
  if (!target.connectAddress.empty()) {
    std::string rule = hostInUrl(target.host) + ":" + std::to_string(target.port) + ":" +
                       hostInUrl(target.connectAddress) + ":" + std::to_string(target.port);
    transfer->connectTo = curl_slist_append(nullptr, rule.c_str());
    curl_easy_setopt(easy, CURLOPT_CONNECT_TO, transfer->connectTo);
  }
  return transfer;
}

}  // namespace

bool splitHostPort(const std::string& text, std::string* host, int* port) {
  *port = 443;
  std::string portText;
  if (!text.empty() && text[0] == '[') {
    std::size_t close = text.find(']');
    if (close == std::string::npos) return false;
    *host = text.substr(1, close - 1);
    if (close + 1 < text.size()) {
      if (text[close + 1] != ':') return false;
      portText = text.substr(close + 2);
    }
  } else if (std::size_t colon = text.find(':');
             colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
    *host = text.substr(0, colon);
    portText = text.substr(colon + 1);
  } else {
    *host = text;
  }
  if (host->empty()) return false;
  if (text.back() == ':') return false;
  if (!portText.empty()) {
    char* end = nullptr;
    long value = std::strtol(portText.c_str(), &end, 10);
    if (*end != '\0' || value < 1 || value > 65535) return false;
    *port = static_cast<int>(value);
  }
  return true;
}

std::vector<Exchange> postToAll(const std::vector<Target>& targets, const std::string& body,
                                const TransportSettings& settings) {
  std::vector<Exchange> exchanges(targets.size());
  curl_global_init(CURL_GLOBAL_DEFAULT);
  CURLM* multi = curl_multi_init();
  std::vector<std::unique_ptr<Transfer>> running(targets.size());
  std::size_t next = 0, active = 0;
  auto startMore = [&] {
    while (next < targets.size() && active < static_cast<std::size_t>(settings.parallel)) {
      auto transfer = makeTransfer(targets[next], body, settings, &exchanges[next]);
      if (!transfer) {
        exchanges[next++].failure = "cannot start a transfer";
        continue;
      }
      curl_multi_add_handle(multi, transfer->easy);
      running[next++] = std::move(transfer);
      ++active;
    }
  };
  startMore();
  while (active > 0) {
    int stillRunning = 0;
    curl_multi_perform(multi, &stillRunning);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      if (message->msg != CURLMSG_DONE) continue;
      Transfer* transfer = nullptr;
      curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
      Exchange* exchange = transfer->exchange;
      if (message->data.result == CURLE_OK) {
        exchange->transferred = true;
        curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &exchange->httpStatus);
      } else {
        exchange->failure = failureText(message->data.result, *transfer, settings.timeout);
      }
      curl_multi_remove_handle(multi, transfer->easy);
      for (auto& slot : running) {
        if (slot.get() == transfer) slot.reset();
      }
      --active;
    }
    startMore();
    if (active > 0) curl_multi_poll(multi, nullptr, 0, 200, nullptr);
  }
  curl_multi_cleanup(multi);
  return exchanges;
}

}  // namespace steward::ctl
