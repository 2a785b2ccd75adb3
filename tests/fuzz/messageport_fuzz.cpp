// Bytes as a message-port frame, read by the client's limit for replies and
// by a server's for requests: what reads as whole frames back to the same
// bytes, and a frame cut short always asks for more.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/MessagePort.h"

using steward::MessagePort;

static void check(bool ok) {
  if (!ok) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (std::uint32_t limit : {MessagePort::kMaximumReplyLength, UINT32_MAX}) {
    std::uint32_t id = 0;
    std::string_view payload;
    std::size_t length = 0;
    switch (MessagePort::unframe(bytes, limit, &id, &payload, &length)) {
      case MessagePort::Framing::kWhole: {
        check(length == MessagePort::kHeaderLength + payload.size() && length <= size);
        check(payload.data() == bytes.data() + MessagePort::kHeaderLength);
        check(MessagePort::frame(id, payload) == bytes.substr(0, length));
        std::size_t needed = 0;
        check(MessagePort::unframe(bytes.substr(0, length - 1), limit, &id, &payload,
                                   &needed) == MessagePort::Framing::kPartial);
        check(needed == length);
        break;
      }
      case MessagePort::Framing::kPartial:
        check(length > size && length >= MessagePort::kHeaderLength);
        break;
      case MessagePort::Framing::kTooLong:
        check(limit != UINT32_MAX && size >= MessagePort::kHeaderLength);
        break;
    }
  }
  return 0;
}
