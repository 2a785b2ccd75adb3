// Runs the items of a batch request, and the relay form's argument vector,
// through the tool bundles of a bundle directory: each item loads its bundle
// (or, when it names the tool itself, goes to the tool's own dispatcher),
// gets a new instance of the principal class and runs under that bundle's
// own locked context. Items run one after another.
#pragma once

#include <string>

#include "platform/PropertyValue.h"

namespace steward {

class StewardBatchController {
 public:
  StewardBatchController() = default;
  StewardBatchController(const StewardBatchController&) = delete;
  StewardBatchController& operator=(const StewardBatchController&) = delete;

  // The batch reply: {"responsesArray": for each item of "requestsArray" a
  // copy of it without "request" and with its "response"}, or an empty
  // dictionary when there are no items. The sessions directory is not
  // consulted. The caller name (the tool's own name, or none) marks the
  // items that are the tool's own. Throws when "requestsArray" is no array
  // or an item no dictionary.
  DictionaryRef processBatchInput(const DictionaryRef& request,
                                  const std::string& sessionIDPathDir,
                                  const std::string& launchPathDir,
                                  const StringRef& callerName);
  // Runs one item: "request", "name", "launchPath", "callerName" in, its
  // reply stored under "response".
  void processInputWithParameters(const MutableDictionaryRef& parameters);

  // Hands the arguments but the last to every entry of the bundle directory.
  void processBatchArgs(int argc, char** argv,
                        const std::string& launchPathDir,
                        const StringRef& callerName);
  // Runs one bundle of a relay: "name", "argvArray", "launchPath",
  // "callerName".
  void processArgsWithParameters(const DictionaryRef& parameters);

  // Any one object the caller keeps here, archived with the controller.
  const ValueRef& any() const { return any_; }
  void setAny(ValueRef any) { any_ = std::move(any); }
  // The archived `any`; false when it is no property value.
  [[nodiscard]] bool encodeWithCoder(std::string* data) const;
  // Restores `any` from encodeWithCoder's bytes; throws when they are no
  // archive.
  void initWithCoder(std::string_view data);
  // The "%@" text of `any` followed by two tabs and a line feed; empty
  // when there is none.
  std::string description() const;

 private:
  ValueRef any_;
};

}  // namespace steward
