#include "host/ExceptionGuard.h"

#include "platform/Format.h"

namespace steward {

std::optional<std::string> descriptionOf(std::exception_ptr exception) {
  try {
    std::rethrow_exception(exception);
  } catch (const std::exception& e) {
    if (e.what() && *e.what()) return std::string(e.what());
  } catch (...) {
  }
  return std::nullopt;
}

DictionaryRef nilResponseReply(std::exception_ptr exception) {
  std::optional<std::string> description = descriptionOf(exception);
  if (!description) return nullptr;
  auto reply = makeMutableDictionary();
  reply->setObject(
      makeString(stringWithFormat("NIL_RESPONSE_ERR (%@)", *description)),
      "error");
  return reply;
}

}  // namespace steward
