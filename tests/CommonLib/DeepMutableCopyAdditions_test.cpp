#include "CommonLib/DeepMutableCopyAdditions.h"

#include <gtest/gtest.h>

namespace steward {
namespace {

// A fixed dictionary holding a fixed array of fixed dictionaries, and leaves
// of every kind.
DictionaryRef fixedTree() {
  auto inner = [](const std::string& name) {
    return std::make_shared<Dictionary>(
        std::vector<Dictionary::Entry>{{"name", makeString(name)}});
  };
  auto list = std::make_shared<Array>(
      std::vector<ValueRef>{inner("first"), inner("second"), inner("third")});
  return std::make_shared<Dictionary>(
      std::vector<Dictionary::Entry>{{"list", list},
                                     {"data", makeData("bytes")},
                                     {"number", makeInteger(7)},
                                     {"flag", makeBoolean(true)},
                                     {"when", makeDate(12.5)},
                                     {"empty", std::make_shared<Array>()}});
}

TEST(DeepMutableCopy, StructureCopyMakesContainersAndSharesLeaves) {
  DictionaryRef source = fixedTree();
  DictionaryRef before = fixedTree();  // an equal tree, sharing nothing
  auto copy = as<MutableDictionary>(deepMutableStructureCopy(source));
  ASSERT_TRUE(copy);
  auto list = as<MutableArray>(copy->objectForKey("list"));
  ASSERT_TRUE(list);
  auto sourceList = as<Array>(source->objectForKey("list"));
  EXPECT_NE(list, sourceList);
  ASSERT_EQ(list->count(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {  // order kept, leaves shared
    auto element = as<MutableDictionary>(list->objectAtIndex(i));
    ASSERT_TRUE(element);
    EXPECT_EQ(
        element->objectForKey("name"),
        as<Dictionary>(sourceList->objectAtIndex(i))->objectForKey("name"));
  }
  EXPECT_EQ(copy->objectForKey("data"), source->objectForKey("data"));
  EXPECT_TRUE(as<MutableArray>(copy->objectForKey("empty")));
  EXPECT_TRUE(isEqual(copy, source));

  list->removeAllObjects();
  copy->setObject(makeString("x"), "added");
  EXPECT_TRUE(isEqual(source, before));

  auto leaf = makeString("leaf");
  EXPECT_EQ(deepMutableStructureCopy(leaf), leaf);
  EXPECT_EQ(deepMutableStructureCopy(nullptr), nullptr);
}

TEST(DeepMutableCopy, DeepCopyCopiesLeavesToo) {
  DictionaryRef source = fixedTree();
  DictionaryRef before = fixedTree();  // an equal tree, sharing nothing
  auto copy = as<MutableDictionary>(deepMutableCopy(source));
  ASSERT_TRUE(copy);
  EXPECT_TRUE(isEqual(copy, source));
  auto list = as<MutableArray>(copy->objectForKey("list"));
  ASSERT_TRUE(list);
  auto first = as<MutableDictionary>(list->objectAtIndex(0));
  ASSERT_TRUE(first);
  auto name = as<MutableString>(first->objectForKey("name"));
  ASSERT_TRUE(name);  // text comes out mutable
  EXPECT_EQ(name->str(), "first");
  EXPECT_EQ(
      as<String>(as<Dictionary>(list->objectAtIndex(2))->objectForKey("name"))
          ->str(),
      "third");
  EXPECT_TRUE(as<MutableData>(copy->objectForKey("data")));
  for (const char* key : {"number", "flag", "when"}) {
    EXPECT_NE(copy->objectForKey(key), source->objectForKey(key)) << key;
    EXPECT_TRUE(isEqual(copy->objectForKey(key), source->objectForKey(key)));
  }

  name->appendString("!");
  list->removeLastObject();
  EXPECT_TRUE(isEqual(source, before));

  auto text = makeString("leaf");
  auto textCopy = as<MutableString>(deepMutableCopy(text));
  ASSERT_TRUE(textCopy);
  EXPECT_NE(textCopy, text);
  EXPECT_EQ(textCopy->str(), "leaf");
  EXPECT_TRUE(
      as<MutableDictionary>(deepMutableCopy(std::make_shared<Dictionary>())));
}

}  // namespace
}  // namespace steward
