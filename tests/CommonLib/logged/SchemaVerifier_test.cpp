#include "CommonLib/SchemaVerifier.h"

#include <gtest/gtest.h>

#include "tests/support/ScratchDirectory.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

// name: string, port: number, tags: array of strings, owner: {uid: number}
DictionaryRef serviceTemplate() {
  return dictionaryOf({{"name", makeString("")}, {"port", makeInteger(0)},
                       {"tags", arrayOf({makeString("")})},
                       {"owner", dictionaryOf({{"uid", makeInteger(0)}})}});
}

// Missing and extra keys are fine, a boolean is a number. A wrong kind fails,
// also deep inside, and is logged; keys go in the template's order.
TEST(SchemaVerifier, RecordsVerifyByKindKeyByKey) {
  LogCapture capture;
  const std::pair<DictionaryRef, bool> cases[] = {
      {dictionaryOf({{"port", makeBoolean(true)}, {"extra", makeData("x")},
                     {"tags", makeMutableArray()}, {"owner", dictionaryOf({})}}), true},
      {dictionaryOf({{"port", makeString("80")}}), false},
      {dictionaryOf({{"tags", arrayOf({makeString("a"), makeInteger(2)})}}), false},
      {dictionaryOf({{"owner", dictionaryOf({{"uid", makeReal(1.5)}, {"x", makeString("")}})},
                     {"name", makeInteger(3)}}), false}};
  for (const auto& [record, verifies] : cases)
    EXPECT_EQ(SchemaVerifier::verifyDictRecord(record, serviceTemplate()), verifies);
  const std::string integer = "Object does not match schema. Class is Integer. Expected String.\n";
  EXPECT_EQ(capture.texts(), std::vector<std::string>({
      "Object does not match schema. Class is String. Expected Integer.\n", integer, integer}));
  EXPECT_EQ(capture.lines().at(0).priority, 14);
  // An array template holds exactly one element; a broken one fails the
  // check instead of stopping the process.
  EXPECT_TRUE(SchemaVerifier::verifyArrayRecord(arrayOf({makeInteger(1), makeReal(2)}),
                                                arrayOf({makeInteger(0)})));
  EXPECT_FALSE(SchemaVerifier::verifyArrayRecord(arrayOf({}), arrayOf({})));
  EXPECT_FALSE(SchemaVerifier::verifyArrayRecord(
      arrayOf({}), arrayOf({makeInteger(0), makeInteger(0)})));
}

TEST(SchemaVerifier, FilteringKeepsOrderDropsNonRecordsAndReportsFailures) {
  DictionaryRef good1 = dictionaryOf({{"name", makeString("a")}});
  DictionaryRef bad = dictionaryOf({{"port", makeString("x")}});
  DictionaryRef good2 = dictionaryOf({{"port", makeInteger(2)}});
  ArrayRef records = arrayOf({good1, makeString("not a record"), bad, good2});
  ArrayRef failures;
  MutableArrayRef kept = SchemaVerifier::removeBadRecords(records, serviceTemplate(), &failures);
  EXPECT_EQ(kept->objects(), std::vector<ValueRef>({good1, good2}));
  EXPECT_TRUE(isEqual(failures, arrayOf({bad})));

  failures = makeMutableArray();
  kept = SchemaVerifier::removeBadRecords(arrayOf({good1}), serviceTemplate(), &failures);
  EXPECT_FALSE(failures);
}

// A failed case shows its four values; the run ends at an incomplete case.
TEST(SchemaVerifier, TestRunnerReportsAFailedCase) {
  ScratchDirectory dir;
  ValueRef input = arrayOf({dictionaryOf({{"port", makeInteger(1)}})});
  const std::pair<const char*, ValueRef> files[] = {
      {"in.1", input}, {"template.1", serviceTemplate()}, {"out.1", arrayOf({})}, {"in.2", input}};
  for (const auto& [name, value] : files) dir.write(name + std::string(".plist"), xmlOf(value));
  testing::internal::CaptureStdout();
  SchemaVerifier::testFromPath(dir.path() + "/");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "=#=#=#=#=#=#=#=#=#=Test 1 FAILED=#=#=#=#=#=#=#=#=#=\n"
            "Input    was " + describe(input) + "\n\n"
            "Template Was " + describe(serviceTemplate()) + "\n\n"
            "Output   Was " + describe(input) + "\n\n"
            "Expected     " + describe(arrayOf({})) + "\n\n");
}

}  // namespace
}  // namespace steward
