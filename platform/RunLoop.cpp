#include "platform/RunLoop.h"

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <utility>

namespace steward {

std::shared_ptr<SocketWatch> SocketWatch::create(int descriptor, Callback callback) {
  if (descriptor < 0) return nullptr;
  return std::make_shared<SocketWatch>(descriptor, std::move(callback));
}

SocketWatch::SocketWatch(int descriptor, Callback callback)
    : descriptor_(descriptor), callback_(std::move(callback)) {}

void SocketWatch::invalidate() {
  valid_ = false;
  callback_ = nullptr;
}

void SocketWatch::handleReadable() {
  if (!valid_ || !callback_) return;
  // The callback may invalidate this watch, which would destroy the very
  // function object that is running.
  Callback running = callback_;
  running(*this);
}

std::shared_ptr<RunLoopSource> RunLoopSource::create(std::shared_ptr<SocketWatch> watch) {
  if (!watch || !watch->isValid()) return nullptr;
  return std::make_shared<RunLoopSource>(std::move(watch));
}

RunLoopSource::RunLoopSource(std::shared_ptr<SocketWatch> watch) : watch_(std::move(watch)) {}

RunLoop& RunLoop::current() {
  thread_local RunLoop loop;
  return loop;
}

RunLoop::RunLoop() { commonModes_.emplace(kRunLoopDefaultMode); }

void RunLoop::addSource(const std::shared_ptr<RunLoopSource>& source, std::string_view mode) {
  if (!source || containsSource(source, mode)) return;
  entries_.push_back({source, std::string(mode)});
}

void RunLoop::removeSource(const std::shared_ptr<RunLoopSource>& source,
                           std::string_view mode) {
  std::erase_if(entries_, [&](const Entry& e) { return e.source == source && e.mode == mode; });
}

bool RunLoop::containsSource(const std::shared_ptr<RunLoopSource>& source,
                             std::string_view mode) const {
  return std::any_of(entries_.begin(), entries_.end(),
                     [&](const Entry& e) { return e.source == source && e.mode == mode; });
}

void RunLoop::addCommonMode(std::string_view mode) { commonModes_.emplace(mode); }

bool RunLoop::isActive(const Entry& entry, std::string_view mode) const {
  if (entry.mode == mode) return true;
  return entry.mode == kRunLoopCommonModes && commonModes_.count(mode) != 0;
}

void RunLoop::dropInvalidSources() {
  std::erase_if(entries_, [](const Entry& e) { return !e.source->isValid(); });
}

timespec timespecOf(std::chrono::nanoseconds duration) {
  auto ns = duration.count();
  return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

static timespec timeLeft(RunLoopClock::time_point deadline) {
  auto left = deadline - RunLoopClock::now();
  if (left < RunLoopClock::duration::zero()) left = RunLoopClock::duration::zero();
  return timespecOf(std::chrono::duration_cast<std::chrono::nanoseconds>(left));
}

bool RunLoop::pass(std::string_view mode, RunLoopClock::time_point deadline) {
  dropInvalidSources();
  std::vector<std::shared_ptr<RunLoopSource>> polled;
  std::vector<pollfd> fds;
  for (const Entry& e : entries_) {
    if (!isActive(e, mode) || std::find(polled.begin(), polled.end(), e.source) != polled.end())
      continue;
    polled.push_back(e.source);
    const SocketWatch& watch = *e.source->watch();
    bool writes = watch.condition() == SocketWatch::Condition::kWritable;
    fds.push_back({watch.descriptor(), static_cast<short>(writes ? POLLOUT : POLLIN), 0});
  }
  timespec wait = timeLeft(deadline);
  if (ppoll(fds.data(), fds.size(), &wait, nullptr) <= 0) return false;  // time-out or EINTR

  bool served = false;
  for (std::size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    const std::shared_ptr<RunLoopSource> source = polled[i];  // alive through its callback
    if (fds[i].revents & POLLNVAL) {
      // Closed behind the watch's back: drop it rather than spin on it.
      source->invalidate();
      continue;
    }
    // An earlier callback of this pass may have removed or invalidated it.
    bool stillHere = std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) {
      return e.source == source && isActive(e, mode);
    });
    if (!stillHere || !source->isValid()) continue;
    source->watch()->handleReadable();
    served = true;
  }
  return served;
}

RunLoop::RunResult RunLoop::runInMode(std::string_view mode, RunLoopClock::time_point deadline,
                                      bool returnAfterSourceHandled) {
  do {
    if (pass(mode, deadline) && returnAfterSourceHandled) return RunResult::kHandledSource;
  } while (RunLoopClock::now() < deadline);
  return RunResult::kTimedOut;
}

void RunLoop::runUntilDate(RunLoopClock::time_point deadline) {
  runInMode(kRunLoopDefaultMode, deadline, false);
}

}  // namespace steward
