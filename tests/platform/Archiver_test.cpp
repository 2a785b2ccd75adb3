#include "platform/Archiver.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

TEST(Archiver, RoundTripGivesAnEqualMutableDictionary) {
  auto context = dictionaryOf(
      {{"contextDirty", makeBoolean(false)},
       {"settings", dictionaryOf({{"list", arrayOf({makeString("a"), makeInteger(42)})},
                                  {"blob", makeData(std::string_view("\x00\xFF", 2))},
                                  {"when", makeDate(1.5)}})}});
  std::string bytes;
  ASSERT_TRUE(archivedDataWithRootObject(context, &bytes));
  EXPECT_EQ(bytes.substr(0, 8), "bplist00");
  auto back = as<MutableDictionary>(unarchiveObjectWithData(bytes));
  ASSERT_TRUE(back);
  EXPECT_TRUE(isEqual(back, context));
  auto settings = as<MutableDictionary>(back->objectForKey("settings"));
  ASSERT_TRUE(settings);
  EXPECT_TRUE(as<MutableArray>(settings->objectForKey("list")));
  EXPECT_FALSE(archivedDataWithRootObject(dictionaryOf({{"p", std::make_shared<ForeignValue>("port")}}),
                                          &bytes));
}

TEST(Archiver, RefusesWhatIsNotAnArchive) {
  std::string archive;
  ASSERT_TRUE(archivedDataWithRootObject(makeMutableDictionary(), &archive));
  const std::pair<std::string, std::string> cases[] = {
      {"garbage", "not an archive: not a binary property list (bplist00)"},
      {"<plist><dict/></plist>", "not an archive: not a binary property list (bplist00)"},
      {archive.substr(0, archive.size() - 1),
       "not an archive: bad integer size in binary property list trailer"}};
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
