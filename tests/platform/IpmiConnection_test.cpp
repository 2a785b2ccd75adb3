#include "platform/IpmiConnection.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/PropertyList.h"
#include "tests/support/ScratchDirectory.h"

namespace steward {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Get Device ID replies: BCD firmware minor, IPMI version nibbles swapped,
// 20-bit manufacturer; a refusal or a short reply is nothing.
TEST(IpmiReplies, DeviceIdDecodesOrRefuses) {
  Bytes full = {0, 0x20, 0x83, 0x89, 0x42, 0x51, 0x9f, 0x91, 0x12, 0xf1, 0x02, 0x0f};
  auto info = parseIpmiDeviceId(full);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->deviceId, 0x20u);
  EXPECT_EQ(info->deviceRevision, 3u);
  EXPECT_EQ(info->firmwareVersion, "9.42");
  EXPECT_EQ(info->ipmiVersion, "1.5");
  EXPECT_EQ(info->manufacturerId, 0x11291u);
  EXPECT_EQ(info->productId, 0x0f02);
  Bytes refused = full;
  refused[0] = 0xc1;
  EXPECT_FALSE(parseIpmiDeviceId(refused));
  EXPECT_FALSE(parseIpmiDeviceId(Bytes(full.begin(), full.end() - 1)));
}

TEST(IpmiReplies, ChassisStatusReportsIdentifyOnlyWhenSupported) {
  struct Case {
    Bytes reply;
    std::optional<bool> power, identify;
  } cases[] = {
      {{0, 1, 0, 0x40}, true, false},  // supported, off
      {{0, 0, 0, 0x50}, false, true},  // on for a while
      {{0, 1, 0, 0x60}, true, true},   // on until told otherwise
      {{0, 1, 0, 0x20}, true, std::nullopt},  // state bits without support
      {{0, 1, 0}, std::nullopt, std::nullopt},
      {{0xff, 1, 0, 0x40}, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    auto status = parseIpmiChassisStatus(c.reply);
    ASSERT_EQ(status.has_value(), c.power.has_value());
    if (!status) continue;
    EXPECT_EQ(status->powerOn, *c.power);
    EXPECT_EQ(status->identifyOn, c.identify);
  }
}

TEST(IpmiReplies, LanAddressesLeaveUnsetOnesOut) {
  struct Case {
    Bytes reply;
    bool mac;
    std::optional<std::string> text;
  } cases[] = {
      {{0, 0x11, 192, 168, 0, 7}, false, "192.168.0.7"},
      {{0, 0x11, 0, 0x1b, 0x21, 0xa, 0xbc, 0xff}, true, "00:1b:21:0a:bc:ff"},
      {{0, 0x11, 0, 0, 0, 0}, false, std::nullopt},
      {{0, 0x11, 0, 0x1b, 0x21, 0xa, 0xbc}, true, std::nullopt},
      {{0x80, 0x11, 10, 0, 0, 1}, false, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(parseIpmiLanAddress(c.reply, c.mac), c.text);
}

// The settings' "IPMI" entry: out-of-band with a readable password file,
// else in-band where the device is; anything unusable is refused.
TEST(IpmiSettings, ChooseTheConnectionOrSayWhyNot) {
  ScratchDirectory root;
  root.write("pass", "s3cret\nignored\n");
  struct Case {
    std::string entry;
    bool device;
    std::string address, error;
  } cases[] = {
      {"<key>Host</key><string>bmc1</string><key>Port</key><integer>6230</integer>"
       "<key>User</key><string>ops</string><key>PasswordFile</key><string>/pass</string>"
       "<key>Workarounds</key><array><string>opensesspriv</string><string>sun20</string></array>",
       false, "bmc1:6230", ""},
      {"<key>Host</key><string>bmc1</string>", false, "bmc1", ""},
      {"", true, "/dev/ipmi0", ""},
      {"", false, "", ""},
      {"<key>Host</key><string>b</string><key>Port</key><integer>0</integer>", false, "",
       "IPMI Port is not a port number"},
      {"<key>Host</key><string>b</string><key>Timeout</key><integer>61</integer>", false, "",
       "IPMI Timeout is not 1 to 60 seconds"},
      {"<key>Host</key><string>b</string><key>PasswordFile</key><string>/none</string>", false,
       "", "cannot read the IPMI password file /none"},
      {"<key>Host</key><string>b</string><key>Workarounds</key><array><string>x</string></array>",
       false, "", "unknown IPMI workaround x"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(root.path("dev"));
    if (c.device) {
      std::filesystem::create_directory(root.path("dev"));
      root.write("dev/ipmi0", "");
    }
    std::string error;
    auto settings = propertyListFromData("<plist><dict><key>IPMI</key><dict>" + c.entry +
                                             "</dict></dict></plist>",
                                         Mutability::kImmutable, nullptr, &error);
    auto target = ipmiTargetFromSettings(settings, root.path(), &error);
    EXPECT_EQ(target ? target->address() : "", c.address) << c.entry;
    EXPECT_EQ(error, c.error) << c.entry;
    if (target && !target->inBand() && c.entry.find("ops") != std::string::npos) {
      EXPECT_EQ(target->user, "ops");
      EXPECT_EQ(target->password, "s3cret");
      EXPECT_EQ(target->workaroundFlags, *ipmiWorkaroundFlag("opensesspriv") |
                                             *ipmiWorkaroundFlag("sun20"));
    }
  }
}

}  // namespace
}  // namespace steward
