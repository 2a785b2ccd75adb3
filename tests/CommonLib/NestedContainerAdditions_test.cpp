#include "CommonLib/NestedContainerAdditions.h"

#include <gtest/gtest.h>

#include "CommonLib/DeepMutableCopyAdditions.h"
#include "CommonLib/KeyedContainer.h"
#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

using Entries = std::initializer_list<std::pair<const char*, ValueRef>>;

MutableDictionaryRef dict(Entries entries) { return dictionaryOf(entries); }
MutableDictionaryRef record(const std::string& id, Entries entries = {}) {
  auto r = dictionaryOf(entries);
  r->setObject(makeString(id), "_id_");
  return r;
}
MutableArrayRef array(std::initializer_list<ValueRef> elements) {
  return std::make_shared<MutableArray>(std::vector<ValueRef>(elements));
}
ValueRef str(const std::string& text) { return makeString(text); }

// A tree on one line, keys in their order: {k=v;} and [a;b;]; none is "-".
std::string shown(const ValueRef& value) {
  if (!value) return "-";
  std::string text;
  if (auto dictionary = as<Dictionary>(value)) {
    for (const auto& key : dictionary->allKeys())
      text += key + "=" + shown(dictionary->objectForKey(key)) + ";";
    return "{" + text + "}";
  }
  if (auto list = as<Array>(value)) {
    for (const auto& element : list->objects()) text += shown(element) + ";";
    return "[" + text + "]";
  }
  return textOf(value);
}

// Repeated ids are looked up last and removed first. One element without
// an id spoils every lookup.
TEST(KeyedView, LooksUpAndStoresRecordsById) {
  auto second = record("x", {{"n", str("2")}});
  auto records = array({record("x"), record("y"), second});
  EXPECT_TRUE(isArrayOfDictionaries(records));
  EXPECT_EQ(objectForKey(records, "x"), second);
  EXPECT_EQ(as<Dictionary>(dictionaryRepresentation(records))->objectForKey("x"), second);
  EXPECT_EQ(shown(allKeys(records)), "[x;y;x;]");
  removeObjectForKey(records, "x");
  removeObjectForKey(records, "absent");
  EXPECT_EQ(shown(records), "[{_id_=y;};{n=2;_id_=x;};]");

  auto mixed = array({record("x"), dict({{"name", str("n")}})});
  EXPECT_FALSE(isArrayOfDictionaries(mixed));
  EXPECT_EQ(objectForKey(mixed, "x"), nullptr);
  removeObjectForKey(mixed, "x");
  EXPECT_EQ(mixed->count(), 2u);

  // Only mutable records are stored, at the end.
  records = array({record("x"), record("y")});
  setObject(records, std::make_shared<Dictionary>(), "z");
  auto replacement = dict({{"v", str("new")}});
  setObject(records, replacement, "x");
  EXPECT_EQ(shown(records), "[{_id_=y;};{v=new;_id_=x;};]");
  EXPECT_EQ(records->objectAtIndex(1), replacement);
  EXPECT_TRUE(intersectsArray(array({str("a"), makeInteger(1)}), array({makeReal(1.0)})));
  EXPECT_FALSE(intersectsArray(array({str("a")}), array({str("b")})));
}

