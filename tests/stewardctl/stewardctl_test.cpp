#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "platform/PropertyList.h"
#include "stewardctl/ChangeText.h"
#include "stewardctl/CommandLine.h"
#include "stewardctl/Credentials.h"
#include "stewardctl/JsonWriter.h"
#include "stewardctl/ReplyText.h"
#include "stewardctl/Transport.h"

namespace steward::ctl {
namespace {

ValueRef plist(const std::string& xml) {
  std::string error;
  return propertyListFromData("<plist version=\"1.0\">" + xml + "</plist>",
                              Mutability::kImmutable, nullptr, &error);
}

TEST(JsonTest, KeepsEveryKindApart) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct { ValueRef value; const char* json; } cases[] = {
      {plist("<dict><key>a</key><array><integer>-3</integer><true/></array><key>b</key><dict/></dict>"),
       R"({"a":[-3,true],"b":{}})"},
      {makeString("q\"b\\n\n\x01\xc2\xb0"), R"("q\"b\\n\n\u0001°")"},
      {makeReal(2), "2.0"},
      {makeReal(0.1), "0.1"},
      {makeReal(-1e300), "-1e+300"},
      {makeReal(nan), R"({"$real":"nan"})"},
      {makeReal(-INFINITY), R"({"$real":"-inf"})"},
      {makeData("abcd"), R"({"$data":"YWJjZA=="})"},
      {makeData("ab"), R"({"$data":"YWI="})"},
      {makeData("abc"), R"({"$data":"YWJj"})"},
      {makeDate(0.5), R"({"$date":"2001-01-01T00:00:00Z"})"},
      {nullptr, "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(jsonOf(c.value), c.json);
}

TEST(NetrcTest, FindsTheMachineElseTheDefault) {
  const char* netrc =
      "default login dora password d\n"
      "machine a.test login ann password \"two words\"\n"
      "macdef init\nmachine b.test login mallory password m\n\n"
      "machine b.test account x login bob password b\n"
      "machine a.test login late password l\n";
  const struct { const char* machine; const char* user; const char* password; } cases[] = {
      {"a.test", "ann", "two words"},  // the first entry wins
      {"b.test", "bob", "b"},          // a macro body is no entry
      {"c.test", "dora", "d"},
  };
  for (const auto& c : cases) {
    auto found = netrcLookup(netrc, c.machine);
    ASSERT_TRUE(found) << c.machine;
    EXPECT_EQ(found->user, c.user);
    EXPECT_EQ(found->password, c.password);
  }
  EXPECT_FALSE(netrcLookup("machine a.test login x password y", "b.test"));
}

TEST(RequestTest, EachCommandAsksWhatTheServiceKnows) {
  const std::string settings = "<plist version=\"1.0\"><dict><key>Email</key><dict/></dict></plist>";
  const struct { std::vector<std::string> command; std::string file; const char* json; } cases[] = {
      {{"identify", "on"}, "", R"({"command":"serviceid","state":1})"},
      {{"identify", "off"}, "", R"({"command":"serviceid","state":0})"},
      {{"boot", "get"}, "", R"({"command":"getBootPath"})"},
      {{"boot", "set", "Boot0003"}, "", R"({"command":"setBootPath","bootpath":"Boot0003"})"},
      {{"boot", "set", "PXE", "--once"}, "",
       R"({"command":"setBootPath","bootpath":"PXE","once":true})"},
      {{"boot", "set", "--once", "--once"}, "",
       R"({"command":"setBootPath","bootpath":"--once","once":true})"},
      {{"boot", "clear-once"}, "", R"({"command":"setBootPath","clearOnce":true})"},
      {{"boot", "list"}, "", R"({"command":"getBootPath","list":true})"},
      {{"identify", "on", "--reason", "disk 3", "--for", "600"}, "",
       R"({"command":"serviceid","state":1,"reason":"disk 3","seconds":600})"},
      {{"restart", "--force", "--delay", "0", "--message", "--force"}, "",
       R"({"command":"restart","mode":"force","delay":0,"message":"--force"})"},
      {{"shutdown", "--force-after", "90"}, "", R"({"command":"shutdown","forceAfter":90})"},
      {{"power", "cancel"}, "", R"({"command":"powerSchedule","cancel":true})"},
      {{"email", "test"}, "", R"({"command":"email","test":true})"},
      {{"email", "get"}, "", R"({"command":"status"})"},
      {{"email", "set", "f"}, settings, R"({"command":"email","email":{"Email":{}}})"},
      {{"raw", "f"}, "<plist version=\"1.0\"><dict><key>command</key><string>x</string></dict></plist>",
       R"({"command":"x"})"},
      {{"audit"}, "", R"({"command":"getAuditLog"})"},
      {{"audit", "--since", "2026-02-29"}, "", nullptr},
      {{"audit", "--since", "2024-02-29T23:59:60"}, "", nullptr},
      {{"audit", "--since", "2024-02-29T23:05:09"}, "",
       R"({"command":"getAuditLog","from":{"$date":"2024-02-29T23:05:09Z"}})"},
      {{"audit", "--since", "1999-12-31"}, "",
       R"({"command":"getAuditLog","from":{"$date":"1999-12-31T00:00:00Z"}})"},
      {{"audit", "--since", "1999-12-31 "}, "", nullptr},
  };
  for (const auto& c : cases) {
    std::string error;
    auto request = requestFor(c.command, c.file, &error);
    EXPECT_EQ(jsonOf(request), c.json ? c.json : "null") << error;
  }
  const struct { std::vector<std::string> command; std::string file; const char* error; } refused[] = {
      {{"boot", "set", "a", "b"}, "", "unknown command or wrong arguments"},
      {{"email", "set", "f"}, "<plist version=\"1.0\"><dict><key>Recipients</key><string>a</string></dict></plist>",
       "the file must be the whole settings file"},
      {{"raw", "f"}, "<plist version=\"1.0\"><array/></plist>", "the file's root is not a dictionary"},
      {{"raw", "f"}, "<plist version=\"1.0\"><dict/></plist>", "the request has no \"command\" string"},
      {{"identify", "blink"}, "", "unknown command or wrong arguments: \"identify blink\""},
      {{"status", "now"}, "", "unknown command or wrong arguments"},
      {{"identify", "off", "--for", "5"}, "", "unknown command or wrong arguments"},
      {{"identify", "on", "--delay", "5"}, "", "unexpected \"--delay\""},
      {{"restart", "--delay", "-5"}, "", "--delay takes whole seconds, not \"-5\""},
      {{"restart", "--delay", "1.5"}, "", "--delay takes whole seconds"},
      {{"shutdown", "--force", "--force"}, "", "--force given twice"},
      {{"restart", "--message"}, "", "--message needs a value"},
  };
  for (const auto& c : refused) {
    std::string error;
    EXPECT_FALSE(requestFor(c.command, c.file, &error));
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
  }
}

// Only changes the service recognises when repeated carry an id.
TEST(RequestIdTest, OnChangesOnly) {
  const struct { std::vector<std::string> command; bool dryRun; bool carries; } cases[] = {
      {{"restart", "--delay", "5"}, false, true}, {{"boot", "clear-once"}, false, true},
      {{"identify", "off"}, false, true},         {{"restart"}, true, false},
      {{"power", "cancel"}, false, false},        {{"status"}, false, false},
  };
  for (const auto& c : cases) {
    std::string error;
    auto request = requestFor(c.command, "", &error)->mutableCopy();
    if (c.dryRun) request->setObject(makeBoolean(true), "dryRun");
    auto sent = withRequestId(request, "r1");
    EXPECT_EQ(sent->objectForKey("requestId") != nullptr, c.carries) << c.command[0];
  }
}

TEST(CommandLineTest, OptionsAndTheirMistakes) {
  const char* good[] = {"stewardctl", "-H", "a", "--timeout", "2.5", "-H", "a", "-H", "b:8443",
                        "--json", "boot", "set", "--yes", "--", "--x"};
  Options options;
  std::string error;
  ASSERT_TRUE(parseCommandLine(15, good, &options, &error)) << error;
  EXPECT_EQ(options.hosts, (std::vector<std::string>{"a", "b:8443"}));
  EXPECT_EQ(options.timeout, 2.5);
  EXPECT_TRUE(options.yes);
  EXPECT_EQ(options.command, (std::vector<std::string>{"boot", "set", "--x"}));
  const struct { std::vector<const char*> argv; const char* error; } bad[] = {
      {{"stewardctl", "--parallel", "0", "status"}, "--parallel takes a number, not \"0\""},
      {{"stewardctl", "--timeout", "5s", "status"}, "--timeout takes a number, not \"5s\""},
      {{"stewardctl", "--password", "x", "status"}, "unknown option --password"},
      {{"stewardctl", "-H"}, "-H needs a value"},
      {{"stewardctl", "--json"}, "no command"},
  };
  for (const auto& c : bad) {
    Options ignored;
    EXPECT_FALSE(parseCommandLine(static_cast<int>(c.argv.size()), c.argv.data(), &ignored, &error));
    EXPECT_EQ(error, c.error);
  }
}

TEST(HostTest, SplitsHostAndPort) {
  const struct { const char* text; bool ok; const char* host; int port; } cases[] = {
      {"a.test", true, "a.test", 443}, {"a.test:8443", true, "a.test", 8443},
      {"[fe80::1]:444", true, "fe80::1", 444}, {"fe80::1", true, "fe80::1", 443},
      {"a.test:0", false, "", 0}, {"a.test:", false, "", 0}, {":443", false, "", 0},
      {"[fe80::1", false, "", 0}, {"a.test:99999", false, "", 0},
  };
  for (const auto& c : cases) {
    std::string host;
    int port = 0;
    EXPECT_EQ(splitHostPort(c.text, &host, &port), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(host, c.host);
    EXPECT_EQ(port, c.port);
  }
}

TEST(JudgeTest, SaysEveryFailureInWords) {
  const std::string message = "<dict><key>Message</key><string>CONNECT-AUTH</string></dict>";
  const struct { long status; std::string body; const char* failure; } cases[] = {
      {200, "<dict><key>OSStatus</key><integer>0</integer></dict>", ""},
      {200, message, "refused: the user is not an administrator (CONNECT-AUTH)"},
      {200, "<dict><key>OSStatus</key><integer>-50</integer></dict>",
       "failed with status -50 (a required parameter is missing)"},
      {200, "<dict><key>error</key><string>NIL_RESPONSE_ERR (boom)</string></dict>",
       "the command failed on the server (NIL_RESPONSE_ERR (boom))"},
      {200, "<array/>", "the reply is not a property-list dictionary"},
      {401, message, "the user name or password was not accepted (HTTP 401)"},
      {429, "", "too many failed logins from this address; try again later (HTTP 429)"},
      {502, "", "the server answered HTTP 502"},
  };
  for (const auto& c : cases) {
    Exchange exchange{true, c.status, "<plist version=\"1.0\">" + c.body + "</plist>", ""};
    EXPECT_EQ(judge(exchange).failure, c.failure) << c.body;
  }
  EXPECT_EQ(judge(Exchange{false, 0, "", "cannot connect"}).failure, "cannot connect");
}

TEST(AuditTest, RecordsInColumnsAndTheChainsVerdict) {
  auto reply = as<Dictionary>(plist(
      "<dict><key>Records</key><array><dict><key>time</key><string>T</string><key>user</key>"
      "<string>alice</string><key>command</key><string>email</string><key>result</key>"
      "<integer>0</integer><key>new</key><dict><key>a</key><true/></dict></dict><dict>"
      "<key>Unreadable</key><string>{x</string></dict></array><key>ChainIntact</key><false/>"
      "<key>BrokenAt</key><string>audit.log:2</string></dict>"));
  EXPECT_EQ(auditTable(*reply), "  TIME  USER   COMMAND  RESULT      OLD  NEW\n"
                                "  T     alice  email    0           -    {\"a\":true}\n"
                                "  ?     -      -        UNREADABLE  -    {x\n"
                                "CHAIN BROKEN at audit.log:2\n");
}

TEST(StatusTest, LimitsPassedCountAsAlarms) {
  auto reply = as<Dictionary>(plist(
      "<dict><key>Health</key><string>critical</string><key>Sensors</key><array>"
      "<dict><key>kind</key><string>voltage</string><key>label</key><string>Vcore</string>"
      "<key>value</key><real>1.5</real><key>unit</key><string>V</string><key>max</key><real>1.4</real></dict>"
      "<dict><key>kind</key><string>temperature</string><key>label</key><string>Core</string>"
      "<key>value</key><integer>100</integer><key>crit</key><integer>100</integer></dict>"
      "<dict><key>label</key><string>odd</string><key>value</key><string>x</string>"
      "<key>min</key><real>1</real></dict></array></dict>"));
  ASSERT_TRUE(reply);
  auto request = as<Dictionary>(plist("<dict><key>command</key><string>status</string></dict>"));
  EXPECT_EQ(summaryOf(*request, *reply),
            "health critical, 3 sensors, 2 alarms, service light none");
  const std::string table = statusTable(*reply);
  EXPECT_NE(table.find("Vcore         1.500  V     -    1.400  -     ALARM"), std::string::npos) << table;
  EXPECT_NE(table.find("\nother\n"), std::string::npos) << table;
}

// The boot device, the next start's and inactive entries are marked.
TEST(BootListTest, MarksWhatStartsAndWhen) {
  std::string devices;
  for (std::string item : {"B1<true/>", "B2<true/>", "B3<false/>"})
    devices += "<dict><key>Name</key><string>" + item.substr(0, 2) + "</string><key>Description"
               "</key><string>d</string><key>Active</key>" + item.substr(2) + "</dict>";
  auto reply = as<Dictionary>(plist("<dict><key>Message</key><string>B1</string><key>OnceDevice"
                                    "</key><string>B1</string><key>Devices</key><array>" +
                                    devices + "</array></dict>"));
  ASSERT_TRUE(reply);
  EXPECT_EQ(bootListText(*reply),
            "  B1  d  boot device, next start only\n  B2  d\n  B3  d  inactive\n");
}

TEST(PlanTest, SaysWhoMayAndWhatChanges) {
  const struct { const char* plan; const char* text; } cases[] = {
      {"<key>Allowed</key><false/><key>Changes</key><array><dict><key>Target</key>"
       "<string>boot-device</string></dict></array>",
       "plan (NOT allowed for this user):\n  change  boot-device\n"},
      {"<key>Allowed</key><true/><key>Run</key><array><array><string>/usr/sbin/nvram</string>"
       "<string>boot-device=B2</string></array></array><key>Changes</key><array><dict>"
       "<key>Target</key><string>boot-device</string><key>Old</key><string>B1</string>"
       "<key>New</key><string>B2</string></dict><dict><key>Target</key><string>timer</string>"
       "<key>New</key><date>2026-12-07T06:00:00Z</date></dict></array>",
       "plan (allowed):\n  run     /usr/sbin/nvram boot-device=B2\n"
       "  change  boot-device: B1 -> B2\n  change  timer: (none) -> 2026-12-07 06:00:00 UTC\n"},
      // A file's content: only the lines that go and come.
      {"<key>Allowed</key><true/><key>Changes</key><array><dict><key>Target</key><string>f"
       "</string><key>Old</key><string>a\nb\nc\n</string><key>New</key><string>a\nB\nc\nd"
       "</string></dict></array>",
       "plan (allowed):\n  change  f\n      - b\n      + B\n      + d\n"},
      {"<key>Allowed</key><true/>", "plan (allowed):\n  nothing would change\n"},
  };
  for (const auto& c : cases) {
    auto plan = as<Dictionary>(plist(std::string("<dict>") + c.plan + "</dict>"));
    ASSERT_TRUE(plan);
    EXPECT_EQ(planText(*plan), c.text);
  }
}

// A disagreement fails the command; a change not observable does not.
TEST(VerifiedTest, DisagreementIsAFailure) {
  const struct { const char* entries; const char* line; const char* failure; } cases[] = {
      {"<key>Verified</key><dict><key>Requested</key><string>B2</string><key>Observed</key>"
       "<string>B2</string><key>Agree</key><true/></dict>", "verified: B2", ""},
      {"<key>Verified</key><dict><key>Requested</key><string>B2</string><key>Observed</key>"
       "<string>B1</string><key>Agree</key><false/></dict>", "NOT verified: asked B2, observed B1",
       "the change did not take effect as asked (NOT verified: asked B2, observed B1)"},
      {"<key>Verified</key><dict><key>Requested</key><true/><key>Agree</key><false/></dict>",
       "not read back (asked true)", ""},
      {"<key>TestMail</key><dict><key>Accepted</key><false/><key>Error</key><string>exit 75"
       "</string></dict>", "", "the mail system did not accept the test mail: exit 75"},
  };
  for (const auto& c : cases) {
    Exchange exchange{true, 200, std::string("<plist version=\"1.0\"><dict>") + c.entries +
                      "</dict></plist>", ""};
    EXPECT_EQ(judge(exchange).failure, c.failure);
    EXPECT_EQ(verifiedText(*judge(exchange).reply), c.line);
  }
  auto light = as<Dictionary>(plist("<dict><key>Owner</key><string>alice</string><key>Reason"
                                    "</key><string>disk 3</string><key>SecondsLeft</key>"
                                    "<integer>3725</integer></dict>"));
  EXPECT_EQ(leaseText(*light), "on (by alice, \"disk 3\", 1 h 2 min 5 s left)");
}

}  // namespace
}  // namespace steward::ctl
