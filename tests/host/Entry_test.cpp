#include "host/Entry.h"

#include <gtest/gtest.h>

#include "host/SystemLog.h"

namespace steward {
namespace {

TEST(EntryDeathTest, AssertionNamesTheFailingCheck) {
  int line = __LINE__ + 1;
  EXPECT_DEATH(steward_assert(1 + 1 == 3),
               "^Entry_test.cpp:" + std::to_string(line) + ": failed assertion `1 \\+ 1 == 3'\n$");
}

TEST(SignalSafeText, FormatsWithoutTheCLibrary) {
  SignalSafeText text;
  text.text("[").decimal(-42).text("-").hex(0xbeef, 8).text("] ");
  text.decimal(7, 2).text(" ").hex(0x123456789aUL, 8).text(nullptr);
  EXPECT_STREQ(text.c_str(), "[-42-0000beef] 07 123456789a");
  SignalSafeText full;
  for (int i = 0; i < 100; ++i) full.text("0123456789");
  EXPECT_EQ(std::string(full.c_str()).size(), 511u);
}

}  // namespace
}  // namespace steward
