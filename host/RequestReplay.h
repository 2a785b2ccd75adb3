// Safe retries: the reply of a changing request that carries "requestId" is
// kept in the tool's context, and a repeat of that id by the same caller for
// the same command within the window gets it again without running. Kept
// under "requestReplies", at most kCapacity of them, the oldest dropped
// first; a dry run is neither answered from nor kept.
#pragma once

#include <cstddef>

#include "platform/PropertyValue.h"

namespace steward {

inline constexpr std::size_t kMaximumRequestIdLength = 128;

class RequestReplay {
 public:
  static constexpr std::size_t kCapacity = 64;
  static constexpr double kWindowSeconds = 600;

  // `now` is a Unix time; the context may be none (nothing is kept then).
  RequestReplay(MutableDictionaryRef context, double now);

  // The kept reply for this request; none when there is none to give.
  DictionaryRef storedReply(const DictionaryRef& request) const;
  // Keeps the reply when the request carries a usable id; a refusal is not
  // kept, so that its retry is refused (and recorded) again.
  void keep(const DictionaryRef& request, const DictionaryRef& reply);

 private:
  // The usable id of the request, or none.
  static StringRef requestId(const DictionaryRef& request);
  // The kept entries still inside the window, oldest first.
  MutableArrayRef liveEntries() const;
  bool matches(const Dictionary& entry, const DictionaryRef& request) const;

  MutableDictionaryRef context_;
  double now_;
};

}  // namespace steward
