#include "platform/TextEncoding.h"

#include <gtest/gtest.h>

#include <string>

namespace steward::unicode {
namespace {

using namespace std::string_literals;

TEST(TextEncoding, ValidUTF8IsShortestFormWithoutSurrogates) {
  for (const std::string& good : {""s, "a\0b"s, "\xC3\xA9"s, "\xE2\x82\xAC"s, "\xF0\x9F\x98\x80"s,
                                  "\xF4\x8F\xBF\xBF"s, "\xEF\xBF\xBF"s})
    EXPECT_TRUE(isValidUTF8(good)) << good;
  for (const std::string& bad : {"\x80"s, "\xC0\xAF"s /* overlong '/' */, "\xE0\x80\xAF"s,
                                 "\xED\xA0\x80"s /* surrogate */, "\xF4\x90\x80\x80"s /* > U+10FFFF */,
                                 "\xC3"s, "\xE2\x82"s, "\xF8\x88\x80\x80\x80"s, "\xC3\x28"s})
    EXPECT_FALSE(isValidUTF8(bad));
}

TEST(TextEncoding, UTF16ConversionBothWays) {
  std::string utf8;
  ASSERT_TRUE(utf16ToUTF8("\x00\x41\x00\xE9\xD8\x3D\xDE\x00"s, true, &utf8));
  ASSERT_TRUE(utf16ToUTF8("\x41\x00\x3D\xD8\x00\xDE"s, false, &utf8));
  EXPECT_EQ(utf8, "A\xC3\xA9\xF0\x9F\x98\x80" "A\xF0\x9F\x98\x80");
  // Odd length, a high surrogate alone or before A, a low one alone.
  for (const std::string& bad : {"\x00"s, "\xD8\x3D"s, "\xD8\x3D\x00\x41"s, "\xDE\x00"s})
    EXPECT_FALSE(utf16ToUTF8(bad, true, &utf8));
  std::string units;
  EXPECT_EQ(appendUTF16BE("A\xC3\xA9\xF0\x9F\x98\x80", &units), 4u);
  EXPECT_EQ(units, "\x00\x41\x00\xE9\xD8\x3D\xDE\x00"s);
}

}  // namespace
}  // namespace steward::unicode
