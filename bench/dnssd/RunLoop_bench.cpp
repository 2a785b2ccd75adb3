// What the run loop adds to each readable event: one byte written to a
// socket pair, the loop wakes, calls back, and the callback reads it. The
// raw poll(2) round trip is the floor to compare with.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "platform/RunLoop.h"

namespace steward {
namespace {

struct Pair {
  Pair() {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
  }
  ~Pair() {
    close(fds[0]);
    close(fds[1]);
  }
  int fds[2];
};

void poke(int fd) {
  if (write(fd, "x", 1) != 1) std::abort();
}

void drain(int fd) {
  char byte;
  if (read(fd, &byte, 1) != 1) std::abort();
}

void BM_RawPollEvent(benchmark::State& state) {
  Pair pair;
  for (auto _ : state) {
    poke(pair.fds[1]);
    pollfd p{pair.fds[0], POLLIN, 0};
    if (poll(&p, 1, 1000) != 1) std::abort();
    drain(pair.fds[0]);
  }
}
BENCHMARK(BM_RawPollEvent);

// One busy source among `range(0)` idle ones, all in the common modes.
void BM_RunLoopEvent(benchmark::State& state) {
  RunLoop loop;
  Pair busy;
  auto watch = SocketWatch::create(busy.fds[0], [&](SocketWatch&) { drain(busy.fds[0]); });
  loop.addSource(RunLoopSource::create(watch), kRunLoopCommonModes);
  std::vector<Pair> idle(static_cast<std::size_t>(state.range(0)));
  for (Pair& p : idle)
    loop.addSource(RunLoopSource::create(SocketWatch::create(p.fds[0], [](SocketWatch&) {})),
                   kRunLoopCommonModes);
  const auto far = RunLoopClock::now() + std::chrono::hours(1);
  for (auto _ : state) {
    poke(busy.fds[1]);
    if (loop.runInMode(kRunLoopDefaultMode, far, true) != RunLoop::RunResult::kHandledSource)
      std::abort();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RunLoopEvent)->Arg(0)->Arg(4)->Arg(64);

}  // namespace
}  // namespace steward
