#include "kestrel/BootPathChange.h"

#include <gtest/gtest.h>

namespace steward {
namespace {

using Kind = BootChange::Kind;

// Keys that would make a wrong change, or an unclear one, are refused.
TEST(BootPathChange, RequestsAreReadStrictly) {
  const std::tuple<ValueRef, ValueRef, ValueRef, std::optional<Kind>> cases[] = {
      // once, clearOnce, bootpath
      {makeInteger(1), nullptr, makeString("x"), std::nullopt},
      {nullptr, makeBoolean(true), makeString("x"), std::nullopt},
      {makeBoolean(true), makeBoolean(true), nullptr, std::nullopt},
      {makeBoolean(true), nullptr, makeString(std::string("a\0b", 3)), std::nullopt},
      {makeBoolean(true), nullptr, nullptr, std::nullopt},
      {makeBoolean(false), makeBoolean(true), nullptr, Kind::kClearOnce},
      {makeBoolean(false), makeBoolean(false), makeString("x"), Kind::kPersistent},
      {makeBoolean(true), nullptr, makeString(""), Kind::kOnce},
  };
  for (const auto& [once, clear, path, kind] : cases) {
    auto request = makeMutableDictionary();
    for (auto [key, value] : {std::pair{"once", once}, {"clearOnce", clear}, {"bootpath", path}})
      if (value) request->setObject(value, key);
    std::string error;
    auto change = parseBootChange(request, &error);
    SCOPED_TRACE(describe(request));
    EXPECT_EQ(change ? std::optional(change->kind) : std::nullopt, kind);
    EXPECT_EQ(error.empty(), kind.has_value()) << error;
  }
}

}  // namespace
}  // namespace steward
