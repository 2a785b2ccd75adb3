#include "CommonLib/DeepMutableCopyAdditions.h"

#include <gtest/gtest.h>

namespace steward {
namespace {

DictionaryRef fixedTree() {
  auto inner = std::make_shared<Dictionary>(
      std::vector<Dictionary::Entry>{{"name", makeString("n")}});
  return std::make_shared<Dictionary>(std::vector<Dictionary::Entry>{
      {"list", std::make_shared<Array>(std::vector<ValueRef>{inner})}, {"data", makeData("b")},
      {"number", makeInteger(7)}, {"empty", std::make_shared<Array>()}});
}

// Both copies make every container anew and mutable, the deep one the leaves
// too. Changing a copy leaves the source as it was.
TEST(DeepMutableCopy, CopiesContainersAndLeavesAsAsked) {
  for (bool deep : {false, true}) {
    DictionaryRef source = fixedTree();
    auto copy = as<MutableDictionary>(deep ? deepMutableCopy(source)
                                           : deepMutableStructureCopy(source));
    ASSERT_TRUE(copy);
    EXPECT_TRUE(isEqual(copy, source));
    auto list = as<MutableArray>(copy->objectForKey("list"));
    auto inner = list ? as<MutableDictionary>(list->objectAtIndex(0)) : nullptr;
    ASSERT_TRUE(inner);
    EXPECT_EQ(bool(as<MutableString>(inner->objectForKey("name"))), deep);
    EXPECT_EQ(bool(as<MutableData>(copy->objectForKey("data"))), deep);
    EXPECT_EQ(copy->objectForKey("number") == source->objectForKey("number"), !deep);
    list->removeAllObjects();
    copy->setObject(makeString("x"), "added");
    EXPECT_TRUE(isEqual(source, fixedTree()));
  }
  auto leaf = makeString("leaf");
  EXPECT_EQ(deepMutableStructureCopy(leaf), leaf);
  EXPECT_EQ(deepMutableStructureCopy(nullptr), nullptr);
}

}  // namespace
}  // namespace steward
