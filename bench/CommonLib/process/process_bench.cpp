// The process-table search on a machine with a few thousand processes, and
// run_task round trips of 10 MB through the pipes.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "CommonLib/ProcessUtilities.h"

namespace {

// Idle children that make the process table a few thousand entries long;
// they are signalled by their own ids only.
class Crowd {
 public:
  explicit Crowd(int count) {
    for (int i = 0; i < count; ++i) {
      pid_t pid = fork();
      if (pid == 0) {
        for (;;) pause();
      }
      if (pid < 0) break;
      pids_.push_back(pid);
    }
  }
  ~Crowd() {
    for (pid_t pid : pids_) kill(pid, SIGKILL);
    for (pid_t pid : pids_) waitpid(pid, nullptr, 0);
  }
  std::size_t size() const { return pids_.size(); }

 private:
  std::vector<pid_t> pids_;
};

void BM_PidForProcessName(benchmark::State& state) {
  Crowd crowd(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    // An absent name: the whole table is walked.
    benchmark::DoNotOptimize(steward::pid_for_process_name("sk-absent"));
  }
  state.counters["processes"] = static_cast<double>(crowd.size());
}
BENCHMARK(BM_PidForProcessName)->Arg(0)->Arg(3000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_VerifyPidForProcessName(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        steward::verify_pid_for_process_name(getpid(), "process_bench"));
  }
}
BENCHMARK(BM_VerifyPidForProcessName)->Unit(benchmark::kMicrosecond);

// 10 MB in through standard input and back out through standard output.
void BM_RunTaskRoundTrip(benchmark::State& state) {
  std::string input(10 << 20, 'x');
  std::optional<std::string> output, error;
  for (auto _ : state) {
    int status = steward::run_task_with_env("/bin/cat", {}, &input, &output, &error, nullptr);
    if (status != 0 || output->size() != input.size()) state.SkipWithError("bad round trip");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * input.size());
}
BENCHMARK(BM_RunTaskRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime();

// 10 MB on each output stream at once, no input.
void BM_RunTaskBothOutputs(benchmark::State& state) {
  std::optional<std::string> output, error;
  for (auto _ : state) {
    int status = steward::run_task(
        "/bin/sh", {"-c", "head -c 10485760 /dev/zero & head -c 10485760 /dev/zero >&2; wait"},
        &output, &error);
    if (status != 0 || output->size() != (10u << 20) || error->size() != (10u << 20)) {
      state.SkipWithError("bad output");
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * (10 << 20));
}
BENCHMARK(BM_RunTaskBothOutputs)->Unit(benchmark::kMillisecond)->UseRealTime();

// Starting a trivial program: the fixed cost of a run.
void BM_RunTaskTrue(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(steward::run_task("/bin/true", {}, nullptr, nullptr));
  }
}
BENCHMARK(BM_RunTaskTrue)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
