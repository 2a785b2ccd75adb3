#include "host/RequestEnvelope.h"

#include <gtest/gtest.h>

#include "platform/PropertyList.h"
#include "platform/XmlPropertyList.h"

namespace steward {
namespace {

TEST(RequestEnvelope, ParsesOnlyXmlWithADictionaryRoot) {
  const std::string parseError =
      std::string(kXmlPropertyListProlog) +
      "<plist version=\"0.9\">\n<dict>\n<key>error</key>\n"
      "<string>CANNOT_PARSE_XML_REQUEST_ERR</string>\n</dict>\n</plist>";
  auto email = makeMutableDictionary();
  email->setObject(makeString("email"), "command");
  std::string binary, error;
  ASSERT_TRUE(propertyListToData(email, PropertyListFormat::kBinary, &binary, &error));
  const std::string plist = "<plist version=\"1.0\">";
  const std::string request = "<dict><key>command</key><string>email</string></dict></plist>";
  const std::pair<std::string, ValueRef> cases[] = {
      {"", makeMutableDictionary()},
      {"<?xml version=\"1.0\"?>" + plist + request, email},
      // Whatever the XML reader takes, however it begins.
      {"<?other?>" + plist + request, email},
      {plist + "<array/></plist>", nullptr},
      {plist + "<string>x</string></plist>", nullptr},
      {"{ command = email; }", nullptr},  // the other formats are never read
      {binary, nullptr},
      {"<plist><dict>", nullptr},
  };
  for (const auto& [input, expected] : cases) {
    SCOPED_TRACE(input);
    DictionaryRef parsed;
    EXPECT_EQ(parse_xml_request(&input, &parsed, &error), expected != nullptr);
    EXPECT_TRUE(expected ? isEqual(parsed, expected) : !parsed);
    EXPECT_EQ(error, expected ? "" : parseError);
  }
  DictionaryRef parsed;
  EXPECT_FALSE(parse_xml_request(nullptr, &parsed, &error));
  EXPECT_EQ(error, parseError);
}

TEST(RequestEnvelope, BuildsRepliesOrTheRightEnvelope) {
  std::string out;
  EXPECT_FALSE(build_xml_response(nullptr, &out));
  EXPECT_EQ(out, error_envelope("UNEXPECTED_COMMAND"));
  EXPECT_TRUE(out.ends_with("</string>\n</dict>\n</plist>"));
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

TEST(RequestEnvelope, StringForKeyAndDictionaryWithAddedKey) {
  auto request = makeMutableDictionary();
  request->setObject(makeInteger(1), "number");
  request->setObject(makeString("old"), "command");
  EXPECT_FALSE(string_for_key(request, "number"));
  EXPECT_FALSE(string_for_key(request, "absent"));
  EXPECT_FALSE(string_for_key(nullptr, "command"));
  EXPECT_EQ(string_for_key(request, "command")->str(), "old");

  EXPECT_EQ(dictionary_with_added_key(request, nullptr, "command").get(), request.get());
  EXPECT_FALSE(dictionary_with_added_key(nullptr, makeString("x"), "command"));
  DictionaryRef added = dictionary_with_added_key(request, makeString("new"), "command");
  EXPECT_FALSE(added->isMutable());
  EXPECT_EQ(added->count(), 2u);
  EXPECT_EQ(string_for_key(added, "command")->str(), "new");
  EXPECT_EQ(string_for_key(request, "command")->str(), "old");
}

}  // namespace
}  // namespace steward
