#include "vigild/ServiceLight.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/DeviceRegistry.h"
#include "tests/support/ScratchDirectory.h"

namespace steward::vigild {
namespace {

namespace fs = std::filesystem;

// The LED is the configured one, else one named for the job ("sys::Identify"
// has no brightness, so it is none). A link planted in the registry tree is
// replaced, not followed; the tool's write reaches the LED; without a LED
// the entry goes.
TEST(ServiceLight, ChoosesTheLedAndLinksTheEntryToItFollowingNoPlantedLink) {
  ScratchDirectory scratch;
  for (const char* led : {"input0::capslock", "sys::Identify", "uid::LOCATE"})
    fs::create_directories(scratch.path("leds/") + led);
  for (std::string led : {"input0::capslock", "uid::LOCATE"})
    scratch.write("leds/" + led + "/brightness", "0\n");
  fs::create_directories(scratch.path("registry/IOService"));
  fs::create_directories(scratch.path("elsewhere"));
  fs::create_directory_symlink(scratch.path("elsewhere"),
                               scratch.path("registry/IOService/FrontPanel"));
  ServiceLight light(scratch.path("registry"), scratch.path("leds"));
  std::string error;
  for (auto [configured, chosen] :
       {std::pair{"sys::Identify", ""}, {"none", ""}, {"input0::capslock", "input0::capslock"},
        {"", "uid::LOCATE"}}) {
    light.choose(configured);
    EXPECT_EQ(light.device(), chosen) << configured;
    ASSERT_TRUE(light.setUp(&error)) << error;
    auto button = DeviceRegistry(scratch.path("registry")).entryFromPath(
        "IOService:/FrontPanel/OrchardFPButton");
    EXPECT_EQ(button.has_value(), light.device() != "") << configured;
    EXPECT_TRUE(!button || button->setProperty("LED", makeInteger(1), &error)) << error;
  }
  EXPECT_EQ(scratch.read("leds/uid::LOCATE/brightness"), "1\n");
  EXPECT_TRUE(fs::is_empty(scratch.path("elsewhere")));
  auto tree = fs::symlink_status(scratch.path("registry/IOService/FrontPanel"));
  EXPECT_EQ(tree.type(), fs::file_type::directory);
  EXPECT_EQ(tree.permissions(), fs::perms(0755));
}

}  // namespace
}  // namespace steward::vigild
