#include "host/StewardBatchController.h"

#include <stdexcept>

namespace steward {

DictionaryRef StewardBatchController::processBatchInput(
    const DictionaryRef& request, const std::string&, const std::string&,
    const StringRef&) {
  ValueRef value = request->objectForKey("requestsArray");
  if (!value) return std::make_shared<Dictionary>();
  // Malformed batches are left to the entry's outer guard: no reply.
  ArrayRef items = as<Array>(value);
  if (!items) throw std::invalid_argument("requestsArray is not an array");
  if (items->count() == 0) return std::make_shared<Dictionary>();
  // Without a bundle loader no item's bundle can be loaded.
  MutableArrayRef responses = makeMutableArray();
  for (const ValueRef& item : items->objects()) {
    DictionaryRef batchItem = as<Dictionary>(item);
    if (!batchItem) throw std::invalid_argument("batch item is not a dictionary");
    MutableDictionaryRef entry = batchItem->mutableCopy();
    entry->removeObjectForKey("request");
    auto response = makeMutableDictionary();
    response->setObject(makeString("CANNOT_LOAD_BUNDLE_ERR"), "error");
    entry->setObject(response, "response");
    responses->addObject(entry);
  }
  auto reply = makeMutableDictionary();
  reply->setObject(responses, "responsesArray");
  return reply;
}

void StewardBatchController::processBatchArgs(int, char**, const std::string&,
                                              const StringRef&) {}

}  // namespace steward
