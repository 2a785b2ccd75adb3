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

}  // namespace
}  // namespace steward::unicode
