// Tells the service manager how a daemon is doing, by systemd's notify
// protocol: one datagram of "NAME=value" lines to the socket named by
// NOTIFY_SOCKET (a path, or "@name" for the abstract namespace). Under no
// service manager the variable is unset and nothing is sent.
#pragma once

#include <string>
#include <string_view>

namespace steward {

// Sends `state`, e.g. "READY=1" or "RELOADING=1\nMONOTONIC_USEC=...". True
// when it was sent or there is nobody to tell; false, with the reason in
// *error, when the socket named cannot be reached.
[[nodiscard]] bool notifyServiceManager(std::string_view state, std::string* error);

// "MONOTONIC_USEC=" and the monotonic clock now, which a reload notice
// carries.
std::string monotonicTimeField();

}  // namespace steward
