// The tool's process entry and the small process-wide pieces around it: the
// signal handlers and their bundle label, the assertion reporter, the
// diagnostic verbs and the tool's own argument test.
#pragma once

#include <optional>
#include <string>

#include "platform/PropertyValue.h"

namespace steward {

// The name of the tool bundle being run in batch or relay mode, for the crash
// report; none outside a bundle's handling. Only the crash handler reads it.
extern const char* volatile current_bundle_label;

// The whole run: start-up, one form (relay, verb, argument test or request
// cycle), common end. Returns the exit status.
int steward_main(int argc, char** argv);

// The request cycle between reading standard input and writing standard
// output: the reply bytes for `input` (none: it could not be read), empty
// when nothing is to be written. The command runs with the context and lock
// given; a batch request saves and releases them first.
std::string answer_request(const std::optional<std::string>& input,
                           const char* toolName, MutableDictionaryRef& context,
                           int& lockFileFD);

// Writes the message made of `format` ("%s:%u: failed assertion `%s'\n":
// file, line, expression) to standard error and aborts.
[[noreturn]] void report_assertion_failure(const char* format,
                                           const char* file, unsigned line,
                                           const char* expression);

// 1 when the first argument is exactly "idle", 0 otherwise. The context and
// lock descriptor are those a bundle's argument operation gets; unused here.
int is_idle_argument(int argc, char** argv,
                     const MutableDictionaryRef& context, int& lockFileFD);

// The diagnostic verbs; they write to standard output.
void show_history();
void show_context(const MutableDictionaryRef& context);
void show_version();

// SIGALRM: logs the time-out and ends the process with status 1.
void timeout_handler(int signal);

}  // namespace steward

// Reports a failed check with the source file's name and line.
#define steward_assert(expression)                                        \
  ((expression) ? static_cast<void>(0)                                    \
                : ::steward::report_assertion_failure(                    \
                      "%s:%u: failed assertion `%s'\n", __FILE_NAME__,    \
                      __LINE__, #expression))
