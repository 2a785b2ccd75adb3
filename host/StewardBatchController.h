// Runs the items of a batch request, and the relay form's argument vector,
// through the tool bundles of the bundle directory, each under its own
// context. Loading bundles is not part of this build yet: a batch item is
// answered "CANNOT_LOAD_BUNDLE_ERR" and a relay run does nothing.
#pragma once

#include <string>

#include "platform/PropertyValue.h"

namespace steward {

class StewardBatchController {
 public:
  StewardBatchController() = default;
  StewardBatchController(const StewardBatchController&) = delete;
  StewardBatchController& operator=(const StewardBatchController&) = delete;

  // The batch reply: {"responsesArray": one entry per item of
  // "requestsArray"}, or an empty dictionary when there are no items. The
  // caller name is none when the entry knows no name for itself.
  DictionaryRef processBatchInput(const DictionaryRef& request,
                                  const std::string& sessionIDPathDir,
                                  const std::string& launchPathDir,
                                  const StringRef& callerName);

  // Hands the argument vector to every bundle of the bundle directory.
  void processBatchArgs(int argc, char** argv,
                        const std::string& launchPathDir,
                        const StringRef& callerName);
};

}  // namespace steward
