#include "vigild/ServiceLight.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/DeviceRegistry.h"
#include "tests/support/ScratchDirectory.h"

namespace steward::vigild {
namespace {

namespace fs = std::filesystem;

struct ServiceLightTest : ::testing::Test {
  ServiceLightTest() {
    for (const char* led : {"input0::capslock", "sys::Identify", "uid::LOCATE"})
      fs::create_directories(scratch.path("leds/") + led);
    for (const char* led : {"input0::capslock", "uid::LOCATE"})  // "sys::Identify" has none
      scratch.write("leds/" + std::string(led) + "/brightness", "0\n");
  }
  ScratchDirectory scratch;
  ServiceLight light{scratch.path("registry"), scratch.path("leds")};
};

TEST_F(ServiceLightTest, ChoosesTheConfiguredLedElseOneNamedForTheJob) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "uid::LOCATE"}, {"input0::capslock", "input0::capslock"},
      {"sys::Identify", ""}, {"missing", ""}, {"../leds/uid::LOCATE", ""}};
  for (auto [configured, chosen] : cases) {
    light.choose(configured);
    EXPECT_EQ(light.device(), chosen) << configured;
  }
  fs::remove_all(scratch.path("leds/uid::LOCATE"));
  light.choose("");
  EXPECT_EQ(light.device(), "");
  auto settings = makeMutableDictionary();
  settings->setObject(makeString("x"), "ServiceLED");
  EXPECT_EQ(configuredServiceLight(settings), "x");
  EXPECT_EQ(configuredServiceLight(nullptr), "");
}

// A link planted in the tree is replaced, not followed; the tool's write
// then reaches the LED; without a LED the entry goes.
TEST_F(ServiceLightTest, SetUpLinksTheEntryToTheLedAndFollowsNoPlantedLink) {
  fs::create_directories(scratch.path("registry/IOService"));
  fs::create_directories(scratch.path("elsewhere"));
  fs::create_directory_symlink(scratch.path("elsewhere"), scratch.path("registry/IOService/FrontPanel"));
  light.choose("");
  std::string error;
  ASSERT_TRUE(light.setUp(&error)) << error;
  EXPECT_TRUE(fs::is_empty(scratch.path("elsewhere")));
  std::string entry = "registry/IOService/FrontPanel/OrchardFPButton";
  EXPECT_EQ(fs::read_symlink(scratch.path(entry + "/LED")), scratch.path("leds/uid::LOCATE/brightness"));
  for (const char* dir : {"registry", "registry/IOService", "registry/IOService/FrontPanel"}) {
    struct stat st;
    ASSERT_EQ(lstat(scratch.path(dir).c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode) && (st.st_mode & 07777) == 0755) << dir;
  }
  DeviceRegistry registry(scratch.path("registry"));
  auto button = registry.entryFromPath("IOService:/FrontPanel/OrchardFPButton");
  ASSERT_TRUE(button && button->setProperty("LED", makeInteger(1), &error)) << error;
  EXPECT_EQ(scratch.read("leds/uid::LOCATE/brightness"), "1\n");

  light.choose("missing");
  ASSERT_TRUE(light.setUp(&error)) << error;
  EXPECT_FALSE(fs::exists(fs::symlink_status(scratch.path(entry))));
}

}  // namespace
}  // namespace steward::vigild
