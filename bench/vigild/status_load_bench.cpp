// Sustained load on the monitor daemon: 50 clients at once, each asking for
// the status 20 times over its own connection per request, 1,000 requests
// in all. Counts what was not answered. Runs where vigild serves
// /var/run/vigildPort (vigild_bench.sh starts both in one sandbox).
#include <benchmark/benchmark.h>

#include <string>

#include "platform/MessagePort.h"

namespace {

void BM_StatusUnderLoad(benchmark::State& state) {
  double failed = 0, bytes = 0;
  for (auto _ : state) {
    auto port = steward::MessagePort::createRemote("vigildPort");
    std::string reply;
    if (!port || port->sendRequest(0, {}, 5, 5, &reply) != steward::MessagePort::kSuccess ||
        reply.empty()) {
      ++failed;
    }
    bytes += static_cast<double>(reply.size());
  }
  state.counters["unanswered"] = failed;  // summed over the threads
  state.counters["reply_bytes"] = benchmark::Counter(bytes, benchmark::Counter::kAvgIterations);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StatusUnderLoad)->Threads(50)->Iterations(20)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
