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
      {makeString("true"), nullptr, makeString("x"), std::nullopt},
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
    for (auto [key, value] : {std::pair{"once", once}, {"clearOnce", clear}, {"bootpath", path}}) {
      if (value) request->setObject(value, key);
    }
    std::string error;
    auto change = parseBootChange(request, &error);
    SCOPED_TRACE(describe(request));
    EXPECT_EQ(change ? std::optional(change->kind) : std::nullopt, kind);
    EXPECT_EQ(error.empty(), kind.has_value()) << error;
  }
}

// Without a published list the boot path is planned as given; with one, a
// name that the tool would refuse plans no new value.
TEST(BootPathChange, PlansNameTheEntryTheToolWouldSet) {
  const std::vector<BootEntry> entries = {{1, "disk", true}, {2, "disk", true}, {3, "PXE", true}};
  const std::tuple<std::optional<std::vector<BootEntry>>, std::string, std::string, std::string>
      cases[] = {
          {std::nullopt, "disk", "disk", ""},
          {entries, "boot0003", "Boot0003", ""},
          {entries, "disk", "disk", "\"disk\" names more than one boot entry: Boot0001 Boot0002"},
      };
  for (const auto& [devices, value, replacement, failure] : cases) {
    PublishedBoot published{makeString("Boot0003"), nullptr, devices};
    BootPlan plan = planBootChange({Kind::kOnce, value}, published, "nvram");
    EXPECT_EQ(plan.arguments, (std::vector<std::string>{"nvram", "boot-device-once=" + value}));
    EXPECT_EQ(plan.key, "boot-device-once");
    EXPECT_FALSE(plan.old);
    EXPECT_TRUE(isEqual(plan.replacement, makeString(replacement)));
    EXPECT_EQ(plan.failure, failure);
  }
}

}  // namespace
}  // namespace steward
