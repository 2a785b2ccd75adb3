// A small run loop: one per thread, waiting on socket sources with poll(2).
//
// A SocketWatch wraps a descriptor that somebody else owns and calls back
// when it is readable (or at end of file, or on error, so that the owner
// gets to read the condition), or, when told so, when it is writable. It
// never closes the descriptor: invalidating a watch only stops the
// callbacks. A RunLoopSource made from a watch is what a loop holds; a
// source serves only while both are valid.
//
// Modes: a loop runs in one mode at a time and serves the sources added in
// that mode. Sources added in kRunLoopCommonModes serve in every mode marked
// common; the default mode is common from the start.
//
// Threads: RunLoop::current() is the calling thread's own loop, and a loop,
// its sources and their callbacks belong to that thread. Nothing here is
// locked.
#pragma once

#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace steward {

inline constexpr std::string_view kRunLoopDefaultMode = "RunLoopDefaultMode";
inline constexpr std::string_view kRunLoopCommonModes = "RunLoopCommonModes";

using RunLoopClock = std::chrono::steady_clock;

// A duration as the timespec that ppoll and timers take.
timespec timespecOf(std::chrono::nanoseconds duration);

class SocketWatch {
 public:
  // Gets the watch, so that it can invalidate it.
  using Callback = std::function<void(SocketWatch&)>;

  // None when the descriptor is negative. The callback runs on the thread
  // whose loop finds the descriptor readable.
  static std::shared_ptr<SocketWatch> create(int descriptor, Callback callback);

  SocketWatch(int descriptor, Callback callback);
  SocketWatch(const SocketWatch&) = delete;
  SocketWatch& operator=(const SocketWatch&) = delete;

  int descriptor() const { return descriptor_; }
  bool isValid() const { return valid_; }
  // What the loop waits for from the next pass on: readable (the default)
  // or writable. A writer waiting for room switches to kWritable.
  enum class Condition { kReadable, kWritable };
  Condition condition() const { return condition_; }
  void setCondition(Condition condition) { condition_ = condition; }
  // Stops the callbacks for good. The descriptor stays open.
  void invalidate();
  // Called by the loop when the condition holds; does nothing once
  // invalidated.
  void handleReadable();

 private:
  int descriptor_;
  Callback callback_;
  bool valid_ = true;
  Condition condition_ = Condition::kReadable;
};

class RunLoopSource {
 public:
  // None when the watch is none or already invalidated.
  static std::shared_ptr<RunLoopSource> create(std::shared_ptr<SocketWatch> watch);

  explicit RunLoopSource(std::shared_ptr<SocketWatch> watch);
  RunLoopSource(const RunLoopSource&) = delete;
  RunLoopSource& operator=(const RunLoopSource&) = delete;

  const std::shared_ptr<SocketWatch>& watch() const { return watch_; }
  bool isValid() const { return valid_ && watch_->isValid(); }
  // The source stops serving; loops drop it on their next pass.
  void invalidate() { valid_ = false; }

 private:
  std::shared_ptr<SocketWatch> watch_;
  bool valid_ = true;
};

class RunLoop {
 public:
  enum class RunResult {
    kTimedOut,        // the deadline passed
    kHandledSource,   // returned after serving sources, as asked
  };

  // The calling thread's loop, made on first use and destroyed with the
  // thread.
  static RunLoop& current();

  RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // Adding a source twice in one mode keeps one entry.
  void addSource(const std::shared_ptr<RunLoopSource>& source, std::string_view mode);
  void removeSource(const std::shared_ptr<RunLoopSource>& source, std::string_view mode);
  bool containsSource(const std::shared_ptr<RunLoopSource>& source,
                      std::string_view mode) const;
  // From now on, sources added in kRunLoopCommonModes also serve in `mode`.
  void addCommonMode(std::string_view mode);

  // Serves the sources of `mode` until `deadline`. It waits even when no
  // source is present, and always polls at least once, so a deadline in the
  // past means one pass without waiting. With `returnAfterSourceHandled` it
  // returns after the first pass that served a source.
  RunResult runInMode(std::string_view mode, RunLoopClock::time_point deadline,
                      bool returnAfterSourceHandled);
  // Runs in the default mode until `deadline`.
  void runUntilDate(RunLoopClock::time_point deadline);

 private:
  struct Entry {
    std::shared_ptr<RunLoopSource> source;
    std::string mode;
  };

  bool isActive(const Entry& entry, std::string_view mode) const;
  void dropInvalidSources();
  // One poll(2) call with the time left; true when a source was served.
  bool pass(std::string_view mode, RunLoopClock::time_point deadline);

  std::vector<Entry> entries_;
  std::set<std::string, std::less<>> commonModes_;
};

}  // namespace steward
