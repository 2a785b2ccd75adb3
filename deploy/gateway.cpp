// The gateway script a web server runs for one request: it adds the reply's
// header and starts the tool beside this program, under the name it was run
// as ("steward_kestrel" or "steward_info"), with only the environment the
// tool reads. The web server's other variables (HTTP_* above all) would let
// a client choose the caller's identity.
//
// It runs once per request, so it is built to start fast: the C library
// alone, linked statically (no loader, no C++ runtime to set up).
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

constexpr char kTool[] = "steward_kestrel";
constexpr char kScriptVariable[] = "SCRIPT_FILENAME=";
constexpr char kUserVariable[] = "REMOTE_USER=";

bool writeAll(const char* text) {
  const size_t size = strlen(text);
  return write(STDOUT_FILENO, text, size) == static_cast<ssize_t>(size);
}

// The tool: "steward_kestrel" in this program's own directory, into `path`.
bool toolPath(char (&path)[PATH_MAX]) {
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return false;
  path[n] = '\0';
  char* slash = strrchr(path, '/');
  if (!slash || static_cast<size_t>(slash + 1 - path) + sizeof kTool > sizeof path) return false;
  memcpy(slash + 1, kTool, sizeof kTool);
  return true;
}

// "NAME=value" from the environment, or null when unset or too long.
char* copyVariable(const char* prefix, const char* value, char* buffer, size_t size) {
  if (!value) return nullptr;
  const size_t prefixSize = strlen(prefix), valueSize = strlen(value);
  if (prefixSize + valueSize + 1 > size) return nullptr;
  memcpy(buffer, prefix, prefixSize);
  memcpy(buffer + prefixSize, value, valueSize + 1);
  return buffer;
}

}  // namespace

int main(int, char** argv) {
  const char* slash = argv[0] ? strrchr(argv[0], '/') : nullptr;
  const char* name = slash ? slash + 1 : argv[0] ? argv[0] : "";
  char tool[PATH_MAX];
  if ((strcmp(name, "steward_kestrel") != 0 && strcmp(name, "steward_info") != 0) ||
      !toolPath(tool) || access(tool, X_OK) != 0) {
    writeAll("Status: 404 Not Found\r\nContent-Type: text/plain\r\n\r\n");
    return 0;
  }
  static char user[4096], script[PATH_MAX + sizeof kScriptVariable];
  char path[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
  char* environment[4] = {path};
  char** next = environment + 1;
  // A user name the web server verified; the session marker is no user name.
  const char* verified = getenv("REMOTE_USER");
  if (verified && *verified && strcmp(verified, "<USE_SESSION_ID>") != 0 &&
      (*next = copyVariable(kUserVariable, verified, user, sizeof user)))
    ++next;
  if ((*next = copyVariable(kScriptVariable, getenv("SCRIPT_FILENAME"), script, sizeof script)))
    ++next;
  *next = nullptr;
  char* toolArgv[] = {const_cast<char*>(name), nullptr};
  if (!writeAll("Content-Type: application/xml\r\n\r\n")) return 1;
  execve(tool, toolArgv, environment);
  return 1;
}
