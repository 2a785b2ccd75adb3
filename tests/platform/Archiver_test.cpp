#include "platform/Archiver.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace steward {
namespace {

// What unarchiveObjectWithData threw, or "" when it did not throw.
std::string unarchiveFailure(std::string_view bytes) {
  try {
    unarchiveObjectWithData(bytes);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

TEST(Archiver, RoundTripGivesAnEqualMutableDictionary) {
  auto context = makeMutableDictionary();
  context->setObject(makeBoolean(false), "contextDirty");
  auto settings = makeMutableDictionary();
  auto list = makeMutableArray();
  list->addObject(makeString("a"));
  list->addObject(makeInteger(42));
  settings->setObject(list, "list");
  settings->setObject(makeData(std::string_view("\x00\xFF", 2)), "blob");
  settings->setObject(makeDate(1.5), "when");
  context->setObject(settings, "settings");

  std::string bytes;
  ASSERT_TRUE(archivedDataWithRootObject(context, &bytes));
  EXPECT_EQ(bytes.substr(0, 8), "bplist00");
  ValueRef back = unarchiveObjectWithData(bytes);
  EXPECT_TRUE(isEqual(back, context));
  auto dict = as<MutableDictionary>(back);
  ASSERT_TRUE(dict);
  auto nested = as<MutableDictionary>(dict->objectForKey("settings"));
  ASSERT_TRUE(nested);
  EXPECT_TRUE(as<MutableArray>(nested->objectForKey("list")));
  dict->setObject(makeString("x"), "_user_");  // usable as a context
}

TEST(Archiver, RefusesWhatIsNotAnArchive) {
  EXPECT_EQ(unarchiveFailure("garbage"),
            "not an archive: not a binary property list (bplist00)");
  EXPECT_EQ(unarchiveFailure("<plist><dict/></plist>"),
            "not an archive: not a binary property list (bplist00)");
  std::string bytes;
  ASSERT_TRUE(archivedDataWithRootObject(makeMutableDictionary(), &bytes));
  EXPECT_EQ(unarchiveFailure(bytes.substr(0, bytes.size() - 1)),
            "not an archive: bad integer size in binary property list trailer");

  auto withForeign = makeMutableDictionary();
  withForeign->setObject(std::make_shared<ForeignValue>("port"), "p");
  EXPECT_FALSE(archivedDataWithRootObject(withForeign, &bytes));
}

}  // namespace
}  // namespace steward
