#include "platform/RunLoop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

namespace steward {
namespace {

// A socket pair whose first end is watched; each call reads one byte (unless
// told not to: it then stays readable), runs `then` and is counted.
struct WatchedPair {
  explicit WatchedPair(std::function<void()> then = nullptr, bool reads = true) {
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    watch = SocketWatch::create(fds[0], [this, then, reads](SocketWatch&) {
      ++calls;
      char byte;
      if (reads) {
        EXPECT_EQ(read(fds[0], &byte, 1), 1);
      }
      if (then) then();
    });
    source = RunLoopSource::create(watch);
  }
  ~WatchedPair() {
    close(fds[0]);
    close(fds[1]);
  }
  void poke() { ASSERT_EQ(write(fds[1], "x", 1), 1); }

  int fds[2];
  int calls = 0;
  std::shared_ptr<SocketWatch> watch;
  std::shared_ptr<RunLoopSource> source;
};

// One pass without waiting.
RunLoop::RunResult pass(RunLoop& loop, std::string_view mode = kRunLoopDefaultMode) {
  return loop.runInMode(mode, RunLoopClock::now(), false);
}

// Invalidation stops the callbacks, even later in the same pass, and never
// closes the descriptor; a descriptor closed behind a watch's back is dropped.
TEST(RunLoop, InvalidatedAndClosedSourcesStop) {
  RunLoop loop;
  WatchedPair second, closed;
  WatchedPair killer([&] { second.watch->invalidate(); });
  for (auto* pair : {&killer, &second, &closed}) loop.addSource(pair->source, kRunLoopDefaultMode);
  killer.poke();
  second.poke();
  for (int& fd : closed.fds) {
    close(fd);
    fd = -1;
  }
  pass(loop);
  EXPECT_EQ(killer.calls + 10 * second.calls + 100 * closed.calls, 1);
  EXPECT_FALSE(closed.source->isValid());
  pass(loop);  // drops it
  EXPECT_FALSE(loop.containsSource(second.source, kRunLoopDefaultMode));
  EXPECT_NE(fcntl(second.fds[0], F_GETFD), -1);
  EXPECT_EQ(RunLoopSource::create(second.watch), nullptr);
}

// Running until a date returns at that date, not before, however busy the
// sources are (the idle case runs in the Tryst tests).
TEST(RunLoop, RunUntilDateReturnsAtTheDate) {
  RunLoop loop;
  WatchedPair busy(nullptr, /*reads=*/false);
  loop.addSource(busy.source, kRunLoopDefaultMode);
  busy.poke();
  auto deadline = RunLoopClock::now() + std::chrono::milliseconds(50);
  loop.runUntilDate(deadline);
  EXPECT_GE(RunLoopClock::now(), deadline);
  EXPECT_LT(RunLoopClock::now(), deadline + std::chrono::seconds(10));  // it did return
  EXPECT_GT(busy.calls, 1);
}

// A watch for writability is called while the socket has room and the
// reading side is quiet; switched back, it waits for input again.
TEST(RunLoop, WritableWatchesWaitForRoom) {
  RunLoop loop;
  WatchedPair pair(nullptr, /*reads=*/false);
  loop.addSource(pair.source, kRunLoopDefaultMode);
  for (auto condition : {SocketWatch::Condition::kWritable, SocketWatch::Condition::kReadable}) {
    pair.watch->setCondition(condition);
    pass(loop);
  }
  EXPECT_EQ(pair.calls, 1);
}

}  // namespace
}  // namespace steward
