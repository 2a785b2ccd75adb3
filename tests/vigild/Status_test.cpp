#include "vigild/Status.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/XmlPropertyList.h"
#include "tests/support/ScratchDirectory.h"

namespace steward::vigild {
namespace {

struct FixedSensors final : SensorSource {
  std::vector<SensorReading> readings;
  std::vector<SensorReading> read() override { return readings; }
};

SensorReading reading(double value, std::optional<double> min, std::optional<double> max,
                      std::optional<double> crit, bool alarm = false, bool critical = false) {
  SensorReading r{"chip-virtual-0", "temperature", "t", value, "°C", min, max, crit};
  r.alarm = alarm || critical;
  r.criticalAlarm = critical;
  return r;
}

TEST(Status, HealthFollowsAlarmsAndLimits) {
  const struct {
    std::vector<SensorReading> readings;
    const char* health;
  } cases[] = {
      {{}, "ok"},
      {{reading(40, 0, 80, 100), reading(1, {}, {}, {})}, "ok"},
      {{reading(40, {}, {}, {}, /*alarm=*/true)}, "warning"},
      {{reading(81, {}, 80, 100)}, "warning"},
      {{reading(-1, 0, {}, {})}, "warning"},
      {{reading(40, {}, {}, 100), reading(100, {}, {}, 100)}, "critical"},
      {{reading(40, {}, {}, {}, false, /*critical=*/true), reading(1, 2, {}, {})}, "critical"},
  };
  for (const auto& c : cases) EXPECT_EQ(healthOf(c.readings), c.health) << &c - cases;
}

// Sensors keep their limits only where the chip has them; supplies keep the
// attributes they have, numbers as numbers.
TEST(Status, DocumentCarriesSensorsAndSupplies) {
  ScratchDirectory sys;
  for (auto [file, text] : {std::pair{"AC/online", "1\n"}, {"AC/type", "Mains\n"},
                            {"BAT0/capacity", "87\n"}, {"BAT0/status", "Charging\n"}}) {
    std::filesystem::create_directories(sys.path(file).substr(0, sys.path(file).rfind('/')));
    sys.write(file, text);
  }
  FixedSensors sensors;
  sensors.readings = {reading(45.5, {}, 80, {}), reading(1.2, {}, {}, {})};
  std::string xml, error;
  ASSERT_TRUE(writeXMLPropertyList(buildStatus(sensors, sys.path(), 1e9), &xml, &error));
  auto status = as<Dictionary>(readXMLPropertyList(xml, Mutability::kImmutable, &error));
  ASSERT_NE(status, nullptr) << error;
  EXPECT_EQ(describe(status->objectForKey("Sensors")),
            describe(readXMLPropertyList(
                "<plist><array><dict><key>chip</key><string>chip-virtual-0</string>"
                "<key>kind</key><string>temperature</string><key>label</key><string>t</string>"
                "<key>value</key><real>45.5</real><key>unit</key><string>°C</string>"
                "<key>max</key><real>80</real><key>alarm</key><false/></dict>"
                "<dict><key>chip</key><string>chip-virtual-0</string>"
                "<key>kind</key><string>temperature</string><key>label</key><string>t</string>"
                "<key>value</key><real>1.2</real><key>unit</key><string>°C</string>"
                "<key>alarm</key><false/></dict></array></plist>",
                Mutability::kImmutable, &error)));
  EXPECT_EQ(describe(status->objectForKey("PowerSupplies")),
            describe(readXMLPropertyList(
                "<plist><array><dict><key>name</key><string>AC</string><key>type</key>"
                "<string>Mains</string><key>online</key><true/></dict><dict><key>name</key>"
                "<string>BAT0</string><key>status</key><string>Charging</string>"
                "<key>capacity</key><integer>87</integer></dict></array></plist>",
                Mutability::kImmutable, &error)));
  EXPECT_EQ(textOf(status->objectForKey("Health")), "ok");
  EXPECT_EQ(as<Date>(status->objectForKey("Time"))->unixTime(), 1e9);
  auto none = buildStatus(sensors, sys.path("none"), 0)->objectForKey("PowerSupplies");
  EXPECT_EQ(as<Array>(none)->count(), 0u);
}

}  // namespace
}  // namespace steward::vigild
