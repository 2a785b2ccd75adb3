#include "platform/PropertyValue.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <tuple>

#include "platform/Format.h"
#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

// Past a dozen keys the dictionary indexes them; order and lookups must not
// change on the way.
TEST(PropertyValue, DictionaryKeepsInsertionOrderAndReplacesInPlace) {
  auto dict = makeMutableDictionary();
  for (int i = 0; i < 40; ++i) dict->setObject(makeInteger(i), "k" + std::to_string(39 - i));
  dict->setObject(makeString("x"), "k20");
  dict->removeObjectForKey("k39");
  ASSERT_EQ(dict->count(), 39u);
  EXPECT_EQ(dict->entries().front().key, "k38");
  EXPECT_EQ(textOf(dict->objectForKey("k20")), "x");
  EXPECT_EQ(textOf(dict->objectForKey("k0")), "39");
  EXPECT_FALSE(dict->objectForKey("k39"));
  dict->setObject(makeInteger(1), "k39");
  EXPECT_EQ(dict->entries().back().key, "k39");
  for (int i = 0; i < 39; ++i) dict->removeObjectForKey("k" + std::to_string(i));
  EXPECT_EQ(dict->count(), 1u);
  EXPECT_EQ(textOf(dict->objectForKey("k39")), "1");
  EXPECT_THROW(dict->setObject(nullptr, "k39"), std::invalid_argument);
}

TEST(PropertyValue, DISABLED_PrintKeyHash) {
  std::printf("hash=%zu\n", dictionaryKeyHash("key"));
}

// Another run of this program hashes the same key differently.
TEST(PropertyValue, KeyHashesAreSeededPerProcess) {
  char self[PATH_MAX] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  auto hashInChild = [&] {
    std::string command = std::string(self) +
                          " --gtest_also_run_disabled_tests"
                          " --gtest_filter=PropertyValue.DISABLED_PrintKeyHash";
    FILE* child = popen(command.c_str(), "r");
    char line[256];
    std::string hash;
    while (child && fgets(line, sizeof line, child))
      if (std::string(line).rfind("hash=", 0) == 0) hash = line;
    if (child) pclose(child);
    return hash;
  };
  std::string first = hashInChild();
  EXPECT_NE(first, "");
  EXPECT_NE(first, hashInChild());
}

TEST(PropertyValue, EqualValuesHashAlike) {
  auto a = dictionaryOf({{"x", makeString("1")}, {"y", makeData("\x01")}});
  auto b = dictionaryOf({{"y", makeData("\x01")}, {"x", makeString("1")}});  // order does not matter
  auto foreign = std::make_shared<ForeignValue>("thing");
  const std::tuple<ValueRef, ValueRef, bool> pairs[] = {
      {makeInteger(1), makeReal(1.0), true},        {makeReal(-0.0), makeInteger(0), true},
      {makeReal(NAN), makeReal(NAN), true},         {a, b, true},
      {foreign, foreign, true},                     {makeBoolean(true), makeInteger(1), false},
      {makeReal(0.5), makeInteger(0), false},
      {makeReal(9223372036854775808.0), makeInteger(INT64_MAX), false},
      {a, nullptr, false},                          {foreign, foreign->copy(), false}};
  for (const auto& [x, y, equal] : pairs) {
    SCOPED_TRACE(textOf(x) + " and " + textOf(y));
    EXPECT_EQ(isEqual(x, y), equal);
    if (equal && x) {
      EXPECT_EQ(x->hash(), y->hash());
    }
  }
  EXPECT_EQ(describe(a), describe(b));
}

TEST(PropertyValue, TextAndDescription) {
  const std::pair<ValueRef, std::string> texts[] = {
      {makeReal(0.1), "0.1"},
      {nullptr, "(null)"},
      {makeDate(-0.75), "2000-12-31 23:59:59.25 +0000"},
      {makeDate(-63145526400.0), "0000-01-01 00:00:00 +0000"},
      // Beyond the calendar: the seconds themselves, never undefined.
      {makeDate(1e300), "1e+300 seconds after 2001-01-01 00:00:00 +0000"},
      {makeDate(NAN), "nan seconds after 2001-01-01 00:00:00 +0000"},
  };
  for (const auto& [value, text] : texts) EXPECT_EQ(textOf(value), text);
  auto dict = dictionaryOf({{"list", arrayOf({makeString("two words"), makeData("\x01\x02\x03\x04\x05")})},
                            {"when", makeDate(0.5)},
                            {"flag", makeBoolean(false)}});
  EXPECT_EQ(describe(dict),
            "{\n    flag = 0;\n    list = (\n        \"two words\",\n        <01020304 05>\n"
            "    );\n    when = \"2001-01-01 00:00:00.5 +0000\";\n}");
  EXPECT_EQ(describe(makeMutableArray()), "(\n)");
}

// However deep a tree, describing and freeing it use a bounded stack, and
// its text grows linearly with it.
TEST(PropertyValue, DeepTreesDescribeAndFreeWithoutRecursion) {
  ValueRef deep = makeInteger(7);
  for (int i = 0; i < 50000; ++i)
    deep = i % 2 ? ValueRef(arrayOf({deep})) : ValueRef(dictionaryOf({{"k", deep}}));
  const std::string text = describe(deep);
  EXPECT_LT(text.size(), 50000u * 2 * (4 * 64 + 8));
  EXPECT_EQ(text.substr(text.size() - 3), "}\n)");
  for (int i = 0; i < 300000; ++i) deep = arrayOf({deep});
  deep.reset();
  auto wide = makeMutableArray();  // siblings and shared members too
  auto shared = arrayOf({arrayOf({})});
  for (int i = 0; i < 1000; ++i) wide->addObject(i % 2 ? ValueRef(shared) : arrayOf({arrayOf({})}));
  wide.reset();
  EXPECT_EQ(shared->count(), 1u);
}

// Values print as their text; length modifiers follow the argument, not the
// format; a missing or mismatched argument prints "(?)".
TEST(Format, ValuesAndMismatchedArguments) {
  EXPECT_EQ(stringWithFormat("NIL_RESPONSE_ERR (%@)", std::string("boom")), "NIL_RESPONSE_ERR (boom)");
  EXPECT_EQ(stringWithFormat("%@ and %@", ValueRef(makeInteger(5)), makeString("x")), "5 and x");
  EXPECT_EQ(stringWithFormat("%lld %zu", std::int64_t{-9}, std::size_t{9}), "-9 9");
  EXPECT_EQ(stringWithFormat("%d %s", "wrong"), "(?) (?)");
}

}  // namespace
}  // namespace steward
