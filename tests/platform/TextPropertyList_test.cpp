#include "platform/TextPropertyList.h"

#include <gtest/gtest.h>

#include <string>

namespace steward {
namespace {

using namespace std::string_literals;

ValueRef read(std::string_view text, Mutability m = Mutability::kImmutable) {
  std::string error;
  ValueRef v = readOpenStepPropertyList(text, m, &error);
  EXPECT_TRUE(v) << error;
  return v;
}

std::string readError(std::string_view text) {
  std::string error;
  EXPECT_FALSE(readOpenStepPropertyList(text, Mutability::kImmutable, &error));
  return error;
}

TEST(TextPropertyList, ReadsEveryForm) {
  ValueRef v = read(
      "/* header */ {\n"
      "  key = value; // trailing\n"
      "  \"quoted key\" = ( a, \"b c\", <0fbd 7777>, );\n"
      "  nested = { inner = ( ); };\n"
      "  path = /usr/local/bin:$HOME+x_y.z-1;\n"
      "  none = <>;\n"
      "}\n");
  auto expected = makeMutableDictionary();
  expected->setObject(makeString("value"), "key");
  auto array = makeMutableArray();
  array->addObject(makeString("a"));
  array->addObject(makeString("b c"));
  array->addObject(makeData("\x0f\xbd\x77\x77"));
  expected->setObject(array, "quoted key");
  auto nested = makeMutableDictionary();
  nested->setObject(makeMutableArray(), "inner");
  expected->setObject(nested, "nested");
  expected->setObject(makeString("/usr/local/bin:$HOME+x_y.z-1"), "path");
  expected->setObject(makeData(""), "none");
  EXPECT_TRUE(isEqual(v, expected)) << describe(v);

  EXPECT_TRUE(isEqual(read("  plain  "), makeString("plain")));
  EXPECT_TRUE(isEqual(read("()"), makeMutableArray()));
  EXPECT_TRUE(isEqual(read("(a,b)"), read("( a , b , )")));
}

TEST(TextPropertyList, Escapes) {
  EXPECT_TRUE(isEqual(
      read(R"("\n\t\r\"\\\a\b\f\v|\101\0|\351|\U00e9\UD83D\UDE00")"),
      makeString("\n\t\r\"\\\a\b\f\v|A\0|\xC3\xA9|\xC3\xA9\xF0\x9F\x98\x80"s)));
  // Raw UTF-8 and line breaks stand for themselves.
  EXPECT_TRUE(
      isEqual(read("\"caf\xC3\xA9\nx\""), makeString("caf\xC3\xA9\nx")));
}

TEST(TextPropertyList, ReadsStringsFiles) {
  ValueRef v = read(
      "\xEF\xBB\xBF"
      "/* Types of the configuration keys */\n"
      "\"Port\" = \"Integer\";\n"
      "// a line comment\n"
      "\"Flags\" = \"Array Integer ,\"; /* inline */\n"
      "\"Name\";\n"
      "Quoted = \"say \\\"hi\\\"\\n\";\n"
      "\"Port\" = \"Real\";\n");
  auto expected = makeMutableDictionary();
  expected->setObject(makeString("Real"), "Port");  // the later entry wins
  expected->setObject(makeString("Array Integer ,"), "Flags");
  expected->setObject(makeString("Name"), "Name");
  expected->setObject(makeString("say \"hi\"\n"), "Quoted");
  EXPECT_TRUE(isEqual(v, expected)) << describe(v);
  EXPECT_EQ(as<Dictionary>(v)->entries().front().key, "Port");

  // No entries at all is an empty strings file.
  for (std::string_view empty : {"", "  \n", "// nothing\n/* here */"})
    EXPECT_TRUE(isEqual(read(empty), makeMutableDictionary()));

  // UTF-16 with a byte order mark, either way round.
  EXPECT_TRUE(isEqual(read("\xFF\xFE\"\0a\0\"\0;\0"s), read("\"a\" = a;")));
  EXPECT_TRUE(
      isEqual(read("\xFE\xFF\0\"\0\xE9\0\"\0;"s), read("\"\xC3\xA9\";")));
}

TEST(TextPropertyList, MutabilityOfTheResult) {
  const char* text = "{ a = ( b, <00> ); }";
  auto fixed = as<Dictionary>(read(text));
  EXPECT_FALSE(fixed->isMutable());
  auto containers = as<Dictionary>(read(text, Mutability::kMutableContainers));
  auto array = as<Array>(containers->objectForKey("a"));
  EXPECT_TRUE(containers->isMutable());
  EXPECT_TRUE(array->isMutable());
  EXPECT_FALSE(array->objectAtIndex(0)->isMutable());
  auto leaves =
      as<Dictionary>(read(text, Mutability::kMutableContainersAndLeaves));
  array = as<Array>(leaves->objectForKey("a"));
  EXPECT_TRUE(as<MutableString>(array->objectAtIndex(0)));
  EXPECT_TRUE(as<MutableData>(array->objectAtIndex(1)));
  EXPECT_TRUE(
      as<MutableDictionary>(read("a;", Mutability::kMutableContainers)));
}

TEST(TextPropertyList, RejectsMalformedText) {
  EXPECT_EQ(readError("{ a = b; "), "line 1: unterminated dictionary");
  EXPECT_EQ(readError("{ a = b }"), "line 1: expected ';' after the value");
  EXPECT_EQ(readError("{ a b; }"), "line 1: expected '=' after the key");
  EXPECT_EQ(readError("{ (a) = b; }"), "line 1: unexpected '('");
  EXPECT_EQ(readError("{\n\n a = \"open\n;}"), "line 3: unterminated string");
  EXPECT_EQ(readError("(a, b"), "line 1: unterminated array");
  EXPECT_EQ(readError("(a b)"), "line 1: expected ',' or ')' in the array");
  EXPECT_EQ(readError("(a,,)"), "line 1: unexpected ','");
  EXPECT_EQ(readError("<0fb>"), "line 1: odd number of hex digits in data");
  EXPECT_EQ(readError("<0fbg>"), "line 1: bad character in data");
  EXPECT_EQ(readError("<0f"), "line 1: unterminated data");
  EXPECT_EQ(readError("( a ) b"),
            "line 1: unexpected text after the property list");
  EXPECT_EQ(readError("a /* never closed"), "line 1: unterminated comment");
  EXPECT_EQ(readError("\"\\q\""), "line 1: unknown escape \\q");
  EXPECT_EQ(readError("\"\\400\""), "line 1: octal escape above \\377");
  EXPECT_EQ(readError("\"\\U12\""), "line 1: \\U needs four hex digits");
  EXPECT_EQ(readError("\"\\UD800x\""), "line 1: unpaired surrogate");
  EXPECT_EQ(readError("\"\\UDC00\""), "line 1: unpaired surrogate");
  EXPECT_EQ(readError("\xC3\xA9"), "line 1: unexpected non-ASCII character");
  EXPECT_EQ(readError("\"\xC3\""), "text is not valid UTF-8");
  EXPECT_EQ(readError("\xFF\xFE\x00\xD8"s), "text is not valid UTF-16");
  EXPECT_EQ(readError(std::string(kMaxTextDepth + 1, '(')),
            "line 1: property list nested too deeply");
  EXPECT_TRUE(readOpenStepPropertyList(
      std::string(kMaxTextDepth, '(') + std::string(kMaxTextDepth, ')'),
      Mutability::kImmutable, nullptr));

  // Strings files: strings only, every entry closed by ';'.
  EXPECT_EQ(readError("\"a\" = \"b\";\n\"c\" = \"d\""),
            "line 2: expected ';' after the value");
  EXPECT_EQ(readError("\"a\" = (b);"), "line 1: unexpected '('");
  EXPECT_EQ(readError("a = b;\nc d;"),
            "line 2: expected '=' or ';' after the key");
}

}  // namespace
}  // namespace steward
