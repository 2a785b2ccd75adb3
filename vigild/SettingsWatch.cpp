#include "vigild/SettingsWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace steward::vigild {

SettingsWatch::SettingsWatch(std::string path, std::function<void()> changed)
    : changed_(std::move(changed)) {
  std::size_t slash = path.rfind('/');
  directory_ = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  name_ = path.substr(slash == std::string::npos ? 0 : slash + 1);
}

SettingsWatch::~SettingsWatch() {
  if (source_) source_->invalidate();
  if (fd_ >= 0) close(fd_);
}

bool SettingsWatch::start(std::string* error) {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0 || inotify_add_watch(fd_, directory_.c_str(),
                                   IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                       IN_ONLYDIR) < 0) {
    *error = "cannot watch " + directory_ + ": " + std::strerror(errno);
    return false;
  }
  source_ = RunLoopSource::create(SocketWatch::create(fd_, [this](SocketWatch&) { readEvents(); }));
  RunLoop::current().addSource(source_, kRunLoopCommonModes);
  return true;
}

void SettingsWatch::readEvents() {
  alignas(inotify_event) char buffer[16384];
  bool relevant = false;
  for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;) {
    for (char* p = buffer; p < buffer + n;) {
      auto* event = reinterpret_cast<inotify_event*>(p);
      relevant = relevant || (event->mask & IN_Q_OVERFLOW) != 0 ||
                 (event->len > 0 && name_ == event->name);
      p += sizeof(inotify_event) + event->len;
    }
  }
  if (relevant) changed_();
}

}  // namespace steward::vigild
