#include "platform/TextPropertyList.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

using namespace std::string_literals;

ValueRef read(std::string_view text, Mutability m = Mutability::kImmutable) {
  std::string error;
  ValueRef v = readOpenStepPropertyList(text, m, &error);
  EXPECT_TRUE(v) << error;
  return v;
}

TEST(TextPropertyList, ReadsEveryForm) {
  EXPECT_TRUE(isEqual(read("/* header */ {\n"
                           "  key = value; // trailing\n"
                           "  \"quoted key\" = ( a, \"b c\", <0fbd 7777>, );\n"
                           "  nested = { inner = ( ); };\n"
                           "  path = /usr/local/bin:$HOME+x_y.z-1;\n"
                           "  none = <>;\n"
                           "}\n"),
                      dictionaryOf({{"key", makeString("value")},
                                    {"quoted key", arrayOf({makeString("a"), makeString("b c"),
                                                            makeData("\x0f\xbd\x77\x77")})},
                                    {"nested", dictionaryOf({{"inner", arrayOf({})}})},
                                    {"path", makeString("/usr/local/bin:$HOME+x_y.z-1")},
                                    {"none", makeData("")}})));
  EXPECT_TRUE(isEqual(read("  plain  "), makeString("plain")));
  EXPECT_TRUE(isEqual(read(R"("\n\t\r\"\\\a\b\f\v|\101\0|\351|\U00e9\UD83D\UDE00")"),
                      makeString("\n\t\r\"\\\a\b\f\v|A\0|\xC3\xA9|\xC3\xA9\xF0\x9F\x98\x80"s)));
  // Raw UTF-8 and line breaks stand for themselves.
  EXPECT_TRUE(isEqual(read("\"caf\xC3\xA9\nx\""), makeString("caf\xC3\xA9\nx")));
}

TEST(TextPropertyList, ReadsStringsFiles) {
  ValueRef v = read("\xEF\xBB\xBF\"Port\" = \"Integer\";\n"
                    "\"Flags\" = \"Array Integer ,\";\n"
                    "\"Name\";\n"
                    "\"Port\" = \"Real\";\n");
  EXPECT_TRUE(isEqual(v, dictionaryOf({{"Port", makeString("Real")},  // the later entry wins
                                       {"Flags", makeString("Array Integer ,")},
                                       {"Name", makeString("Name")}})));
  EXPECT_EQ(as<Dictionary>(v)->entries().front().key, "Port");
  EXPECT_TRUE(as<MutableDictionary>(read("a;", Mutability::kMutableContainers)));
  EXPECT_TRUE(isEqual(read("// nothing\n"), makeMutableDictionary()));
  // UTF-16 with a byte order mark, either way round.
  EXPECT_TRUE(isEqual(read("\xFF\xFE\"\0a\0\"\0;\0"s), read("\"a\" = a;")));
  EXPECT_TRUE(isEqual(read("\xFE\xFF\0\"\0\xE9\0\"\0;"s), read("\"\xC3\xA9\";")));
}

// One text for each check the reader makes.
TEST(TextPropertyList, RejectsMalformedText) {
  const std::pair<std::string, std::string> cases[] = {
      {"{ a = b; ", "line 1: unterminated dictionary"},
      {"{ a = b }", "line 1: expected ';' after the value"},
      {"{\n\n a = \"open\n;}", "line 3: unterminated string"},
      {"(a, b", "line 1: unterminated array"},
      {"(a b)", "line 1: expected ',' or ')' in the array"},
      {"<0fb>", "line 1: odd number of hex digits in data"},
      {"<0fbg>", "line 1: bad character in data"},
      {"<0f", "line 1: unterminated data"},
      {"( a ) b", "line 1: unexpected text after the property list"},
      {"a /* never closed", "line 1: unterminated comment"},
      {"\"\\q\"", "line 1: unknown escape \\q"},
      {"\"\\400\"", "line 1: octal escape above \\377"},
      {"\"\\U12\"", "line 1: \\U needs four hex digits"},
      {"\"\\UD800x\"", "line 1: unpaired surrogate"},
      {"\"\\UDC00\"", "line 1: unpaired surrogate"},
      {"\xC3\xA9", "line 1: unexpected non-ASCII character"},
      {"\"\xC3\"", "text is not valid UTF-8"},
      {"\xFF\xFE\x00\xD8"s, "text is not valid UTF-16"},
      {std::string(kMaxTextDepth + 1, '('), "line 1: property list nested too deeply"},
      // Strings files: strings only, every entry closed by ';'.
      {"\"a\" = \"b\";\n\"c\" = \"d\"", "line 2: expected ';' after the value"},
      {"a = b;\nc d;", "line 2: expected '=' or ';' after the key"},
  };
  for (const auto& [text, reason] : cases) {
    std::string error;
    EXPECT_FALSE(readOpenStepPropertyList(text, Mutability::kImmutable, &error));
    EXPECT_EQ(error, reason) << text;
  }
  EXPECT_TRUE(read(std::string(kMaxTextDepth, '(') + std::string(kMaxTextDepth, ')')));
}

}  // namespace
}  // namespace steward