// Elements join as their text, escaped.
TEST(KeyPath, JoinsWalksAndExtracts) {
  EXPECT_EQ(componentsJoinedByCharacter(array({str("a:b"), makeInteger(2)}), u':')->str(),
            "a\\:b:2");
  auto leaf = str("v");
  auto tree = dict(
      {{"a", str("text")}, {"x:y", leaf}, {"list", array({record("r1", {{"name", leaf}})})}});
  const std::pair<const char*, ValueRef> cases[] = {
      {"", tree}, {"x\\:y", leaf}, {"list:r1:name", leaf},
      {"a:b", nullptr}, {"list:r2:name", nullptr}, {"missing:deeper", nullptr}};
  for (const auto& [path, expected] : cases)
    EXPECT_EQ(nestedObjectForKey(tree, path), expected) << path;

  // Extraction builds skeletons and shares the leaves.
  auto b = str("B");
  auto source = dict({{"a", dict({{"b", b}, {"c", str("C")}, {"d", str("D")}})}, {"s", str("S")}});
  auto extracted = dictionaryForKeys(
      source, array({str("a:b"), str("a:c"), str("a:zz"), str("s:deeper")}));
  EXPECT_EQ(shown(extracted), "{a={b=B;c=C;};}");  // s is a leaf: nothing below it
  auto a = as<MutableDictionary>(extracted->objectForKey("a"));
  ASSERT_TRUE(a);
  EXPECT_NE(a, source->objectForKey("a"));  // a new skeleton container
  EXPECT_EQ(a->objectForKey("b"), b);       // the leaf itself
  EXPECT_FALSE(objectForNestedKey(source, "", makeMutableDictionary()));

  // Skeleton records carry their id; a repeated id meets the record made for
  // its first occurrence.
  source = dict({{"list", array({record("r1", {{"name", str("one")}, {"x", str("1")}}),
                                 record("r2", {{"x", str("2")}})})}});
  EXPECT_EQ(shown(dictionaryForKeys(source, array({str("list:*:name")}))),
            "{list=[{_id_=r1;name=one;};{_id_=r2;};];}");

  auto second = record("x", {{"b", str("2")}});
  auto repeated = array({record("x", {{"a", str("1")}}), second});
  auto whole = makeMutableArray();
  EXPECT_TRUE(objectForNestedKey(repeated, "*", whole));
  ASSERT_EQ(whole->count(), 1u);
  EXPECT_EQ(whole->objectAtIndex(0), second);
  auto parts = makeMutableArray();
  EXPECT_TRUE(objectForNestedKey(repeated, "*:a", parts));
  EXPECT_TRUE(objectForNestedKey(repeated, "*:b", parts));
  EXPECT_EQ(shown(parts), "[{_id_=x;a=1;b=2;};]");
}

// A fresh tree for every store, with fixed containers among mutable ones.
MutableDictionaryRef storeTree() {
  return dict({{"s", str("S")},
               {"d", dict({{"x", str("old")}, {"y", str("kept")}})},
               {"strings", array({str("a"), str("b"), str("c")})},
               {"list", array({record("r1", {{"v", str("1")}}), record("r2")})},
               {"empty", makeMutableArray()},
               {"fixed", std::make_shared<Dictionary>(
                             std::vector<Dictionary::Entry>{{"k", str("v")}})},
               {"fixedList", std::make_shared<Array>(std::vector<ValueRef>{record("a")})}});
}

