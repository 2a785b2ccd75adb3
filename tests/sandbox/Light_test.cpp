// The identify light's lease and the test mail end to end: the real vigild
// on fake LEDs in one sandbox, the tool in others beside it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "tests/sandbox/Sandbox.h"

namespace steward::sandbox {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

const std::string kEntry = "/var/lib/stewardd/registry/IOService/FrontPanel/OrchardFPButton/";
const std::string kLed = "/sys/class/leds/front::service/brightness";

class LightTest : public testing::Test {
 protected:
  LightTest() {
    sandbox_.writeFile(kLed, "0\n");
    sandbox_.writeFile("/usr/sbin/sendmail",
                       "#!/bin/sh\nif [ -e /steward/record/fail ]; then exit 75; fi\n"
                       "cat >>/steward/record/mail\n", 0755);
    auto email = dictionaryOf({{"Recipients", makeString("a@example.org")}});
    settings_ = dictionaryOf({{"ServiceLED", makeString("front::service")}, {"Email", email}});
    sandbox_.writeFile("/etc/vigild.conf", xmlOf(settings_));
  }
  void startDaemon() {
    fs::remove(sandbox_.hostPath("/run/vigildPort"));
    daemon_ = sandbox_.start({.shell = "exec vigild", .fakeHardware = true});
    waitFor([&] { return fs::exists(sandbox_.hostPath("/run/vigildPort")); }, "port");
  }
  DictionaryRef ask(const std::string& command, const std::string& more,
                    const char* user = "alice") {
    RunResult result = sandbox_.run({.input = request(command, more),
                                     .environment = {{"REMOTE_USER", user}}, .fakeHardware = true});
    auto reply = as<Dictionary>(parsed(result.output));
    EXPECT_NE(reply, nullptr) << result.output;
    return reply ? reply : makeMutableDictionary();
  }
  static void waitFor(const std::function<bool()>& condition, const std::string& what) {
    for (int pass = 0; pass < 400 && !condition(); ++pass)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(condition()) << "no " << what;
  }
  DictionaryRef light() {
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // past the status cache
    auto shown = as<Dictionary>(ask("status", "")->objectForKey("ServiceLight"));
    return shown ? shown : makeMutableDictionary();
  }

