// Which bytes count as a request is tested end to end in the sandbox; here the
// cases no caller of the tool can bring about.
#include "host/RequestEnvelope.h"

#include <gtest/gtest.h>

#include "platform/PropertyList.h"
#include "platform/XmlPropertyList.h"

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
  auto reply = makeMutableDictionary();
  reply->setObject(makeInteger(-50), "OSStatus");
  auto foreign = reply->mutableCopy();
  foreign->setObject(std::make_shared<ForeignValue>("object"), "odd");
  EXPECT_FALSE(build_xml_response(foreign, &out));
  EXPECT_EQ(out, error_envelope("CANNOT_CREATE_XML_RESPONSE_ERR"));
  ASSERT_TRUE(build_xml_response(reply, &out));
  std::string error;
  EXPECT_TRUE(isEqual(readXMLPropertyList(out, Mutability::kImmutable, &error), reply));
}

TEST(RequestEnvelope, DictionaryWithAddedKeyLeavesTheOriginal) {
  auto request = makeMutableDictionary();
  request->setObject(makeString("old"), "command");
  EXPECT_FALSE(string_for_key(nullptr, "command"));
  EXPECT_EQ(dictionary_with_added_key(request, nullptr, "command").get(), request.get());
  EXPECT_FALSE(dictionary_with_added_key(nullptr, makeString("x"), "command"));
  DictionaryRef added = dictionary_with_added_key(request, makeString("new"), "command");
  EXPECT_FALSE(added->isMutable());
  EXPECT_EQ(added->count(), 1u);
  EXPECT_EQ(string_for_key(added, "command")->str(), "new");
  EXPECT_EQ(string_for_key(request, "command")->str(), "old");
}

}  // namespace
}  // namespace steward
