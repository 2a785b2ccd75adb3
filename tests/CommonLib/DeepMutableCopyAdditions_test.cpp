#include "CommonLib/DeepMutableCopyAdditions.h"

#include <gtest/gtest.h>

namespace steward {
namespace {

// A fixed dictionary holding a fixed array of fixed dictionaries, and leaves
// of every kind.
DictionaryRef fixedTree() {
  auto inner = [](const std::string& name) {
    return std::make_shared<Dictionary>(std::vector<Dictionary::Entry>{{"name", makeString(name)}});
  };
  auto list = std::make_shared<Array>(std::vector<ValueRef>{inner("first"), inner("second")});
  return std::make_shared<Dictionary>(std::vector<Dictionary::Entry>{
      {"list", list}, {"data", makeData("bytes")}, {"number", makeInteger(7)},
      {"flag", makeBoolean(true)}, {"when", makeDate(12.5)}, {"empty", std::make_shared<Array>()}});
}

// Both copies make every container anew and mutable, in order; the deep one
// copies the leaves too. Changing a copy leaves the source as it was.
TEST(DeepMutableCopy, CopiesContainersAndLeavesAsAsked) {
  for (bool deep : {false, true}) {
    DictionaryRef source = fixedTree();
    auto copy = as<MutableDictionary>(deep ? deepMutableCopy(source)
                                           : deepMutableStructureCopy(source));
    ASSERT_TRUE(copy);
    EXPECT_TRUE(isEqual(copy, source));
    auto list = as<MutableArray>(copy->objectForKey("list"));
    ASSERT_TRUE(list && list->count() == 2u);
    EXPECT_TRUE(as<MutableArray>(copy->objectForKey("empty")));
    auto second = as<MutableDictionary>(list->objectAtIndex(1));
    ASSERT_TRUE(second);
    auto sourceList = as<Array>(source->objectForKey("list"));
    ValueRef sourceName = as<Dictionary>(sourceList->objectAtIndex(1))->objectForKey("name");
    EXPECT_EQ(second->objectForKey("name") == sourceName, !deep);
    EXPECT_EQ(bool(as<MutableString>(second->objectForKey("name"))), deep);
    EXPECT_EQ(bool(as<MutableData>(copy->objectForKey("data"))), deep);
    for (const char* key : {"data", "number", "flag", "when"}) {
      EXPECT_EQ(copy->objectForKey(key) == source->objectForKey(key), !deep) << key;
    }
    list->removeAllObjects();
    copy->setObject(makeString("x"), "added");
    EXPECT_TRUE(isEqual(source, fixedTree()));
  }
  auto leaf = makeString("leaf");
  EXPECT_EQ(deepMutableStructureCopy(leaf), leaf);
  EXPECT_EQ(deepMutableStructureCopy(nullptr), nullptr);
  auto leafCopy = as<MutableString>(deepMutableCopy(leaf));
  ASSERT_TRUE(leafCopy && leafCopy != leaf);
  EXPECT_EQ(leafCopy->str(), "leaf");
}

}  // namespace
}  // namespace steward
