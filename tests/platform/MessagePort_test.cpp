#include "platform/MessagePort.h"

#include <gtest/gtest.h>

#include <string>

namespace steward {
namespace {

using namespace std::string_literals;

// Replies, connections closed unanswered, time-outs and a missing server run
// end to end in the sandbox; frames cut anywhere are the fuzzer's. Here, the
// byte layout and the bound on what a reply may announce.
TEST(MessagePort, FramesAreBigEndianAndRepliesAreBounded) {
  EXPECT_EQ(MessagePort::frame(7, "<plist/>"), "\0\0\0\x07\0\0\0\x08<plist/>"s);
  std::uint32_t id = 0;
  std::string_view payload;
  std::size_t length = 0;
  // 64 MiB is read; one byte more is refused from the header alone.
  EXPECT_EQ(MessagePort::unframe("\0\0\0\0\x04\0\0\0"s, MessagePort::kMaximumReplyLength, &id, &payload,
                                 &length),
            MessagePort::Framing::kPartial);
  EXPECT_EQ(MessagePort::unframe("\0\0\0\0\x04\0\0\x01"s, MessagePort::kMaximumReplyLength, &id, &payload,
                                 &length),
            MessagePort::Framing::kTooLong);
  EXPECT_FALSE(MessagePort::createRemote(std::string(200, 'x'), "/tmp/"));  // longer than an address
}

}  // namespace
}  // namespace steward
