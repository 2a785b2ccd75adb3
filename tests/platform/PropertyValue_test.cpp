#include "platform/PropertyValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <unordered_set>

#include "platform/Format.h"

namespace steward {
namespace {

TEST(PropertyValue, ContainersHoldTheVeryObjectPlaced) {
  auto s = makeMutableString("abc");
  auto dict = makeMutableDictionary();
  dict->setObject(s, "k");
  EXPECT_EQ(dict->objectForKey("k"), s);
  s->appendString("d");  // the dictionary sees the change: same object
  EXPECT_EQ(as<String>(dict->objectForKey("k"))->str(), "abcd");

  auto copy = dict->mutableCopy();  // top level only: the leaf is shared
  EXPECT_NE(copy, dict);
  EXPECT_EQ(copy->objectForKey("k"), s);
}

TEST(PropertyValue, FlavoursAndDowncasts) {
  ValueRef fixed = std::make_shared<Dictionary>();
  ValueRef changeable = makeMutableDictionary();
  EXPECT_FALSE(fixed->isMutable());
  EXPECT_TRUE(changeable->isMutable());
  EXPECT_TRUE(as<Dictionary>(changeable));
  EXPECT_FALSE(as<MutableDictionary>(fixed));
  EXPECT_FALSE(as<Array>(fixed));
  EXPECT_EQ(fixed->kind(), ValueKind::kDictionary);
  EXPECT_FALSE(as<MutableDictionary>(changeable)->copy()->isMutable());
}

TEST(PropertyValue, DictionaryKeepsInsertionOrderAndReplacesInPlace) {
  auto dict = makeMutableDictionary();
  for (int i = 0; i < 40; ++i) dict->setObject(makeInteger(i), "k" + std::to_string(39 - i));
  dict->setObject(makeString("x"), "k20");
  dict->removeObjectForKey("k39");
  ASSERT_EQ(dict->count(), 39u);
  EXPECT_EQ(dict->entries().front().key, "k38");
  EXPECT_EQ(dict->entries().back().key, "k0");
  EXPECT_EQ(textOf(dict->objectForKey("k20")), "x");
  EXPECT_EQ(textOf(dict->objectForKey("k0")), "39");
  EXPECT_FALSE(dict->objectForKey("k39"));
  dict->setObject(makeInteger(1), "k39");
  EXPECT_EQ(dict->entries().back().key, "k39");
  for (int i = 0; i < 39; ++i) dict->removeObjectForKey("k" + std::to_string(i));
  EXPECT_EQ(dict->count(), 1u);
  EXPECT_EQ(textOf(dict->objectForKey("k39")), "1");
}

TEST(PropertyValue, NoneIsRefusedByContainers) {
  auto dict = makeMutableDictionary();
  auto array = makeMutableArray();
  EXPECT_THROW(dict->setObject(nullptr, "k"), std::invalid_argument);
  EXPECT_THROW(array->addObject(nullptr), std::invalid_argument);
  EXPECT_THROW(array->removeObjectAtIndex(0), std::out_of_range);
  EXPECT_FALSE(array->objectAtIndex(3));
}

TEST(PropertyValue, EqualityAndHashAgree) {
  std::unordered_set<ValueRef, ValueHash, ValueEqual> set;
  set.insert(makeInteger(1));
  EXPECT_TRUE(set.count(makeReal(1.0)));
  EXPECT_FALSE(set.count(makeBoolean(true)));  // booleans are not numbers
  EXPECT_FALSE(isEqual(makeBoolean(false), makeInteger(0)));
  EXPECT_TRUE(isEqual(makeReal(-0.0), makeInteger(0)));
  EXPECT_EQ(makeReal(-0.0)->hash(), makeInteger(0)->hash());
  EXPECT_TRUE(isEqual(makeReal(NAN), makeReal(NAN)));
  EXPECT_FALSE(isEqual(makeReal(9223372036854775808.0),
                       makeInteger(std::numeric_limits<std::int64_t>::max())));
  EXPECT_FALSE(isEqual(makeReal(0.5), makeInteger(0)));

  auto a = makeMutableDictionary();
  auto b = makeMutableDictionary();
  a->setObject(makeString("1"), "x");
  a->setObject(makeData("\x01"), "y");
  b->setObject(makeData("\x01"), "y");
  b->setObject(makeString("1"), "x");
  EXPECT_TRUE(isEqual(a, b));  // key order does not matter
  EXPECT_EQ(a->hash(), b->hash());
  EXPECT_EQ(describe(a), describe(b));
  EXPECT_FALSE(isEqual(makeString("1"), makeInteger(1)));
  EXPECT_TRUE(isEqual(nullptr, nullptr));
  EXPECT_FALSE(isEqual(a, nullptr));

  auto foreign = std::make_shared<ForeignValue>("thing");
  EXPECT_TRUE(isEqual(foreign, foreign));
  EXPECT_FALSE(isEqual(foreign, foreign->copy()));
}

TEST(PropertyValue, TextAndDescription) {
  EXPECT_EQ(textOf(makeString("a b")), "a b");
  EXPECT_EQ(textOf(makeInteger(-42)), "-42");
  EXPECT_EQ(textOf(makeReal(0.1)), "0.1");
  EXPECT_EQ(textOf(makeBoolean(true)), "1");
  EXPECT_EQ(textOf(nullptr), "(null)");

  auto inner = makeMutableArray();
  inner->addObject(makeString("two words"));
  inner->addObject(makeData("\x01\x02\x03\x04\x05"));
  auto dict = makeMutableDictionary();
  dict->setObject(inner, "list");
  dict->setObject(makeDate(0.5), "when");
  dict->setObject(makeBoolean(false), "flag");
  EXPECT_EQ(describe(dict),
            "{\n"
            "    flag = 0;\n"
            "    list = (\n"
            "        \"two words\",\n"
            "        <01020304 05>\n"
            "    );\n"
            "    when = \"2001-01-01 00:00:00.5 +0000\";\n"
            "}");
  EXPECT_EQ(describe(makeMutableArray()), "(\n)");
}

TEST(Format, PrintfConversionsAndValues) {
  EXPECT_EQ(stringWithFormat("[%d] error in get_and_lock_context: %d (errno=%d)\n", 12, -1, 11),
            "[12] error in get_and_lock_context: -1 (errno=11)\n");
  EXPECT_EQ(stringWithFormat("[%d-%08lx] SIGALRM", 7, 0xabcUL), "[7-00000abc] SIGALRM");
  EXPECT_EQ(stringWithFormat("NIL_RESPONSE_ERR (%@)", std::string("boom")), "NIL_RESPONSE_ERR (boom)");
  ValueRef number = makeInteger(5);
  EXPECT_EQ(stringWithFormat("%@ and %@", number, makeString("x")), "5 and x");
  EXPECT_EQ(stringWithFormat("%s:%u: failed assertion `%s'\n", "f.cpp", 185u, "request"),
            "f.cpp:185: failed assertion `request'\n");
  EXPECT_EQ(stringWithFormat("%5.2f|%-4s|%%|%c", 3.14159, "ab", 'z'), " 3.14|ab  |%|z");
  EXPECT_EQ(stringWithFormat("%d %s", "wrong"), "(?) (?)");
  EXPECT_EQ(stringWithFormat("%lld %zu", std::int64_t{-9}, std::size_t{9}), "-9 9");
}

}  // namespace
}  // namespace steward
