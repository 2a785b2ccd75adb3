// The real vigild mailing alarms from a fake hwmon tree through a recording
// sendmail, and once through msmtp to an SMTP sink on the sandbox's loopback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "tests/sandbox/Sandbox.h"

namespace steward::sandbox {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

constexpr const char* kRecordingSendmail =
    "#!/bin/sh\necho \"$@\" >>/steward/record/attempts\n"
    "if [ -e /steward/record/fail ]; then rm /steward/record/fail; exit 75; fi\n"
    "cat >>/steward/record/mail\n";

class AlertsTest : public testing::Test {
 protected:
  AlertsTest() {
    sandbox_.writeFile("/usr/sbin/sendmail", kRecordingSendmail, 0755);
    place("/sys/class/hwmon/hwmon0/name", "board\n");
    for (std::string n : {"1", "2", "3"}) {
      place("/sys/class/hwmon/hwmon0/temp" + n + "_max", "80000\n");
      place("/sys/class/hwmon/hwmon0/temp" + n + "_label", "T" + n + "\n");
      setTemperature(std::stoi(n), 50);
    }
  }

  // Replaced by renaming, so that the daemon never reads half a file.
  void place(const std::string& path, const std::string& contents) {
    sandbox_.writeFile(path + "~", contents);
    fs::rename(sandbox_.hostPath(path + "~"), sandbox_.hostPath(path));
  }
  void setTemperature(int n, int celsius) {
    place("/sys/class/hwmon/hwmon0/temp" + std::to_string(n) + "_input",
          std::to_string(celsius * 1000) + "\n");
  }
  void placeSettings(const char* recipient, double holdOff = 0) {
    auto email = dictionaryOf({{"Recipients", makeString(recipient)},
                               {"HoldOff", makeReal(holdOff)}, {"RetryInterval", makeReal(0.2)}});
    place("/etc/vigild.conf", xmlOf(dictionaryOf({{"PollInterval", makeReal(0.1)}, {"Email", email}})));
  }
  std::vector<std::string> mailLines(const std::string& prefix) {
    std::vector<std::string> lines;
    std::istringstream mail(sandbox_.readFile("/steward/record/mail"));
    for (std::string line; std::getline(mail, line);)
      if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    return lines;
  }
  static void waitFor(const std::function<bool()>& condition, const std::string& what) {
    for (int pass = 0; pass < 400 && !condition(); ++pass)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(condition()) << "no " << what;
  }
  void waitForLog(const std::string& text) {
    waitFor([&] {
      auto lines = sandbox_.logTexts();
      return std::any_of(lines.begin(), lines.end(),
                         [&](auto& line) { return line.find(text) != std::string::npos; });
    }, text);
  }
  void waitForMails(std::size_t n) {
    waitFor([&] { return mailLines("Subject: ").size() >= n; }, std::to_string(n) + " mails");
  }

  Sandbox sandbox_;
};

// Into alarm and back: one mail each way; flapping within the hold-off
// sends nothing until it ends, and then only how the sensor settled.
TEST_F(AlertsTest, OneMailEachWayAndNoneWhileFlapping) {
  placeSettings("ops@example.org", 4);
  auto daemon = sandbox_.start({.shell = "exec vigild", .fakeHardware = true});
  setTemperature(1, 90);
  waitForMails(1);
  for (int celsius : {50, 90, 50}) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    setTemperature(1, celsius);
  }
  waitForMails(2);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_THAT(mailLines("Subject: "),
              testing::ElementsAre(HasSubstr("Subject: [vigild] T1 warning on "),
                                   HasSubstr("Subject: [vigild] T1 back to ok on ")));
}

// Without usable settings the daemon serves and logs but mails nothing; a
// file put in place later is followed, a broken one keeps what was read
// before, and a failed send is tried again.
TEST_F(AlertsTest, SettingsFollowedWhileRunningAndFailedSendsRetried) {
  setTemperature(1, 90);
  sandbox_.writeFile("/etc/vigild.conf", "<plist><dict>");
  auto daemon = sandbox_.start({.shell = "exec vigild", .fakeHardware = true});
  waitForLog("no settings yet: no mail");
  waitForLog("sensor T1 (board-virtual-0): warning, was ok");
  fs::remove(sandbox_.hostPath("/etc/vigild.conf"));
  waitForLog("settings missing: no mail: no recipients");
  placeSettings("ops@example.org");
  waitForLog("settings read: mail to ops@example.org");
  setTemperature(2, 90);
  waitForMails(1);
  place("/etc/vigild.conf", "<plist><dict>");
  waitForLog("keeping the settings read before");
  sandbox_.writeFile("/steward/record/fail", "");
  setTemperature(3, 90);
  waitForMails(2);
  waitForLog("\": /usr/sbin/sendmail failed: exit status 75; trying again in 0.2 s");
  placeSettings("other@example.org");
  waitForLog("settings read: mail to other@example.org");
  setTemperature(2, 50);
  waitForMails(3);
  EXPECT_EQ(mailLines("To: "), (std::vector<std::string>{"To: ops@example.org", "To: ops@example.org",
                                                         "To: other@example.org"}));
  EXPECT_THAT(mailLines("Subject: "), testing::ElementsAre(HasSubstr("T2 warning"),
                                                           HasSubstr("T3 warning"),
                                                           HasSubstr("T2 back to ok")));
  EXPECT_EQ(sandbox_.readFile("/steward/record/attempts"), "-t -i\n-t -i\n-t -i\n-t -i\n");
}

// msmtp, a real sendmail interface, delivers to a sink on 127.0.0.1 inside
// the sandbox's network namespace.
TEST_F(AlertsTest, RealMailClientDeliversOverSmtp) {
  fs::remove(sandbox_.hostPath("/usr/sbin/sendmail"));
  fs::create_symlink("/usr/bin/msmtp", sandbox_.hostPath("/usr/sbin/sendmail"));
  sandbox_.writeFile("/etc/msmtprc", "account default\nhost 127.0.0.1\nport 2525\n"
                                     "from vigild@example.org\n");
  std::ifstream sink(STEWARD_SMTP_SINK);
  sandbox_.writeFile("/tmp/sink.py", std::string(std::istreambuf_iterator<char>(sink), {}));
  placeSettings("ops@example.org");
  setTemperature(1, 90);
  auto daemon = sandbox_.start(
      {.shell = "python3 /tmp/sink.py 2525 /tmp/smtp & "
                "while [ ! -e /tmp/smtp.ready ]; do sleep 0.05; done; vigild",
       .fakeHardware = true});
  waitFor([&] { return sandbox_.readFile("/tmp/smtp").find("QUIT") != std::string::npos; },
          "SMTP session");
  std::string session = sandbox_.readFile("/tmp/smtp");
  EXPECT_THAT(session, HasSubstr("RCPT TO:<ops@example.org>"));
  EXPECT_THAT(session, HasSubstr("Subject: [vigild] T1 warning on "));
  EXPECT_THAT(session, HasSubstr("\r\nValue: 90 °C\r\n"));
}

}  // namespace
}  // namespace steward::sandbox
