#include "platform/IpmiConnection.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/PropertyList.h"
#include "tests/support/ScratchDirectory.h"

namespace steward {
namespace {

// Bit 6 says whether bits 5:4 hold the identify state; refusals and short
// replies are nothing.
TEST(IpmiReplies, ChassisStatusReportsIdentifyOnlyWhenSupported) {
  using Status = std::optional<std::pair<bool, std::optional<bool>>>;
  std::pair<std::vector<std::uint8_t>, Status> cases[] = {
      {{0, 1, 0, 0x40}, {{true, false}}},        {{0, 0, 0, 0x50}, {{false, true}}},
      {{0, 1, 0, 0x60}, {{true, true}}},         {{0, 1, 0, 0x20}, {{true, std::nullopt}}},
      {{0, 1, 0}, std::nullopt},                 {{0xff, 1, 0, 0x40}, std::nullopt}};
  for (const auto& [reply, expected] : cases) {
    auto status = parseIpmiChassisStatus(reply);
    EXPECT_EQ((status ? Status{{status->powerOn, status->identifyOn}} : std::nullopt), expected);
  }
}

// The settings' "IPMI" entry: out-of-band with a readable password file,
// else in-band where the device is; anything unusable is refused.
TEST(IpmiSettings, ChooseTheConnectionOrSayWhyNot) {
  ScratchDirectory root;
  root.write("pass", "s3cret\nignored\n");
  const std::string host = "<key>Host</key><string>b</string>";
  struct Case {
    std::string entry;
    bool device;
    std::string address, error;
  } cases[] = {
      {host + "<key>Port</key><integer>6230</integer><key>PasswordFile</key><string>/pass"
              "</string><key>Workarounds</key><array><string>sun20</string></array>",
       false, "b:6230", ""},
      {"", true, "/dev/ipmi0", ""},
      {"", false, "", ""},
      {host + "<key>Port</key><integer>0</integer>", false, "", "IPMI Port is not a port number"},
      {host + "<key>Timeout</key><integer>61</integer>", false, "",
       "IPMI Timeout is not 1 to 60 seconds"},
      {host + "<key>PasswordFile</key><string>/none</string>", false, "",
       "cannot read the IPMI password file /none"},
      {host + "<key>Workarounds</key><array><string>x</string></array>", false, "",
       "unknown IPMI workaround x"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(root.path("dev"));
    if (c.device) std::filesystem::create_directory(root.path("dev")), root.write("dev/ipmi0", "");
    std::string error;
    auto target = ipmiTargetFromSettings(
        propertyListFromData("<plist><dict><key>IPMI</key><dict>" + c.entry + "</dict></dict></plist>",
                             Mutability::kImmutable, nullptr, &error),
        root.path(), &error);
    EXPECT_EQ(target ? target->address() : "", c.address) << c.entry;
    EXPECT_EQ(error, c.error) << c.entry;
    EXPECT_TRUE(!target || target->port != 6230 ||
                (target->password == "s3cret" && target->workaroundFlags == 8));
  }
}

}  // namespace
}  // namespace steward
