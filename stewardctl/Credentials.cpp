#include "stewardctl/Credentials.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace steward::ctl {
namespace {

std::vector<std::string> tokens(std::string_view text) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i >= text.size()) break;
    std::string token;
    if (text[i] == '"') {
      for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
        token += text[i];
      }
      ++i;
    } else {
      while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) token += text[i++];
    }
    // A macro runs to the next empty line; its body is no token.
    if (token == "macdef") {
      std::size_t end = text.find("\n\n", i);
      i = end == std::string_view::npos ? text.size() : end;
      continue;
    }
    out.push_back(std::move(token));
  }
  return out;
}

std::string readLine(int fd) {
  std::string line;
  char c;
  while (read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

}  // namespace

std::optional<Credentials> netrcLookup(std::string_view netrc, std::string_view machine) {
  std::optional<Credentials> found, fallback;
  std::optional<Credentials>* current = nullptr;
  auto words = tokens(netrc);
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    const bool hasValue = i + 1 < words.size();
    if (word == "machine" && hasValue) {
      current = !found && words[++i] == machine ? &found : nullptr;
      if (current) current->emplace();
    } else if (word == "default") {
      current = !fallback ? &fallback : nullptr;
      if (current) current->emplace();
    } else if (current && word == "login" && hasValue) {
      (*current)->user = words[++i];
    } else if (current && word == "password" && hasValue) {
      (*current)->password = words[++i];
    } else if (word == "account" && hasValue) {
      ++i;
    }
  }
  return found ? found : fallback;
}

std::optional<Credentials> promptForCredentials(std::string_view forWhat, std::string* error) {
  int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (tty < 0) {
    *error = "no entry in ~/.netrc for " + std::string(forWhat) +
             " and no terminal to ask for a password";
    return std::nullopt;
  }
  Credentials credentials;
  const char* self = std::getenv("USER");
  std::string prompt = "User for " + std::string(forWhat) + " [" + (self ? self : "") + "]: ";
  (void)!write(tty, prompt.data(), prompt.size());
  credentials.user = readLine(tty);
  if (credentials.user.empty() && self) credentials.user = self;
  prompt = "Password: ";
  (void)!write(tty, prompt.data(), prompt.size());
  termios saved{};
  bool restore = tcgetattr(tty, &saved) == 0;
  if (restore) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(tty, TCSAFLUSH, &quiet);
  }
  credentials.password = readLine(tty);
  if (restore) tcsetattr(tty, TCSAFLUSH, &saved);
  (void)!write(tty, "\n", 1);
  close(tty);
  return credentials;
}

}  // namespace steward::ctl
