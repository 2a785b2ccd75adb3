#include "host/Entry.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "host/CallerIdentity.h"
#include "host/ContextStore.h"
#include "host/ExceptionGuard.h"
#include "host/RecordedDispatch.h"
#include "host/RequestEnvelope.h"
#include "host/StewardBatchController.h"
#include "host/SystemLog.h"
#include "platform/Format.h"

namespace steward {

const char* volatile current_bundle_label = nullptr;

namespace {

constexpr unsigned kTimeoutSeconds = 211;
constexpr const char* kBatchToolName = "steward_info";
constexpr const char* kDefaultSessionsDirectory =
    "/private/var/stewardd/sessions/";
constexpr const char* kDefaultBundleDirectory = "/usr/share/stewardd/bundles/";
// A request may be as large as a message-port reply, and no larger.
constexpr std::size_t kMaximumRequestLength = std::size_t{64} << 20;

// The text after the last "/"; the whole text when there is none.
std::string_view lastPathComponent(std::string_view path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The path without its last component: "/a/b" -> "/a", "/a" -> "/", "a" -> "".
std::string deletingLastPathComponent(std::string_view path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

// Tool bundles live in "../bundles/" beside the tool.
std::string bundleDirectoryBeside(std::string_view toolPath) {
  std::string directory = deletingLastPathComponent(toolPath);
  if (!directory.empty() && directory.back() != '/') directory += '/';
  return directory + "../bundles/";
}

const char* signalName(int signal) {
  switch (signal) {
    case SIGILL: return "SIGILL";
    case SIGBUS: return "SIGBUS";
    case SIGSEGV: return "SIGSEGV";
    default: return "?";
  }
}

void crash_handler(int signal, siginfo_t* info, void*) {
  const char* label = current_bundle_label;
  SignalSafeText message;
  message.text(label ? label : "").text(" [").decimal(getpid()).text("-");
  message.hex(static_cast<unsigned long>(pthread_self()), 8).text("] ");
  message.text(signalName(signal)).text(" (").decimal(info->si_code);
  message.text(") at ");
  message.hex(reinterpret_cast<unsigned long>(info->si_addr), 8).text("\n");
  log_notice_from_signal(message.c_str());
  _exit(1);
}

// The crash handler runs on a stack of its own, so that a run whose stack
// has overflowed is still reported.
void installSignalHandlers() {
  signal(SIGALRM, timeout_handler);
  alarm(kTimeoutSeconds);
  alignas(16) static char crashStack[1 << 16];
  stack_t alternate{};
  alternate.ss_sp = crashStack;
  alternate.ss_size = sizeof crashStack;
  sigaltstack(&alternate, nullptr);
  struct sigaction action {};
  action.sa_sigaction = crash_handler;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGILL, SIGBUS, SIGSEGV}) sigaction(signal, &action, nullptr);
  current_bundle_label = nullptr;
}

// Standard input to its end; none when reading fails or when it holds more
// than kMaximumRequestLength bytes, of which no more than that are read.
std::optional<std::string> readStandardInput() {
  std::string input;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return input;
    if (static_cast<std::size_t>(n) > kMaximumRequestLength - input.size()) {
      return std::nullopt;
    }
    input.append(buffer, static_cast<std::size_t>(n));
  }
}

// Writes all bytes (one write unless the pipe takes less). A reader that has
// gone away must not kill the run before its context is saved, so SIGPIPE is
// held back for the write and then discarded.
void writeStandardOutput(const std::string& bytes) {
  sigset_t pipeSignal;
  sigset_t previous;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  std::size_t written = 0;
  while (written < bytes.size()) {
    ssize_t n = write(STDOUT_FILENO, bytes.data() + written,
                      bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  sigset_t pending;
  sigpending(&pending);
  if (sigismember(&pending, SIGPIPE) == 1) {
    timespec noWait{0, 0};
    sigtimedwait(&pipeSignal, nullptr, &noWait);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void releaseContext(MutableDictionaryRef& context, int& lockFileFD) {
  remove_user_from_context(context);
  set_and_unlock_context(&lockFileFD, &context);
}

// A batch request runs every item under its bundle's own context, so the
// tool's context is given up first.
DictionaryRef runBatch(const DictionaryRef& request,
                       MutableDictionaryRef& context, int& lockFileFD) {
  const char* sessionIDPath = std::getenv("SESSION_ID_FILE_PATH");
  const char* scriptPath = std::getenv("SCRIPT_FILENAME");
  releaseContext(context, lockFileFD);
  std::string sessionsDirectory = kDefaultSessionsDirectory;
  std::string bundleDirectory = kDefaultBundleDirectory;
  StringRef callerName;  // none: no item counts as the tool's own
  if (sessionIDPath) sessionsDirectory = deletingLastPathComponent(sessionIDPath);
  if (scriptPath) {
    bundleDirectory = bundleDirectoryBeside(scriptPath);
    callerName = makeString(std::string(lastPathComponent(scriptPath)));
  }
  StewardBatchController controller;
  return controller.processBatchInput(request, sessionsDirectory,
                                      bundleDirectory, callerName);
}

int runRequestCycle(const char* toolName, MutableDictionaryRef& context,
                    int& lockFileFD) {
  std::optional<std::string> input = readStandardInput();
  close(STDIN_FILENO);
  std::string output = answer_request(input, toolName, context, lockFileFD);
  if (!output.empty()) writeStandardOutput(output);
  signal(SIGALRM, SIG_IGN);
  releaseContext(context, lockFileFD);
  close(STDOUT_FILENO);
  return 0;
}

int runRelay(int argc, char** argv, MutableDictionaryRef& context,
             int& lockFileFD) {
  releaseContext(context, lockFileFD);
  StewardBatchController controller;
  controller.processBatchArgs(
      argc, argv, bundleDirectoryBeside(argv[0]),
      makeString(std::string(lastPathComponent(argv[0]))));
  return 0;
}

// A descriptor among 0, 1 and 2 that the caller left closed would be reused
// for the context file, and the reply would overwrite the context: park
// /dev/null there first.
void openStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int opened = open("/dev/null", O_RDWR);
    if (opened != fd && opened != -1) close(opened);
  }
}

int runForm(int argc, char** argv, const char* toolName,
            MutableDictionaryRef& context, int& lockFileFD) {
  if (argc >= 4 && std::strcmp(argv[3], "relay") == 0) {
    return runRelay(argc, argv, context, lockFileFD);
  }
  if (argc < 2) return runRequestCycle(toolName, context, lockFileFD);
  std::string_view first = argv[1];
  if (first == "show_history") {
    show_history();
  } else if (first == "show_context") {
    show_context(context);
  } else if (first == "show_version" || first == "-v") {
    show_version();
  } else {
    return is_idle_argument(argc, argv, context, lockFileFD);
  }
  return 0;
}

}  // namespace

std::string answer_request(const std::optional<std::string>& input,
                           const char* toolName, MutableDictionaryRef& context,
                           int& lockFileFD) {
  DictionaryRef request;
  std::string output;
  if (parse_xml_request(input ? &*input : nullptr, &request, &output)) {
    ValueRef clientContext = request->objectForKey("clientContext");
    StringRef command = string_for_key(request, "command");
    DictionaryRef response;
    if (command && command->str() == "batchRequest" &&
        std::strcmp(toolName, kBatchToolName) == 0) {
      response = runBatch(request, context, lockFileFD);
    } else if (command) {
      response = dispatch_recorded(request, context, lockFileFD);
    }
    response = dictionary_with_added_key(response, command, "command");
    response =
        dictionary_with_added_key(response, clientContext, "clientContext");
    (void)build_xml_response(response, &output);
  }
  // An empty request is answered with nothing at all.
  if (input && input->empty()) output.clear();
  return output;
}

int steward_main(int argc, char** argv) {
  const char* toolName = argc > 0 && argv[0] ? argv[0] : "";
  openStandardDescriptors();
  int lockFileFD = -1;
  MutableDictionaryRef context = get_and_lock_context(toolName, &lockFileFD);
  add_user_to_context(context);
  installSignalHandlers();
  int status = 0;
  try {
    status = runForm(argc, argv, toolName, context, lockFileFD);
  } catch (...) {
    std::optional<std::string> description =
        descriptionOf(std::current_exception());
    if (description) {
      log_notice(stringWithFormat("[%d] fatal exception in main: %s\n",
                                  getpid(), *description));
    }
  }
  signal(SIGALRM, SIG_IGN);
  releaseContext(context, lockFileFD);
  return status;
}

void report_assertion_failure(const char* format, const char* file,
                              unsigned line, const char* expression) {
  std::fprintf(stderr, format, file, line, expression);
  std::fflush(stderr);
  std::abort();
}

int is_idle_argument(int argc, char** argv, const MutableDictionaryRef&,
                     int&) {
  return argc >= 2 && std::strcmp(argv[1], "idle") == 0 ? 1 : 0;
}

void show_history() {
  std::fputs("No longer supported, use show_context instead\n", stdout);
}

void show_context(const MutableDictionaryRef& context) {
  if (!context) return;
  std::printf("Context dictionary: %s\n", describe(context).c_str());
}

void show_version() {
  std::printf("Version: %s, Built: %s %s\n", "N/A", __DATE__, __TIME__);
}

void timeout_handler(int signal) {
  if (signal != SIGALRM) return;
  SignalSafeText message;
  message.text("[").decimal(getpid()).text("-");
  message.hex(static_cast<unsigned long>(pthread_self()), 8);
  message.text("] SIGALRM: process timed out\n");
  log_notice_from_signal(message.c_str());
  _exit(1);
}

}  // namespace steward
