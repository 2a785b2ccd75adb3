// stewardctl's command line: what to ask, whom, and how to show the answer.
#pragma once

#include <string>
#include <vector>

#include "platform/PropertyValue.h"

namespace steward::ctl {

enum class OutputMode { kText, kJson, kPlist };

struct Options {
  std::vector<std::string> hosts;  // -H, in order, each once
  bool all = false;                // --all: every discovered host as well
  bool yes = false;                // --yes: no confirmation
  bool dryRun = false;             // --dry-run: only the plan
  OutputMode output = OutputMode::kText;
  std::string cacert;              // --cacert FILE
  double timeout = 10;             // --timeout SECONDS, per host
  double wait = 3;                 // --wait SECONDS, discovery
  int parallel = 16;               // --parallel N, hosts asked at once
  std::vector<std::string> command;  // the command and its arguments
};

// Fills *options; false with a one-line reason in *error for anything that
// does not parse. Options may follow the command; after "--" everything is
// the command's ("boot set -- -odd-name"). The command is checked by
// requestFor.
[[nodiscard]] bool parseCommandLine(int argc, const char* const* argv, Options* options,
                                    std::string* error);

// What a command asks the service. `fileContents` is the FILE argument's
// contents read by the caller ("email set", "raw"). None with a reason in
// *error for an unknown command, wrong arguments, or a file that is not the
// expected property list.
[[nodiscard]] DictionaryRef requestFor(const std::vector<std::string>& command,
                                       const std::string& fileContents, std::string* error);

// Whether the request changes the machine and so is confirmed first.
bool isDestructive(const Dictionary& request);

// Whether the request changes something (and so can be planned).
bool isChanging(const Dictionary& request);

// The request with "requestId" `id` when it is a change the service can
// recognise when repeated (so a retry after a lost reply does not act
// twice); else the request itself.
DictionaryRef withRequestId(const DictionaryRef& request, const std::string& id);

// Whether the command names a FILE argument to read first (its index, or -1).
int fileArgumentIndex(const std::vector<std::string>& command);

extern const char kUsage[];

}  // namespace steward::ctl
