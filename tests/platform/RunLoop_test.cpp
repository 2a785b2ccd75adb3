#include "platform/RunLoop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace steward {
namespace {

// A socket pair whose first end is watched; the callback reads one byte
// per call and counts the calls.
struct WatchedPair {
  WatchedPair() {
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    watch = SocketWatch::create(fds[0], [this](SocketWatch&) {
      char byte;
      EXPECT_EQ(read(fds[0], &byte, 1), 1);
      ++calls;
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
void pass(std::string_view mode = kRunLoopDefaultMode) {
  RunLoop::current().runInMode(mode, RunLoopClock::now(), false);
}

TEST(RunLoop, SourcesAddedAndRemoved) {
  RunLoop loop;
  WatchedPair pair;
  loop.addSource(pair.source, kRunLoopDefaultMode);
  loop.addSource(pair.source, kRunLoopDefaultMode);  // one entry still
  EXPECT_TRUE(loop.containsSource(pair.source, kRunLoopDefaultMode));
  pair.poke();
  EXPECT_EQ(loop.runInMode(kRunLoopDefaultMode, RunLoopClock::now() + std::chrono::seconds(5), true),
            RunLoop::RunResult::kHandledSource);
  EXPECT_EQ(pair.calls, 1);

  loop.removeSource(pair.source, kRunLoopDefaultMode);
  EXPECT_FALSE(loop.containsSource(pair.source, kRunLoopDefaultMode));
  pair.poke();
  EXPECT_EQ(loop.runInMode(kRunLoopDefaultMode, RunLoopClock::now(), true),
            RunLoop::RunResult::kTimedOut);
  EXPECT_EQ(pair.calls, 1);
}

TEST(RunLoop, ModesAndCommonModes) {
  RunLoop& loop = RunLoop::current();
  WatchedPair own, common;
  loop.addSource(own.source, "private");
  loop.addSource(common.source, kRunLoopCommonModes);
  own.poke();
  common.poke();

  pass(kRunLoopDefaultMode);  // the default mode is common
  EXPECT_EQ(own.calls, 0);
  EXPECT_EQ(common.calls, 1);

  common.poke();
  pass("private");  // not common (yet)
  EXPECT_EQ(own.calls, 1);
  EXPECT_EQ(common.calls, 1);

  loop.addCommonMode("private");
  pass("private");
  EXPECT_EQ(common.calls, 2);

  loop.removeSource(own.source, "private");
  loop.removeSource(common.source, kRunLoopCommonModes);
}

// Invalidation stops the callbacks, even later in the same pass, and never
// closes the descriptor.
TEST(RunLoop, InvalidatedSourcesStopAndKeepTheirDescriptor) {
  RunLoop& loop = RunLoop::current();
  WatchedPair first, second;
  int killerCalls = 0;
  auto killer = SocketWatch::create(first.fds[0], [&](SocketWatch&) {
    ++killerCalls;
    char byte;
    EXPECT_EQ(read(first.fds[0], &byte, 1), 1);
    second.watch->invalidate();
  });
  auto killerSource = RunLoopSource::create(killer);
  loop.addSource(killerSource, kRunLoopDefaultMode);
  loop.addSource(second.source, kRunLoopDefaultMode);
  first.poke();
  second.poke();
  pass();
  EXPECT_EQ(killerCalls, 1);
  EXPECT_EQ(second.calls, 0);
  EXPECT_FALSE(second.source->isValid());
  pass();  // drops it
  EXPECT_FALSE(loop.containsSource(second.source, kRunLoopDefaultMode));
  EXPECT_NE(fcntl(second.fds[0], F_GETFD), -1);

  // A descriptor closed behind the watch's back is dropped, not spun on.
  killer->invalidate();
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  int closedCalls = 0;
  auto closedSource =
      RunLoopSource::create(SocketWatch::create(fds[0], [&](SocketWatch&) { ++closedCalls; }));
  loop.addSource(closedSource, kRunLoopDefaultMode);
  close(fds[0]);
  close(fds[1]);
  pass();
  EXPECT_FALSE(closedSource->isValid());
  EXPECT_EQ(closedCalls, 0);

  EXPECT_EQ(SocketWatch::create(-1, [](SocketWatch&) {}), nullptr);
  EXPECT_EQ(RunLoopSource::create(nullptr), nullptr);
  EXPECT_EQ(RunLoopSource::create(second.watch), nullptr);  // invalidated
}

// Each thread has its own loop, which calls back on that thread only.
TEST(RunLoop, CallbacksRunOnTheOwningThread) {
  WatchedPair here, there;
  std::thread::id calledOn, otherThread;
  here.watch = SocketWatch::create(here.fds[0], [&](SocketWatch&) {
    calledOn = std::this_thread::get_id();
    char byte;
    EXPECT_EQ(read(here.fds[0], &byte, 1), 1);
  });
  RunLoop::current().addSource(RunLoopSource::create(here.watch), kRunLoopDefaultMode);
  here.poke();
  there.poke();
  RunLoop* otherLoop = nullptr;
  std::thread other([&] {
    otherThread = std::this_thread::get_id();
    otherLoop = &RunLoop::current();
    otherLoop->addSource(there.source, kRunLoopDefaultMode);
    otherLoop->runInMode(kRunLoopDefaultMode, RunLoopClock::now() + std::chrono::seconds(5), true);
  });
  other.join();
  EXPECT_EQ(there.calls, 1);
  EXPECT_NE(otherLoop, &RunLoop::current());
  EXPECT_EQ(calledOn, std::thread::id());  // not served by the other thread
  pass();
  EXPECT_EQ(calledOn, std::this_thread::get_id());
  here.watch->invalidate();
  pass();
}

// Running until a date returns at that date, not before, with or without
// sources, and however busy they are.
TEST(RunLoop, RunUntilDateReturnsAtTheDate) {
  RunLoop loop;
  auto deadline = RunLoopClock::now() + std::chrono::milliseconds(50);
  loop.runUntilDate(deadline);
  EXPECT_GE(RunLoopClock::now(), deadline);

  WatchedPair busy;
  busy.watch = SocketWatch::create(busy.fds[0], [&](SocketWatch&) {
    ++busy.calls;  // never reads: stays readable
  });
  loop.addSource(RunLoopSource::create(busy.watch), kRunLoopDefaultMode);
  busy.poke();
  deadline = RunLoopClock::now() + std::chrono::milliseconds(50);
  loop.runUntilDate(deadline);
  EXPECT_GE(RunLoopClock::now(), deadline);
  EXPECT_LT(RunLoopClock::now(), deadline + std::chrono::seconds(10));  // it did return
  EXPECT_GT(busy.calls, 1);
}

}  // namespace
}  // namespace steward
