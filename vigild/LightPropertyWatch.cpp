#include "vigild/LightPropertyWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace steward::vigild {

LightPropertyWatch::LightPropertyWatch(std::string propertyPath, Callback callback)
    : path_(std::move(propertyPath)), callback_(std::move(callback)) {}

LightPropertyWatch::~LightPropertyWatch() {
  if (source_) {
    source_->invalidate();
    RunLoop::current().removeSource(source_, kRunLoopCommonModes);
  }
  if (inotify_ >= 0) close(inotify_);
}

bool LightPropertyWatch::start(std::string* error) {
  std::string directory = path_.substr(0, path_.rfind('/'));
  inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  // Written in place or replaced by renaming: either way a whole value.
  if (inotify_ < 0 ||
      inotify_add_watch(inotify_, directory.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
    *error = "cannot watch " + directory + ": " + std::strerror(errno);
    return false;
  }
  source_ = RunLoopSource::create(SocketWatch::create(inotify_, [this](SocketWatch&) {
    handleEvents();
  }));
  RunLoop::current().addSource(source_, kRunLoopCommonModes);
  return true;
}

std::optional<bool> LightPropertyWatch::readState(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  if (!(in >> text)) return std::nullopt;
  char* end;
  long value = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0') return std::nullopt;
  return value != 0;
}

void LightPropertyWatch::handleEvents() {
  alignas(inotify_event) char buffer[4096];
  std::string name = path_.substr(path_.rfind('/') + 1);
  bool changed = false;
  for (ssize_t length; (length = read(inotify_, buffer, sizeof buffer)) > 0;) {
    for (char* at = buffer; at < buffer + length;) {
      auto* event = reinterpret_cast<inotify_event*>(at);
      changed = changed || (event->len > 0 && name == event->name);
      at += sizeof(inotify_event) + event->len;
    }
  }
  if (!changed) return;
  if (auto on = readState(path_)) callback_(*on);
}

}  // namespace steward::vigild
