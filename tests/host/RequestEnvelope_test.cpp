#include "host/RequestEnvelope.h"

#include <gtest/gtest.h>

#include "platform/PropertyList.h"

namespace steward {
namespace {

const char kParseError[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"0.9\">\n"
    "<dict>\n"
    "<key>error</key>\n"
    "<string>CANNOT_PARSE_XML_REQUEST_ERR</string>\n"
    "</dict>\n"
    "</plist>";

TEST(RequestEnvelope, ParsesOnlyDictionaryRoots) {
  DictionaryRef request;
  std::string error;
  std::string empty;
  ASSERT_TRUE(parse_xml_request(&empty, &request, &error));
  ASSERT_TRUE(request);
  EXPECT_EQ(request->count(), 0u);
  EXPECT_EQ(error, "");

  std::string good =
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>command</key>"
      "<string>status</string></dict></plist>";
  ASSERT_TRUE(parse_xml_request(&good, &request, &error));
  EXPECT_TRUE(isEqual(request->objectForKey("command"), makeString("status")));

  std::string binary;
  ASSERT_TRUE(propertyListToData(request, PropertyListFormat::kBinary, &binary,
                                 &error));
  const std::string bad[] = {
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><string>x</string></plist>",
      "{ command = status; }",  // another format than XML
      binary,
      "<plist><dict>",
  };
  for (const std::string& input : bad) {
    SCOPED_TRACE(input);
    EXPECT_FALSE(parse_xml_request(&input, &request, &error));
    EXPECT_FALSE(request);
    EXPECT_EQ(error, kParseError);
  }
  EXPECT_FALSE(parse_xml_request(nullptr, &request, &error));
  EXPECT_EQ(error, kParseError);
}

TEST(RequestEnvelope, BuildsRepliesOrTheRightEnvelope) {
  std::string out;
  EXPECT_FALSE(build_xml_response(nullptr, &out));
  EXPECT_EQ(out, error_envelope("UNEXPECTED_COMMAND"));
  EXPECT_EQ(out.substr(out.size() - 8), "</plist>");

  // A reply that cannot be written loses its own entries.
  auto foreign = makeMutableDictionary();
  foreign->setObject(makeString("kept?"), "Message");
  foreign->setObject(std::make_shared<ForeignValue>("object"), "odd");
  EXPECT_FALSE(build_xml_response(foreign, &out));
  EXPECT_EQ(out, error_envelope("CANNOT_CREATE_XML_RESPONSE_ERR"));

  auto reply = makeMutableDictionary();
  reply->setObject(makeInteger(-50), "OSStatus");
  ASSERT_TRUE(build_xml_response(reply, &out));
  std::string error;
  EXPECT_TRUE(isEqual(
      propertyListFromData(out, Mutability::kImmutable, nullptr, &error),
      reply));
}

TEST(RequestEnvelope, StringForKeyTakesOnlyStrings) {
  auto request = makeMutableDictionary();
  request->setObject(makeInteger(1), "number");
  request->setObject(makeMutableDictionary(), "dictionary");
  request->setObject(makeString("status"), "command");
  EXPECT_FALSE(string_for_key(request, "number"));
  EXPECT_FALSE(string_for_key(request, "dictionary"));
  EXPECT_FALSE(string_for_key(request, "absent"));
  EXPECT_FALSE(string_for_key(nullptr, "command"));
  EXPECT_EQ(string_for_key(request, "command")->str(), "status");
}

TEST(RequestEnvelope, DictionaryWithAddedKeyCopies) {
  auto reply = makeMutableDictionary();
  reply->setObject(makeString("old"), "command");
  DictionaryRef same = dictionary_with_added_key(reply, nullptr, "command");
  EXPECT_EQ(same.get(), reply.get());
  EXPECT_FALSE(dictionary_with_added_key(nullptr, makeString("x"), "command"));

  DictionaryRef added =
      dictionary_with_added_key(reply, makeString("new"), "command");
  EXPECT_NE(added.get(), reply.get());
  EXPECT_FALSE(added->isMutable());
  EXPECT_EQ(added->count(), 1u);
  EXPECT_TRUE(isEqual(added->objectForKey("command"), makeString("new")));
  EXPECT_TRUE(isEqual(reply->objectForKey("command"), makeString("old")));
}

}  // namespace
}  // namespace steward
