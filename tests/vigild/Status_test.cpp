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

// Supplies keep the attributes they have, numbers as numbers (sensor
// entries are checked end to end in the sandbox).
TEST(Status, DocumentCarriesSuppliesTimeAndHealth) {
  ScratchDirectory sys;
  for (const char* supply : {"AC", "BAT0"}) std::filesystem::create_directory(sys.path(supply));
  for (auto [file, text] : {std::pair{"AC/online", "1\n"}, {"AC/type", "Mains\n"},
                            {"BAT0/capacity", "87\n"}, {"BAT0/status", "Charging\n"}})
    sys.write(file, text);
  FixedSensors sensors;
  sensors.readings = {reading(81, {}, 80, {})};
  auto status = buildStatus(sensors, sys.path(), ServiceLight("", ""), 1e9);
  std::string error;
  EXPECT_TRUE(isEqual(status->objectForKey("PowerSupplies"),
                      readXMLPropertyList(
                          "<plist><array><dict><key>name</key><string>AC</string><key>type</key>"
                          "<string>Mains</string><key>online</key><true/></dict><dict><key>name"
                          "</key><string>BAT0</string><key>status</key><string>Charging</string>"
                          "<key>capacity</key><integer>87</integer></dict></array></plist>",
                          Mutability::kImmutable, &error)));
  EXPECT_EQ(textOf(status->objectForKey("Health")), "warning");
  EXPECT_EQ(as<Date>(status->objectForKey("Time"))->unixTime(), 1e9);
  EXPECT_EQ(as<Array>(status->objectForKey("Sensors"))->count(), 1u);
  EXPECT_EQ(readPowerSupplies(sys.path("none"))->count(), 0u);
}

}  // namespace
}  // namespace steward::vigild
