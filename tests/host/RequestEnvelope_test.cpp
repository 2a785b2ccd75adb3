// The sandbox tests cover which bytes are a request; here, what no caller can reach.
#include "host/RequestEnvelope.h"

#include <gtest/gtest.h>

#include "platform/PropertyList.h"
#include "platform/XmlPropertyList.h"
#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

TEST(RequestEnvelope, NoInputIsAnErrorAndEmptyInputAnEmptyRequest) {
  DictionaryRef parsed;
  std::string error;
  EXPECT_FALSE(parse_xml_request(nullptr, &parsed, &error));
  EXPECT_EQ(error, error_envelope("CANNOT_PARSE_XML_REQUEST_ERR"));
  const std::string empty;
  EXPECT_TRUE(parse_xml_request(&empty, &parsed, &error));
  EXPECT_TRUE(isEqual(parsed, makeMutableDictionary()));
}

TEST(RequestEnvelope, BuildsRepliesOrTheRightEnvelope) {
  std::string out;
  EXPECT_FALSE(build_xml_response(nullptr, &out));
  EXPECT_EQ(out, error_envelope("UNEXPECTED_COMMAND"));
  // A reply that cannot be written loses its own entries.
  auto reply = dictionaryOf({{"OSStatus", makeInteger(-50)}});
  auto foreign = reply->mutableCopy();
  foreign->setObject(std::make_shared<ForeignValue>("object"), "odd");
  EXPECT_FALSE(build_xml_response(foreign, &out));
  EXPECT_EQ(out, error_envelope("CANNOT_CREATE_XML_RESPONSE_ERR"));
  ASSERT_TRUE(build_xml_response(reply, &out));
  std::string error;
  EXPECT_TRUE(isEqual(readXMLPropertyList(out, Mutability::kImmutable, &error), reply));
}

}  // namespace
}  // namespace steward
