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
}

TEST(Archiver, RefusesWhatIsNotAnArchive) {
  std::string archive;
  ASSERT_TRUE(archivedDataWithRootObject(makeMutableDictionary(), &archive));
  const std::pair<std::string, std::string> cases[] = {
      {"<plist><dict/></plist>", "not an archive: not a binary property list (bplist00)"},
      {archive.substr(0, archive.size() - 1), "not an archive: bad integer size in binary property list trailer"}};
  for (const auto& [bytes, reason] : cases) {
    try {
      unarchiveObjectWithData(bytes);
      ADD_FAILURE() << "no exception for " << bytes;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), reason);
    }
  }
}

}  // namespace
}  // namespace steward
