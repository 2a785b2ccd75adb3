#include "vigild/ManagementController.h"

#include <syslog.h>

#include <filesystem>

namespace steward::vigild {
namespace {

SensorReading readingOf(const IpmiSensor& sensor) {
  SensorReading reading;
  reading.chip = ManagementController::kChip;
  reading.kind = sensor.kind;
  reading.label = sensor.name;
  reading.value = sensor.value.value_or(0);
  reading.unit = sensor.unit;
  reading.alarm = sensor.warning || sensor.critical;
  reading.criticalAlarm = sensor.critical;
  return reading;
}

}  // namespace

ManagementController::ManagementController(IpmiTarget target, std::string cacheDirectory,
                                           std::chrono::milliseconds pollInterval)
    : connection_(std::move(target)),
      cacheDirectory_(std::move(cacheDirectory)),
      pollInterval_(pollInterval) {}

ManagementController::~ManagementController() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void ManagementController::poll() {
  std::error_code ignored;
  std::filesystem::create_directories(cacheDirectory_, ignored);
  std::filesystem::permissions(cacheDirectory_, std::filesystem::perms::owner_all, ignored);
  std::string error;
  std::vector<IpmiSensor> sensors;
  bool read = connection_.readSensors(cacheDirectory_, &sensors, &error);
  std::optional<IpmiChassisStatus> chassis;
  if (read) chassis = connection_.chassisStatus(&error);
  std::lock_guard lock(mutex_);
  if (!(read && chassis) && error != error_)
    syslog(LOG_WARNING, "management controller: %s", error.c_str());
  answered_ = read && chassis;
  error_ = answered_ ? "" : error;
  readings_.clear();
  for (const IpmiSensor& sensor : sensors) readings_.push_back(readingOf(sensor));
  identifyReadBack_ = chassis ? chassis->identifyOn : std::nullopt;
}

void ManagementController::start() { worker_ = std::thread([this] { run(); }); }

void ManagementController::run() {
  auto nextPoll = std::chrono::steady_clock::now();
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (pendingIdentify_) {
      bool on = *pendingIdentify_;
      pendingIdentify_.reset();
      lock.unlock();
      applyIdentify(on);
      nextPoll = std::chrono::steady_clock::now();  // read the light back
      lock.lock();
    } else if (std::chrono::steady_clock::now() >= nextPoll) {
      lock.unlock();
      poll();
      nextPoll = std::chrono::steady_clock::now() + pollInterval_;
      lock.lock();
    } else {
      wake_.wait_until(lock, nextPoll);
    }
  }
}

void ManagementController::applyIdentify(bool on) {
  std::string error;
  bool applied = connection_.setIdentify(on, &error);
  if (!applied) syslog(LOG_WARNING, "management controller identify: %s", error.c_str());
  std::lock_guard lock(mutex_);
  if (applied) identifyApplied_ = on;
}

std::vector<SensorReading> ManagementController::read() {
  std::lock_guard lock(mutex_);
  return readings_;
}

void ManagementController::requestIdentify(bool on) {
  {
    std::lock_guard lock(mutex_);
    pendingIdentify_ = on;
  }
  wake_.notify_all();
}

MutableDictionaryRef ManagementController::lightStatus() {
  std::lock_guard lock(mutex_);
  auto entry = makeMutableDictionary();
  entry->setObject(makeBoolean(answered_), "Available");
  entry->setObject(makeBoolean(identifyReadBack_.value_or(identifyApplied_.value_or(false))), "On");
  entry->setObject(makeBoolean(identifyReadBack_.has_value()), "Confirmed");
  entry->setObject(makeString(kChip), "Device");
  return entry;
}

MutableDictionaryRef ManagementController::status() {
  std::lock_guard lock(mutex_);
  auto entry = makeMutableDictionary();
  entry->setObject(makeString(connection_.target().address()), "Address");
  entry->setObject(makeBoolean(answered_), "Available");
  if (!error_.empty()) entry->setObject(makeString(error_), "Error");
  return entry;
}

}  // namespace steward::vigild
