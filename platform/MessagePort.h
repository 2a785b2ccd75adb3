// The client's end of a named message port: one request message out, one
// reply message back. A port named NAME is a Unix-domain stream socket at
// directory + NAME. Both directions carry one message framed as a 4-byte
// big-endian message id, a 4-byte big-endian payload length and the payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace steward {

class MessagePort {
 public:
  static constexpr const char* kDefaultDirectory = "/var/run/";
  // Connecting to a listening server takes no longer than this.
  static constexpr double kConnectTimeout = 5.0;
  // Replies larger than this are refused as a transport error.
  static constexpr std::uint32_t kMaximumReplyLength = 64u << 20;

  // Results of sendRequest.
  static constexpr std::int32_t kSuccess = 0;
  static constexpr std::int32_t kSendTimeout = -1;
  static constexpr std::int32_t kReceiveTimeout = -2;
  static constexpr std::int32_t kIsInvalid = -3;
  static constexpr std::int32_t kTransportError = -4;

  // The framing above, which both directions share.
  static constexpr std::size_t kHeaderLength = 8;
  enum class Framing { kWhole, kPartial, kTooLong };

  // The bytes that carry payload under messageID. The payload must fit the
  // 32-bit length field.
  [[nodiscard]] static std::string frame(std::uint32_t messageID,
                                         std::string_view payload);
  // Reads the message that bytes begin with, whose payload may be at most
  // maxLength bytes. kWhole: *messageID and *payload (a view into bytes) are
  // set, and *frameLength is how many bytes the message takes. kPartial: the
  // bytes end first; *frameLength is how many the frame needs, as far as
  // they tell. kTooLong: the header announces more than maxLength.
  [[nodiscard]] static Framing unframe(std::string_view bytes,
                                       std::uint32_t maxLength,
                                       std::uint32_t* messageID,
                                       std::string_view* payload,
                                       std::size_t* frameLength);

  // The port served under name, connected; none when no process serves it.
  [[nodiscard]] static std::unique_ptr<MessagePort> createRemote(
      const std::string& name, const std::string& directory = kDefaultDirectory);

  MessagePort(const MessagePort&) = delete;
  MessagePort& operator=(const MessagePort&) = delete;
  ~MessagePort();

  // Sends the message and waits for the reply, each step bounded by its
  // time-out in seconds. On kSuccess *reply holds the reply's payload (empty
  // when it carried none). A port serves one exchange; a second call
  // answers kIsInvalid.
  [[nodiscard]] std::int32_t sendRequest(std::int32_t messageID,
                                         std::string_view data,
                                         double sendTimeout,
                                         double receiveTimeout,
                                         std::string* reply);

 private:
  explicit MessagePort(int fd) : fd_(fd) {}

  int fd_;  // the connected socket, -1 once the exchange is over
};

}  // namespace steward
