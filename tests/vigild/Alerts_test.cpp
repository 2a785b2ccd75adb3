#include <gtest/gtest.h>
#include <stdlib.h>

#include "tests/support/ValueBuilders.h"
#include "vigild/AlertMail.h"
#include "vigild/AlertTracker.h"
#include "vigild/Outbox.h"

namespace steward::vigild {
namespace {

using std::chrono::seconds;

SensorReading cpu(double value) {
  SensorReading reading;
  reading.chip = "board-isa-0", reading.kind = "temperature", reading.label = "CPU";
  reading.value = value, reading.unit = "°C", reading.max = 80, reading.crit = 100;
  return reading;
}

// One step per poll of a CPU sensor (max 80, crit 100), hold-off 10 s, the
// minimum level warning (W) or critical (C): the mails, "level<was".
TEST(AlertTrackerTest, OneMailPerTransitionAndHoldOffWindow) {
  constexpr Level W = Level::kWarning, C = Level::kCritical;
  struct Step { int at; double value; Level minimum; const char* mail; } steps[] = {
      {0, 50, W, ""}, {1, 90, W, "warning<ok"}, {2, 50, W, ""}, {3, 90, W, ""},  // flapping
      {5, 50, W, ""}, {11, 50, W, "ok<warning"}, {12, 105, W, ""},  // settled at the end
      {21, 105, W, "critical<ok"}, {32, 50, W, "ok<critical"}, {33, 105, W, ""},
      {35, 50, W, ""}, {43, 50, W, ""},  // back where it was reported
      {44, 90, C, ""}, {60, 105, C, "critical<ok"}, {61, -1, C, ""},  // -1: gone, kept
  };
  AlertTracker tracker;
  for (const Step& step : steps) {
    std::vector<SensorReading> readings;
    if (step.value >= 0) readings = {cpu(50), cpu(step.value)};  // same label, two sensors
    std::string mails;
    for (const Alert& alert : tracker.observe(readings, step.minimum, seconds(10),
                                              RunLoopClock::time_point(seconds(step.at))))
      mails += std::string(levelName(alert.level)) + "<" + levelName(alert.was);
    EXPECT_EQ(mails, step.mail) << "at " << step.at;
  }
}

struct FakeTransport : MailTransport {
  void send(const std::string& message, Done done) override {
    sent.push_back(message);
    if (failAtOnce) return done(false, "cannot start");
    pending = std::move(done);
  }
  void finish(bool accepted) { std::exchange(pending, nullptr)(accepted, "exit status 75"); }
  std::vector<std::string> sent;
  Done pending;
  bool failAtOnce = false;
};

class OutboxTest : public testing::Test {
 protected:
  FakeTransport transport_;
  RunLoopClock::time_point now_;
  std::vector<std::string> log_;
  Outbox outbox_{transport_, [this] { return now_; },
                 [this](int, const std::string& text) { log_.push_back(text); }, 3};
};

TEST_F(OutboxTest, FailedSendsAreRetriedWithDoublingBackOffInOrder) {
  outbox_.setRetryInterval(seconds(2));
  outbox_.add("alarm", "A"), outbox_.add("clear", "C");
  for (int wait : {2, 4, 8}) {
    transport_.finish(false);
    now_ += seconds(wait) - std::chrono::milliseconds(1);
    outbox_.service();
    EXPECT_FALSE(transport_.pending);  // not yet due
    now_ += std::chrono::milliseconds(1);
    outbox_.service();
  }
  transport_.finish(true), transport_.finish(true);
  EXPECT_EQ(transport_.sent, (std::vector<std::string>{"A", "A", "A", "A", "C"}));
  EXPECT_EQ(log_.back(), "cannot send \"alarm\": exit status 75; trying again in 8 s");
}

// A full queue drops the oldest mail that is not being sent; a send that
// fails before it starts is retried like any other.
TEST_F(OutboxTest, OverflowDropsTheOldestWaitingMail) {
  for (const char* subject : {"1", "2", "3", "4"}) outbox_.add(subject, subject);
  EXPECT_EQ(log_, std::vector<std::string>{"mail queue full: dropped \"2\""});
  transport_.failAtOnce = true, transport_.finish(true);
  EXPECT_EQ(transport_.sent, (std::vector<std::string>{"1", "3"}));
  EXPECT_EQ(log_.back(), "cannot send \"3\": cannot start; trying again in 60 s");
}

TEST(AlertMailTest, WholeMessageWithBuiltInTexts) {
  setenv("TZ", "UTC", 1), tzset();
  MailSettings settings{.recipients = {"ops@example.org", "Root <root@example.org>"},
                        .sender = "vigild@example.org"};
  AlertMail mail = composeAlertMail(settings, {cpu(91), Level::kWarning, Level::kOk}, "rack7",
                                    1700000000);
  EXPECT_EQ(mail.message,
            "From: vigild@example.org\nTo: ops@example.org, Root <root@example.org>\n"
            "Subject: [vigild] CPU warning on rack7\nDate: Tue, 14 Nov 2023 22:13:20 +0000\n"
            "Auto-Submitted: auto-generated\nMIME-Version: 1.0\n"
            "Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit\n\n"
            "CPU (temperature, board-isa-0) on rack7 is warning, was ok.\n"
            "Value: 91 °C\nLimits: max 80 °C, crit 100 °C\nTime: 2023-11-14 22:13:20 UTC\n");
}

// Texts from "Responses" and "Localizable"; line breaks in a label never
// make a header line; non-ASCII subjects are encoded words.
TEST(AlertMailTest, TemplatesWordsAndHeaderSafety) {
  MailSettings settings{.recipients = {"a@b"}, .subjectPrefix = "",
                        .localizable = {{"ok", "normal"}, {"warning", "Warnung"}},
                        .responses = {{"AlarmSubject", "{sensor}: {level} {unknown}"},
                                      {"ClearSubject", "{sensor} ist {level}"},
                                      {"AlarmBody", "{value} {was}\n"}}};
  SensorReading reading = cpu(91);
  reading.label = "CPU\r\nBcc: evil@example.org";
  AlertMail alarm = composeAlertMail(settings, {reading, Level::kWarning, Level::kOk}, "h", 0);
  EXPECT_EQ(alarm.subject, "CPU  Bcc: evil@example.org: Warnung {unknown}");
  EXPECT_EQ(alarm.message.find("\nBcc"), std::string::npos);
  EXPECT_EQ(alarm.message.substr(alarm.message.find("\n\n")), "\n\n91 °C normal\n");
  reading.label = "Gehäuse";
  AlertMail clear = composeAlertMail(settings, {reading, Level::kOk, Level::kWarning}, "h", 0);
  EXPECT_NE(clear.message.find("\nSubject: =?UTF-8?B?R2Vow6R1c2UgaXN0IG5vcm1hbA==?=\n"),
            std::string::npos);
  EXPECT_EQ(clear.message.substr(clear.message.find("\n\n")), "\n\n91 °C Warnung\n");
}

TEST(SettingsTest, EntriesOfTheWrongKindKeepTheirDefaultsAndAreNamed) {
  std::vector<std::string> problems;
  auto email = dictionaryOf(
      {{"Recipients", arrayOf({makeString(" a@b , c@d"), makeString("e@f\r\nBcc: x")})},
       {"Sender", makeString("x\ny")}, {"MinimumLevel", makeString("critical")},
       {"HoldOff", makeString("5")}, {"Responses", makeString("x")}});
  Settings settings = settingsFrom(
      dictionaryOf({{"PollInterval", makeReal(0.25)}, {"Email", email}}), &problems);
  EXPECT_EQ(settings.pollInterval, std::chrono::milliseconds(250));
  EXPECT_EQ(settings.mail.recipients, (std::vector<std::string>{"a@b", "c@d"}));
  EXPECT_TRUE(settings.mail.enabled && settings.mail.sender.empty() &&
              settings.mail.minimumLevel == Level::kCritical &&
              settings.mail.holdOff == std::chrono::minutes(5));
  EXPECT_EQ(problems, (std::vector<std::string>{
                          "Email:Recipients: an address holding a control character is left out",
                          "Email:Sender: not a one-line string",
                          "Email:HoldOff: not a number of seconds from 0 to 86400",
                          "Email:Responses: not a dictionary"}));
  email->setObject(makeBoolean(false), "Enabled");
  EXPECT_FALSE(settingsFrom(dictionaryOf({{"Email", email}}), &problems).mail.enabled);
}

}  // namespace
}  // namespace steward::vigild
