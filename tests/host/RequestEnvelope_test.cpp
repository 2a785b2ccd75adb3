// The sandbox tests cover which bytes are a request; here, what no caller can reach.
#include "host/RequestEnvelope.h"

#include <gtest/gtest.h>

#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

TEST(RequestEnvelope, UnreadInputIsUnparsable) {
  DictionaryRef parsed;
  std::string error;
  EXPECT_FALSE(parse_xml_request(nullptr, &parsed, &error));
  EXPECT_EQ(error, error_envelope("CANNOT_PARSE_XML_REQUEST_ERR"));
}

// A reply that cannot be written loses its own entries.
TEST(RequestEnvelope, UnwritableReplyIsTheCreateErrorEnvelope) {
  auto reply = dictionaryOf(
      {{"OSStatus", makeInteger(-50)}, {"odd", std::make_shared<ForeignValue>("object")}});
  std::string out;
  EXPECT_FALSE(build_xml_response(reply, &out));
  EXPECT_EQ(out, error_envelope("CANNOT_CREATE_XML_RESPONSE_ERR"));
}

}  // namespace
}  // namespace steward
