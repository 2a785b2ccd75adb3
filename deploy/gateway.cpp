// The gateway script a web server runs for one request: it adds the reply's
// header and starts the tool beside this program, under the name it was run
// as ("steward_kestrel" or "steward_info"), with only the environment the
// tool reads. The web server's other variables (HTTP_* above all) would let
// a client choose the caller's identity.
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string lastComponent(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

bool writeAll(const std::string& text) {
  return write(STDOUT_FILENO, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

// The tool: "steward_kestrel" in this program's own directory.
std::string toolPath() {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return {};
  std::string path(self, static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/') + 1) + "steward_kestrel";
}

}  // namespace

int main(int, char** argv) {
  std::string name = lastComponent(argv[0] ? argv[0] : "");
  std::string tool = toolPath();
  if ((name != "steward_kestrel" && name != "steward_info") || access(tool.c_str(), X_OK) != 0) {
    writeAll("Status: 404 Not Found\r\nContent-Type: text/plain\r\n\r\n");
    return 0;
  }
  std::vector<std::string> environment = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
  // A user name the web server verified; the session marker is no user name.
  const char* user = std::getenv("REMOTE_USER");
  if (user && *user && std::strcmp(user, "<USE_SESSION_ID>") != 0)
    environment.push_back(std::string("REMOTE_USER=") + user);
  if (const char* script = std::getenv("SCRIPT_FILENAME"))
    environment.push_back(std::string("SCRIPT_FILENAME=") + script);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  char* toolArgv[] = {name.data(), nullptr};
  if (!writeAll("Content-Type: application/xml\r\n\r\n")) return 1;
  execve(tool.c_str(), toolArgv, envp.data());
  return 1;
}
