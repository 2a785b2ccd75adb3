// A listening Unix-domain stream socket that appears at its path only once
// it listens, so a client that finds the path can connect at once. A stale
// socket at the path is replaced in one step; one that a process still
// answers on is left alone.
#pragma once

#include <string>

namespace steward {

// The listening descriptor (close-on-exec, plus `flags` such as
// SOCK_NONBLOCK), or -1 with the reason in *error.
int listenOnUnixSocket(const std::string& path, int backlog, int flags, std::string* error);

}  // namespace steward