TEST(Store, PlacesMergesOrRefusesAsTheTargetAllows) {
  const auto v = str("v");
  const auto deletion = array({record("a", {{"_obsoleteid_", makeBoolean(true)}})});
  // Path, value, replace, stored, where to look afterwards, what is there.
  const std::tuple<const char*, ValueRef, bool, bool, const char*, const char*> cases[] = {
      // The parent must exist and be mutable; nothing is created on the way.
      {"a:b", v, true, false, "a", "-"}, {"s:b", v, true, false, "s", "S"},
      {"fixed:k", str("w"), true, false, "fixed", "{k=v;}"}, {"s", nullptr, false, true, "s", "-"},
      // Dictionaries merge key by key unless replacing; a leaf is replaced.
      {"d", dict({{"x", str("new")}, {"z", makeInteger(3)}}), false, true, "d",
       "{x=new;y=kept;z=3;}"},
      {"d", dict({{"x", str("new")}}), true, true, "d", "{x=new;}"},
      // A failing merge keeps what it stored before the failure.
      {"", dict({{"n", makeInteger(2)}, {"fixed", dict({{"k", str("w")}})}}), false, false, "n",
       "2"},
      // Records merge record by record: "_newid_" adds a new record, without
      // it an unknown id is refused even when later records succeed.
      {"list", array({record("r3", {{"_newid_", makeBoolean(true)}, {"v", str("3")}}),
                      record("r2", {{"_obsoleteid_", str("Yes")}}),
                      record("r1", {{"v", str("one")}})}),
       false, true, "list", "[{v=one;_id_=r1;};{v=3;_id_=r3;};]"},
      {"list", array({record("r9"), record("r1", {{"w", str("w")}})}), false, false, "list",
       "[{v=1;_id_=r1;w=w;};{_id_=r2;};]"},
      {"empty", array({record("n", {{"_newid_", makeInteger(1)}})}), false, true, "empty",
       "[{_id_=n;};]"},
      // Markers read "YES", "TRUE" and "1" as true in any case, all else false.
      {"list", array({record("b", {{"_newid_", str("TRUE")}})}), false, true, "list:b",
       "{_id_=b;}"},
      {"list", array({record("r2", {{"_obsoleteid_", str("1")}})}), false, true, "list:r2", "-"},
      {"fixedList", array({record("a", {{"v", v}})}), false, false, "fixedList", "[{_id_=a;};]"},
      // Records never take the place of what is not a record array; where
      // nothing was, they are stored as they are.
      {"strings", array({record("n", {{"_newid_", makeBoolean(true)}})}), false, false, "strings",
       "[a;b;c;]"},
      {"d", deletion, false, false, "d", "{x=old;y=kept;}"},
      {"s", deletion, false, false, "s", "S"},
      {"new", deletion, false, true, "new", "[{_obsoleteid_=1;_id_=a;};]"},
      // Arrays of strings are addressed by position, a leading number.
      {"strings:1", str("B"), true, true, "strings", "[a;B;c;]"},
      {"strings:2nd", str("C"), true, true, "strings", "[a;b;C;]"},
      {"strings:0", nullptr, true, true, "strings", "[b;c;]"},
      {"strings:99999999999999999999", v, true, false, "strings", "[a;b;c;]"},
      // Into a record array only mutable records go; none changes nothing.
      {"list:r1", nullptr, true, true, "list", "[{v=1;_id_=r1;};{_id_=r2;};]"},
      {"list:q", v, true, true, "list", "[{v=1;_id_=r1;};{_id_=r2;};]"},
      {"list:q", dict({}), true, true, "list", "[{v=1;_id_=r1;};{_id_=r2;};{_id_=q;};]"},
  };
  for (const auto& [path, value, replace, stored, where, after] : cases) {
    SCOPED_TRACE(std::string(path) + " " + shown(value));
    auto tree = storeTree();
    EXPECT_EQ(setNestedObject(tree, value, path, replace), stored);
    EXPECT_EQ(shown(nestedObjectForKey(tree, where)), after);
  }
  // A merged dictionary is the one that was there.
  auto tree = storeTree();
  auto d = tree->objectForKey("d");
  EXPECT_TRUE(setNestedObject(tree, dict({{"d", dict({})}}), "", false));
  EXPECT_EQ(tree->objectForKey("d"), d);
}

TEST(Store, BulkUpdateAndRemoval) {
  auto tree = storeTree();
  EXPECT_TRUE(updateWithDictionary(tree, nullptr));
  EXPECT_FALSE(updateWithDictionary(
      tree, dict({{"d:y", str("2")}, {"no:such", str("3")}, {"z", str("4")}})));
  EXPECT_EQ(shown(tree->objectForKey("d")), "{x=old;y=2;}");  // stored before
  EXPECT_EQ(tree->objectForKey("z"), nullptr);                // after: never
  // A bulk update's deletion does not replace what is not an array either.
  auto deletion = array({record("a", {{"_obsoleteid_", makeBoolean(true)}})});
  EXPECT_FALSE(updateWithDictionary(tree, dict({{"d", deletion}})));
  EXPECT_EQ(shown(tree->objectForKey("d")), "{x=old;y=2;}");

  tree->setObject(array({record("a"), record("b"), record("a", {{"n", str("2")}})}), "list");
  for (const char* path : {"list:a", "d:x", "", "no:such", "s", "fixedList:a"})
    removeNestedObjectForKey(tree, path);
  EXPECT_EQ(shown(tree->objectForKey("list")), "[{_id_=b;};{n=2;_id_=a;};]");
  EXPECT_EQ(shown(tree->objectForKey("d")), "{y=2;}");
  EXPECT_EQ(tree->objectForKey("s"), nullptr);
  EXPECT_EQ(shown(tree->objectForKey("fixedList")), "[{_id_=a;};]");
}

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
}

}  // namespace
}  // namespace steward