  Sandbox sandbox_;
  MutableDictionaryRef settings_;
  std::unique_ptr<SandboxProcess> daemon_;
};

// A lease shows in the status until the light is switched on without one;
// a short one ends with the light; lit again meanwhile, the light stays.
TEST_F(LightTest, LeaseShowsInStatusAndEndsWithTheLightUnlessLitAgain) {
  startDaemon();
  auto reply = ask("serviceid", "<key>state</key><true/><key>seconds</key><integer>600</integer>"
                                "<key>reason</key><string>rack 4, slot 2</string>");
  auto verified = dictionaryOf({{"Requested", makeBoolean(true)}, {"Observed", makeBoolean(true)},
                                {"Previous", makeBoolean(false)}, {"Agree", makeBoolean(true)}});
  EXPECT_TRUE(isEqual(reply->objectForKey("Verified"), verified));
  auto shown = light();
  EXPECT_EQ(textOf(shown->objectForKey("Owner")), "alice");
  EXPECT_EQ(textOf(shown->objectForKey("Reason")), "rack 4, slot 2");
  auto left = as<Integer>(shown->objectForKey("SecondsLeft"));
  EXPECT_TRUE(left && left->value() > 500 && left->value() <= 601);
  ask("serviceid", "<key>state</key><true/>");
  EXPECT_FALSE(fs::exists(sandbox_.hostPath(kEntry + "LEDLease")));
  EXPECT_EQ(light()->objectForKey("Owner"), nullptr);
  ask("serviceid", "<key>state</key><true/><key>seconds</key><integer>1</integer>");
  waitFor([&] { return sandbox_.readFile(kLed) == "0\n"; }, "light off at the deadline");
  EXPECT_FALSE(fs::exists(sandbox_.hostPath(kEntry + "LEDLease")));
  ask("serviceid", "<key>state</key><true/><key>seconds</key><integer>1</integer>");
  ask("serviceid", "<key>state</key><true/>");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(sandbox_.readFile(kLed), "1\n");
}

TEST_F(LightTest, DeadlinePassedWhileDaemonWasDownEndsAtStart) {
  startDaemon();
  daemon_.reset();
  ask("serviceid", "<key>state</key><true/><key>seconds</key><integer>1</integer>");
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  startDaemon();
  waitFor([&] { return sandbox_.readFile(kLed) == "0\n"; }, "light off at start");
  EXPECT_FALSE(fs::exists(sandbox_.hostPath(kEntry + "LEDLease")));
}

// Nonsense is refused and changes nothing; a plan, for anyone, neither.
TEST_F(LightTest, BadLeasesAreRefusedAndPlansChangeNothing) {
  startDaemon();
  const char* refused[] = {
      "<key>state</key><true/><key>seconds</key><integer>0</integer>",
      "<key>state</key><true/><key>seconds</key><integer>604801</integer>",
      "<key>state</key><true/><key>seconds</key><string>5</string>",
      "<key>state</key><true/><key>seconds</key><real>1.5</real>",
      "<key>state</key><false/><key>seconds</key><integer>5</integer>",
      "<key>state</key><true/><key>reason</key><string>why</string>",
      "<key>state</key><true/><key>seconds</key><integer>5</integer>"
      "<key>reason</key><string>a&#10;b</string>",
      "<key>state</key><true/><key>dryRun</key><string>true</string>",  // meant as a plan
  };
  for (const char* more : refused) {
    auto reply = ask("serviceid", more);
    EXPECT_TRUE(isEqual(reply->objectForKey("OSStatus"), makeInteger(-50)) && reply->count() == 2)
        << more;
  }
  auto plan = as<Dictionary>(ask("serviceid", "<key>state</key><true/><key>dryRun</key><true/>"
                                              "<key>seconds</key><integer>60</integer>", "carol")
                                     ->objectForKey("Plan"));
  ASSERT_NE(plan, nullptr);
  EXPECT_TRUE(isEqual(plan->objectForKey("Allowed"), makeBoolean(true)));
  auto changes = as<Array>(plan->objectForKey("Changes"));
  ASSERT_TRUE(changes && changes->count() == 2);
  auto led = as<Dictionary>(changes->objectAtIndex(0));
  EXPECT_EQ(textOf(led->objectForKey("Old")) + textOf(led->objectForKey("New")), "01");
  EXPECT_EQ(sandbox_.readFile(kLed), "0\n");
  EXPECT_FALSE(fs::exists(sandbox_.hostPath(kEntry + "LEDLease")));
}

// A test alone tries the settings in force; with new ones, those; the
// verdict is the mail system's. No password reaches the status.
TEST_F(LightTest, TestMailTellsTheMailSystemsVerdictAndStatusHidesPasswords) {
  startDaemon();
  auto verdict = [&](const std::string& more) {
    return ask("email", "<key>test</key><true/>" + more)->objectForKey("TestMail");
  };
  EXPECT_TRUE(isEqual(verdict(""), dictionaryOf({{"Accepted", makeBoolean(true)}})));
  EXPECT_THAT(sandbox_.readFile("/steward/record/mail"), HasSubstr("To: a@example.org\n"));
  auto email = dictionaryOf({{"Recipients", makeString("b@example.org")},
                             {"SMTPPassword", makeString("s3cret")},
                             {"Relay", dictionaryOf({{"password", makeString("s3cret")}})}});
  auto before = settings_->mutableCopy();
  settings_->setObject(email, "Email");
  std::string plist = xmlOf(settings_);
  std::size_t from = plist.find("<dict>");
  std::string more = "<key>email</key>" + plist.substr(from, plist.rfind("</plist>") - from);
  // A plan sends nothing, writes nothing and shows no password.
  auto plan = ask("email", "<key>test</key><true/><key>dryRun</key><true/>" + more, "carol");
  auto planned = dictionaryOf(
      {{"Recipients", makeString("b@example.org")}, {"Relay", makeMutableDictionary()}});
  auto change = dictionaryOf({{"Target", makeString("/etc/vigild.conf")}, {"Old", before},
      {"New", dictionaryOf({{"ServiceLED", makeString("front::service")}, {"Email", planned}})}});
  auto sendmail = arrayOf({makeString("/usr/sbin/sendmail"), makeString("-t"), makeString("-i")});
  EXPECT_TRUE(isEqual(plan->objectForKey("Plan"),
                      dictionaryOf({{"Allowed", makeBoolean(true)}, {"Run", arrayOf({sendmail})},
                                    {"Changes", arrayOf({change})}})));
  EXPECT_TRUE(isEqual(parsed(sandbox_.readFile("/etc/vigild.conf")), before));
  EXPECT_THAT(sandbox_.readFile("/steward/record/mail"), testing::Not(HasSubstr("b@example.org")));
  EXPECT_TRUE(isEqual(verdict(more), dictionaryOf({{"Accepted", makeBoolean(true)}})));
  EXPECT_THAT(sandbox_.readFile("/steward/record/mail"), HasSubstr("To: b@example.org\n"));
  // The file read back is the one asked for, told by its digest.
  auto verified = as<Dictionary>(
      ask("email", "<key>requestId</key><string>v1</string>" + more)->objectForKey("Verified"));
  ASSERT_NE(verified, nullptr);
  EXPECT_TRUE(isEqual(verified->objectForKey("Agree"), makeBoolean(true)));
  EXPECT_EQ(textOf(verified->objectForKey("Observed")).size(), 64u);
  sandbox_.writeFile("/steward/record/fail", "");
  auto refused = as<Dictionary>(verdict(""));
  ASSERT_TRUE(refused && isEqual(refused->objectForKey("Accepted"), makeBoolean(false)));
  EXPECT_THAT(textOf(refused->objectForKey("Error")), HasSubstr("exit status 75"));
  EXPECT_TRUE(isEqual(ask("status", "")->objectForKey("Email"), planned));
  EXPECT_THAT(sandbox_.readFile("/etc/vigild.conf"), HasSubstr("s3cret"));
}

}  // namespace
}  // namespace steward::sandbox
