// The guards around operations that may throw: an exception's description,
// and the error reply that stands in for a reply an exception cut short.
#pragma once

#include <exception>
#include <optional>
#include <string>

#include "platform/PropertyValue.h"

namespace steward {

// The exception's what(), when it has a non-empty one.
std::optional<std::string> descriptionOf(std::exception_ptr exception);

// {"error": "NIL_RESPONSE_ERR (<description>)"}, or none when the exception
// has no description.
DictionaryRef nilResponseReply(std::exception_ptr exception);

// What `operation` answers, or the reply above when it throws.
template <class Operation>
DictionaryRef replyGuarded(Operation&& operation) {
  try {
    return operation();
  } catch (...) {
    return nilResponseReply(std::current_exception());
  }
}

}  // namespace steward
