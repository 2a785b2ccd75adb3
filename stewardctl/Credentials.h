// The user name and password for a host: ~/.netrc first, else asked for on
// the terminal (the password without echo). Never taken from the command
// line, where other users could read it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace steward::ctl {

struct Credentials {
  std::string user;
  std::string password;
};

// The entry of a .netrc text for the machine, else its "default" entry.
// Understands machine, default, login, password, account and macdef.
std::optional<Credentials> netrcLookup(std::string_view netrc, std::string_view machine);

// Asks on /dev/tty; none with a reason in *error when there is no terminal.
std::optional<Credentials> promptForCredentials(std::string_view forWhat, std::string* error);

}  // namespace steward::ctl
