#include "platform/Archiver.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

// Contexts come back as mutable containers all the way down.
TEST(Archiver, UnarchivesMutableContainers) {
  auto context = dictionaryOf({{"settings", dictionaryOf({{"list", arrayOf({makeString("a")})}})}});
  std::string bytes;
  ASSERT_TRUE(archivedDataWithRootObject(context, &bytes));
  EXPECT_EQ(bytes.substr(0, 8), "bplist00");
  auto back = as<MutableDictionary>(unarchiveObjectWithData(bytes));
  ASSERT_TRUE(back);
  EXPECT_TRUE(isEqual(back, context));
  EXPECT_TRUE(as<MutableArray>(as<MutableDictionary>(back->objectForKey("settings"))->objectForKey("list")));
  EXPECT_FALSE(archivedDataWithRootObject(arrayOf({std::make_shared<ForeignValue>("port")}), &bytes));
  EXPECT_THROW(unarchiveObjectWithData("<plist><dict/></plist>"), std::runtime_error);
}

}  // namespace
}  // namespace steward
