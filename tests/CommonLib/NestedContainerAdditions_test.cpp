#include "CommonLib/NestedContainerAdditions.h"

#include <gtest/gtest.h>

#include "CommonLib/KeyedContainer.h"

namespace steward {
namespace {

// Small builders: a mutable dictionary from key/value pairs, a record.
MutableDictionaryRef dict(
    std::initializer_list<std::pair<std::string, ValueRef>> entries) {
  auto d = makeMutableDictionary();
  for (const auto& [key, value] : entries) d->setObject(value, key);
  return d;
}
MutableDictionaryRef record(
    const std::string& id,
    std::initializer_list<std::pair<std::string, ValueRef>> entries = {}) {
  auto r = dict(entries);
  r->setObject(makeString(id), "_id_");
  return r;
}
MutableArrayRef array(std::initializer_list<ValueRef> elements) {
  return std::make_shared<MutableArray>(std::vector<ValueRef>(elements));
}
ValueRef str(const std::string& text) { return makeString(text); }
std::string text(const ValueRef& value) {
  auto s = as<String>(value);
  return s ? s->str() : "(none)";
}

TEST(KeyedView, RepeatedIdsAreLookedUpLastAndRemovedFirst) {
  auto first = record("x", {{"n", str("1")}});
  auto second = record("x", {{"n", str("2")}});
  auto records = array({first, record("y"), second});
  EXPECT_TRUE(isArrayOfDictionaries(records));
  EXPECT_EQ(objectForKey(records, "x"), second);
  EXPECT_EQ(
      as<Dictionary>(dictionaryRepresentation(records))->objectForKey("x"),
      second);
  auto ids = allKeys(records);
  ASSERT_EQ(ids->count(), 3u);
  EXPECT_EQ(text(ids->objectAtIndex(0)), "x");
  EXPECT_EQ(text(ids->objectAtIndex(2)), "x");
  EXPECT_EQ(allValues(records), records);

  removeObjectForKey(records, "x");
  ASSERT_EQ(records->count(), 2u);
  EXPECT_EQ(records->objectAtIndex(1), second);  // the first x went
  removeObjectForKey(records, "absent");
  EXPECT_EQ(records->count(), 2u);
}

TEST(KeyedView, ArraysThatAreNotRecordArrays) {
  EXPECT_FALSE(isArrayOfDictionaries(array({})));
  EXPECT_EQ(objectForKey(array({}), "x"), nullptr);
  // One element without an id spoils every lookup, even a matching one.
  auto mixed = array({record("x"), dict({{"name", str("n")}})});
  EXPECT_FALSE(isArrayOfDictionaries(mixed));
  EXPECT_EQ(objectForKey(mixed, "x"), nullptr);
  removeObjectForKey(mixed, "x");
  EXPECT_EQ(mixed->count(), 2u);
  EXPECT_EQ(objectForKey(array({str("x")}), "x"), nullptr);
  // An id that is not text is a record, but matches no key.
  auto numbered = array({dict({{"_id_", makeInteger(7)}})});
  EXPECT_TRUE(isArrayOfDictionaries(numbered));
  EXPECT_EQ(objectForKey(numbered, "7"), nullptr);
  EXPECT_EQ(allKeys(numbered)->count(), 1u);
  EXPECT_EQ(dictionaryRepresentation(numbered)->count(), 0u);
}

TEST(KeyedView, SetObjectStoresOnlyMutableRecordsAtTheEnd) {
  auto old = record("x");
  auto records = array({old, record("y")});
  auto fixed = std::make_shared<Dictionary>();
  setObject(records, fixed, "z");
  EXPECT_EQ(records->count(), 2u);

  auto replacement = dict({{"v", str("new")}});
  setObject(records, replacement, "x");
  ASSERT_EQ(records->count(), 2u);
  EXPECT_EQ(records->objectAtIndex(1), replacement);
  EXPECT_EQ(text(replacement->objectForKey("_id_")), "x");
  EXPECT_EQ(objectForKey(records, "x"), replacement);
}

TEST(KeyedView, IntersectionIsByValue) {
  EXPECT_TRUE(intersectsArray(array({str("a"), makeInteger(1)}),
                              array({makeReal(1.0)})));
  EXPECT_FALSE(intersectsArray(array({str("a")}), array({str("b")})));
  EXPECT_FALSE(intersectsArray(array({}), array({str("b")})));
}

// The escaping itself is StringComponentAdditions'; other elements join as
// their text.
TEST(KeyPath, EscapingJoin) {
  EXPECT_EQ(componentsJoinedByCharacter(array({str("a:b"), makeInteger(2)}), u':')->str(),
            "a\\:b:2");
}

TEST(KeyPath, WalkThroughDictionariesAndRecords) {
  auto leaf = str("v");
  auto tree = dict({{"a", str("text")},
                    {"x:y", leaf},
                    {"list", array({record("r1", {{"name", leaf}})})}});
  EXPECT_EQ(nestedObjectForKey(tree, ""), tree);
  EXPECT_EQ(nestedObjectForKey(tree, "a:b"), nullptr);  // through a string
  EXPECT_EQ(nestedObjectForKey(tree, "x\\:y"), leaf);
  EXPECT_EQ(nestedObjectForKey(tree, "list:r1:name"), leaf);
  EXPECT_EQ(nestedObjectForKey(tree, "list:r2:name"), nullptr);
  EXPECT_EQ(nestedObjectForKey(tree, "missing:deeper"), nullptr);
}

TEST(Extraction, BuildsSkeletonsAndSharesLeaves) {
  auto b = str("B");
  auto source = dict({{"a", dict({{"b", b}, {"c", str("C")}, {"d", str("D")}})},
                      {"s", str("S")}});
  auto extracted = dictionaryForKeys(
      source, array({str("a:b"), str("a:c"), str("a:zz"), str("s:deeper")}));
  auto a = as<MutableDictionary>(extracted->objectForKey("a"));
  ASSERT_TRUE(a);
  EXPECT_NE(a, source->objectForKey("a"));  // a new skeleton container
  EXPECT_EQ(a->count(), 2u);
  EXPECT_EQ(a->objectForKey("b"), b);  // the leaf itself
  EXPECT_EQ(text(a->objectForKey("c")), "C");
  EXPECT_EQ(extracted->count(), 1u);  // s is a leaf: nothing below it

  auto target = makeMutableDictionary();
  EXPECT_FALSE(objectForNestedKey(source, "a:zz", target));
  EXPECT_EQ(as<Dictionary>(target->objectForKey("a"))->count(), 0u);  // stays
  EXPECT_FALSE(objectForNestedKey(source, "", target));

  // A target entry of another kind, or fixed, is left alone.
  auto occupied = dict({{"a", str("taken")}});
  EXPECT_FALSE(objectForNestedKey(source, "a:b", occupied));
  EXPECT_EQ(text(occupied->objectForKey("a")), "taken");
  occupied->setObject(std::make_shared<Dictionary>(), "a");
  EXPECT_FALSE(objectForNestedKey(source, "a:b", occupied));

  auto all = makeMutableDictionary();
  EXPECT_TRUE(objectForNestedKey(source, "*", all));
  EXPECT_EQ(all->objectForKey("a"), source->objectForKey("a"));
  EXPECT_EQ(all->objectForKey("s"), source->objectForKey("s"));
}

TEST(Extraction, StarOverRecordArrays) {
  auto source = dict(
      {{"list", array({record("r1", {{"name", str("one")}, {"x", str("1")}}),
                       record("r2", {{"x", str("2")}})})}});
  auto extracted = dictionaryForKeys(source, array({str("list:*:name")}));
  auto list = as<MutableArray>(extracted->objectForKey("list"));
  ASSERT_TRUE(list);
  ASSERT_EQ(list->count(), 2u);
  auto r1 = as<Dictionary>(objectForKey(list, "r1"));
  auto r2 = as<Dictionary>(objectForKey(list, "r2"));
  ASSERT_TRUE(r1 && r2);
  EXPECT_EQ(r1->count(), 2u);  // "_id_" and name, nothing else
  EXPECT_EQ(text(r1->objectForKey("name")), "one");
  EXPECT_EQ(r2->count(), 1u);

  // "*" last places only mutable records, and answers true all the same.
  auto fixedRecords = std::make_shared<Array>(std::vector<ValueRef>{
      std::make_shared<Dictionary>(
          std::vector<Dictionary::Entry>{{"_id_", str("f")}}),
      record("m")});
  auto into = makeMutableArray();
  EXPECT_TRUE(objectForNestedKey(fixedRecords, "*", into));
  ASSERT_EQ(into->count(), 1u);
  EXPECT_EQ(into->objectAtIndex(0), fixedRecords->objectAtIndex(1));

  EXPECT_FALSE(objectForNestedKey(array({str("x")}), "*", makeMutableArray()));
}

// A repeated id meets the record made for its first occurrence.
TEST(Extraction, StarWithRepeatedIdsFillsOneRecord) {
  auto first = record("x", {{"a", str("1")}});
  auto second = record("x", {{"b", str("2")}});
  auto source = array({first, second});

  auto whole = makeMutableArray();
  EXPECT_TRUE(objectForNestedKey(source, "*", whole));
  ASSERT_EQ(whole->count(), 1u);
  EXPECT_EQ(whole->objectAtIndex(0), second);

  auto parts = makeMutableArray();
  EXPECT_TRUE(objectForNestedKey(source, "*:a", parts));
  EXPECT_FALSE(objectForNestedKey(source, "*:zz", parts));
  EXPECT_TRUE(objectForNestedKey(source, "*:b", parts));
  ASSERT_EQ(parts->count(), 1u);
  EXPECT_EQ(as<Dictionary>(parts->objectAtIndex(0))->count(), 3u);
}

TEST(Store, NeedsAnExistingParent) {
  auto tree = dict({{"s", str("S")}});
  EXPECT_FALSE(setNestedObject(tree, str("v"), "a:b", false));
  EXPECT_FALSE(setNestedObject(tree, str("v"), "a:b", true));
  EXPECT_FALSE(setNestedObject(tree, str("v"), "s:b", true));
  EXPECT_EQ(tree->count(), 1u);  // nothing created on the way
  EXPECT_FALSE(setNestedObject(tree, str("v"), "", true));
  EXPECT_FALSE(setNestedObject(tree, str("v"), "", false));
  // A fixed parent is not changed.
  tree->setObject(std::make_shared<Dictionary>(), "fixed");
  EXPECT_FALSE(setNestedObject(tree, str("v"), "fixed:k", true));

  EXPECT_TRUE(setNestedObject(tree, str("v"), "k", true));
  EXPECT_TRUE(setNestedObject(tree, nullptr, "s", false));
  EXPECT_EQ(tree->objectForKey("s"), nullptr);
  EXPECT_TRUE(setNestedObject(tree, nullptr, "never-there", true));
}

TEST(Store, MergeKeepsUntouchedKeys) {
  auto kept = str("kept");
  auto inner = dict({{"x", str("old")}, {"y", kept}});
  auto tree = dict({{"d", inner}, {"s", str("S")}, {"n", makeInteger(1)}});
  auto update = dict({{"x", str("new")}, {"z", makeInteger(3)}});
  EXPECT_TRUE(
      setNestedObject(tree, dict({{"d", update}, {"s", dict({})}}), "", false));
  EXPECT_EQ(tree->objectForKey("d"), inner);  // merged, not replaced
  EXPECT_EQ(text(inner->objectForKey("x")), "new");
  EXPECT_EQ(inner->objectForKey("y"), kept);
  EXPECT_EQ(inner->count(), 3u);
  EXPECT_TRUE(as<Dictionary>(tree->objectForKey("s")));  // string replaced
  EXPECT_EQ(tree->count(), 3u);

  // With replace the dictionary goes in whole.
  EXPECT_TRUE(setNestedObject(tree, update, "d", true));
  EXPECT_EQ(tree->objectForKey("d"), update);

  // A merge into a fixed dictionary fails; what was merged before stays.
  tree->setObject(std::make_shared<Dictionary>(
                      std::vector<Dictionary::Entry>{{"k", str("v")}}),
                  "fixed");
  EXPECT_FALSE(setNestedObject(
      tree, dict({{"n", makeInteger(2)}, {"fixed", dict({{"k", str("w")}})}}),
      "", false));
  EXPECT_EQ(as<Integer>(tree->objectForKey("n"))->value(), 2);
}

TEST(Store, RecordArraysMergeRecordByRecord) {
  auto r1 = record("r1", {{"v", str("1")}});
  auto list = array({r1, record("r2")});
  auto tree = dict({{"list", list}});
  auto update = array({
      record("r3", {{"_newid_", makeBoolean(true)}, {"v", str("3")}}),
      record("r2", {{"_obsoleteid_", str("Yes")}}),
      record("r1", {{"v", str("one")}}),
  });
  EXPECT_TRUE(setNestedObject(tree, update, "list", false));
  EXPECT_EQ(tree->objectForKey("list"), list);
  ASSERT_EQ(list->count(), 2u);
  EXPECT_EQ(list->objectAtIndex(0), r1);
  EXPECT_EQ(text(r1->objectForKey("v")), "one");
  auto r3 = as<Dictionary>(list->objectAtIndex(1));
  EXPECT_EQ(text(r3->objectForKey("_id_")), "r3");
  EXPECT_EQ(r3->objectForKey("_newid_"), nullptr);
  EXPECT_NE(r3, update->objectAtIndex(0));  // a new record

  // An unknown id without "_newid_" is not added, and the merge says so
  // even when later records succeed.
  EXPECT_FALSE(setNestedObject(
      tree, array({record("r9"), record("r1", {{"w", str("w")}})}), "list",
      false));
  EXPECT_EQ(list->count(), 2u);
  EXPECT_EQ(text(r1->objectForKey("w")), "w");

  // Only an empty array or a record array takes records.
  tree->setObject(makeMutableArray(), "empty");
  EXPECT_TRUE(
      setNestedObject(tree, array({record("n", {{"_newid_", makeInteger(1)}})}),
                      "empty", false));
  EXPECT_EQ(as<Array>(tree->objectForKey("empty"))->count(), 1u);
  tree->setObject(array({str("a")}), "strings");
  EXPECT_FALSE(setNestedObject(
      tree, array({record("n", {{"_newid_", makeBoolean(true)}})}), "strings",
      false));

  // Records never take the place of what is not an array, nor does a bulk
  // update's deletion; where nothing was, they are stored as they are.
  auto deletion = array({record("a", {{"_obsoleteid_", makeBoolean(true)}})});
  tree->setObject(dict({{"k", str("v")}}), "d");
  tree->setObject(str("leaf"), "leaf");
  EXPECT_FALSE(setNestedObject(tree, deletion, "d", false));
  EXPECT_FALSE(setNestedObject(tree, deletion, "leaf", false));
  EXPECT_FALSE(updateWithDictionary(tree, dict({{"d", deletion}})));
  EXPECT_EQ(text(nestedObjectForKey(tree, "d:k")), "v");
  EXPECT_EQ(text(tree->objectForKey("leaf")), "leaf");
  EXPECT_TRUE(setNestedObject(tree, deletion, "new", false));
  EXPECT_EQ(tree->objectForKey("new"), deletion);
}

TEST(Store, RecordUpdateMarkers) {
  auto list = array({record("a")});
  // Markers read "YES", "TRUE" and "1" as true in any case, all else false.
  EXPECT_FALSE(updateDictionary(list, record("b", {{"_newid_", str("no")}}),
                                str("b"), false));
  EXPECT_TRUE(updateDictionary(list, record("b", {{"_newid_", str("true")}}),
                               str("b"), false));
  EXPECT_EQ(list->count(), 2u);
  EXPECT_FALSE(updateDictionary(list, record("c", {{"_obsoleteid_", str("1")}}),
                                str("c"), false));
  EXPECT_FALSE(updateDictionary(list, dict({}), makeInteger(1), false));
  EXPECT_FALSE(updateDictionary(list, nullptr, str("a"), false));
}

TEST(Store, ArraysOfStringsAreAddressedByPosition) {
  auto strings = array({str("a"), str("b"), str("c")});
  auto tree = dict({{"s", strings}});
  EXPECT_TRUE(setNestedObject(tree, str("B"), "s:1", true));
  EXPECT_EQ(text(strings->objectAtIndex(1)), "B");
  EXPECT_FALSE(setNestedObject(tree, str("x"), "s:5", true));
  EXPECT_FALSE(setNestedObject(tree, str("x"), "s:3", true));
  EXPECT_FALSE(setNestedObject(tree, str("x"), "s:-1", true));
  EXPECT_TRUE(setNestedObject(tree, str("A"), "s:first", true));  // index 0
  EXPECT_EQ(text(strings->objectAtIndex(0)), "A");
  EXPECT_TRUE(setNestedObject(tree, str("C"), "s:2nd", true));
  EXPECT_EQ(text(strings->objectAtIndex(2)), "C");
  EXPECT_TRUE(setNestedObject(tree, nullptr, "s:0", true));
  ASSERT_EQ(strings->count(), 2u);
  EXPECT_EQ(text(strings->objectAtIndex(0)), "B");
  EXPECT_FALSE(setNestedObject(tree, str("x"), "s:99999999999999999999", true));

  // Into a record array only mutable records go, none changes nothing.
  auto records = array({record("r")});
  tree->setObject(records, "r");
  EXPECT_TRUE(setNestedObject(tree, nullptr, "r:r", true));
  EXPECT_TRUE(setNestedObject(tree, str("x"), "r:q", true));
  EXPECT_EQ(records->count(), 1u);
  EXPECT_TRUE(setNestedObject(tree, dict({}), "r:q", true));
  EXPECT_EQ(records->count(), 2u);
}

TEST(Store, BulkUpdateAndRemoval) {
  auto tree = dict({{"d", dict({{"x", str("1")}})},
                    {"list", array({record("a"), record("b"), record("a")})}});
  EXPECT_TRUE(updateWithDictionary(tree, nullptr));
  EXPECT_FALSE(updateWithDictionary(
      tree, dict({{"d:y", str("2")}, {"no:such", str("3")}, {"z", str("4")}})));
  EXPECT_EQ(text(nestedObjectForKey(tree, "d:y")), "2");  // stored before
  EXPECT_EQ(tree->objectForKey("z"), nullptr);            // after: never

  auto list = as<MutableArray>(tree->objectForKey("list"));
  auto lastA = list->objectAtIndex(2);
  removeNestedObjectForKey(tree, "list:a");
  ASSERT_EQ(list->count(), 2u);
  EXPECT_EQ(list->objectAtIndex(1), lastA);
  removeNestedObjectForKey(tree, "d:x");
  EXPECT_EQ(nestedObjectForKey(tree, "d:x"), nullptr);
  removeNestedObjectForKey(tree, "");
  removeNestedObjectForKey(tree, "no:such");
  removeNestedObjectForKey(tree, "d");
  EXPECT_EQ(tree->count(), 1u);

  // A fixed parent is left as it is.
  auto fixedList = std::make_shared<Array>(std::vector<ValueRef>{record("a")});
  tree->setObject(fixedList, "fixed");
  removeNestedObjectForKey(tree, "fixed:a");
  EXPECT_EQ(fixedList->count(), 1u);
  EXPECT_FALSE(setNestedObject(tree, array({record("a", {{"v", str("v")}})}),
                               "fixed", false));

  auto empty = makeMutableDictionary();
  removeNestedObjectForKey(empty, "a");
  EXPECT_EQ(empty->count(), 0u);
}

}  // namespace
}  // namespace steward
