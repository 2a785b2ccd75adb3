// A load generator for the HTTPS front: CLIENTS concurrent clients, each
// keeping its connection open as a browser does, send COUNT POSTs of the
// file BODY to URL in all, each as soon as the client's previous one was
// answered. Each client's first request, which opens the connection, is sent
// on top and not counted. Prints the clients, the requests, the requests per second, the
// latency percentiles p50 and p99 in milliseconds and the requests that
// failed (no reply, or a status other than 200).
//
//   front_load URL USER:PASSWORD BODY CLIENTS COUNT
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Client {
  CURL* easy = nullptr;
  Clock::time_point start;
  bool connected = false;
};

std::size_t discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

double milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double percentile(const std::vector<double>& sorted, double share) {
  if (sorted.empty()) return 0;
  return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(sorted.size() * share))];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: front_load URL USER:PASSWORD BODY CLIENTS COUNT\n");
    return 2;
  }
  std::ifstream file(argv[3], std::ios::binary);
  const std::string body((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::size_t clients = std::max(1, std::atoi(argv[4]));
  const std::size_t total = std::max(1, std::atoi(argv[5]));
  curl_global_init(CURL_GLOBAL_DEFAULT);
  CURLM* multi = curl_multi_init();
  curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, static_cast<long>(clients));
  std::vector<Client> pool(std::min(clients, total));
  std::vector<double> latencies;
  std::size_t started = 0, failed = 0;
  const auto launch = [&](Client& client) {
    client.start = Clock::now();
    curl_multi_add_handle(multi, client.easy);
    ++started;
  };
  Clock::time_point begin;  // when the first counted request went out
  for (Client& client : pool) {
    client.easy = curl_easy_init();
    curl_easy_setopt(client.easy, CURLOPT_URL, argv[1]);
    curl_easy_setopt(client.easy, CURLOPT_USERPWD, argv[2]);
    curl_easy_setopt(client.easy, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(client.easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(client.easy, CURLOPT_WRITEFUNCTION, discard);
    curl_easy_setopt(client.easy, CURLOPT_SSL_VERIFYPEER, 0L);  // the certificate is self-signed
    curl_easy_setopt(client.easy, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(client.easy, CURLOPT_PRIVATE, &client);
    launch(client);
  }
  while (latencies.size() < total) {
    int running = 0;
    curl_multi_perform(multi, &running);
    int left = 0;
    bool relaunched = false;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
      if (message->msg != CURLMSG_DONE) continue;
      Client* client = nullptr;
      long status = 0;
      curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &client);
      curl_easy_getinfo(message->easy_handle, CURLINFO_RESPONSE_CODE, &status);
      if (client->connected) latencies.push_back(milliseconds(Clock::now() - client->start));
      if (message->data.result != CURLE_OK || status != 200) ++failed;
      if (!client->connected && begin == Clock::time_point()) begin = Clock::now();
      client->connected = true;
      curl_multi_remove_handle(multi, client->easy);
      if (started < total + pool.size()) {
        launch(*client);
        relaunched = true;
      }
    }
    // A relaunched request starts with the next perform, not the next event.
    if (!relaunched) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
  }
  const double seconds = milliseconds(Clock::now() - begin) / 1000;
  std::sort(latencies.begin(), latencies.end());
  std::printf("%zu %zu %.1f %.2f %.2f %zu\n", clients, total, static_cast<double>(total) / seconds,
              percentile(latencies, 0.50), percentile(latencies, 0.99), failed);
  for (Client& client : pool) curl_easy_cleanup(client.easy);
  curl_multi_cleanup(multi);
  curl_global_cleanup();
  return failed == 0 ? 0 : 1;
}
