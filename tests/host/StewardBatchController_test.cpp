// The controller's own object, apart from running bundles (tested end to
// end in the sandbox).
#include "host/StewardBatchController.h"

#include <gtest/gtest.h>

namespace steward {
namespace {

TEST(StewardBatchController, AnyRoundTripsThroughTheArchiveAndDescribesItself) {
  StewardBatchController controller;
  EXPECT_EQ(controller.description(), "");
  auto any = makeMutableDictionary();
  any->setObject(makeInteger(7), "n");
  controller.setAny(any);
  std::string data;
  ASSERT_TRUE(controller.encodeWithCoder(&data));
  StewardBatchController restored;
  restored.initWithCoder(data);
  EXPECT_TRUE(isEqual(restored.any(), any));
  restored.setAny(makeString("text"));
  EXPECT_EQ(restored.description(), "text\t\t\n");
  EXPECT_THROW(restored.initWithCoder("not an archive"), std::runtime_error);
}

}  // namespace
}  // namespace steward
