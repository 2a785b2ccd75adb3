// The request tool end to end, inside the sandbox: envelopes, verbs, the
// context file and its lock, the caller's identity and the signal handlers.
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/Archiver.h"
#include "platform/PropertyList.h"
#include "tests/sandbox/Sandbox.h"
#include "tests/support/ValueBuilders.h"

namespace steward::sandbox {
namespace {

std::string envelope(const std::string& code) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"0.9\">\n"
         "<dict>\n"
         "<key>error</key>\n"
         "<string>" + code + "</string>\n"
         "</dict>\n"
         "</plist>";
}

DictionaryRef parseReply(const std::string& bytes) {
  std::string error;
  return as<Dictionary>(
      propertyListFromData(bytes, Mutability::kImmutable, nullptr, &error));
}

std::string archive(const ValueRef& root) {
  std::string bytes;
  EXPECT_TRUE(archivedDataWithRootObject(root, &bytes));
  return bytes;
}

// The context stored for a tool name, or none when the file is unreadable
// or does not decode.
ValueRef storedContext(const Sandbox& sandbox, const std::string& name) {
  std::string bytes;
  if (!sandbox.readFile(sandbox.contextPath(name), &bytes)) return nullptr;
  try {
    return unarchiveObjectWithData(bytes);
  } catch (const std::exception&) {
    return nullptr;
  }
}

std::string showContextLine(const ValueRef& context) {
  return "Context dictionary: " + describe(context) + "\n";
}

// Waits for a condition that another process brings about.
template <class Condition>
bool eventually(Condition condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(RequestCycle, ErrorEnvelopesAreExactBytes) {
  Sandbox sandbox;
  // An unknown command: no reply, so neither "command" nor "clientContext".
  RunResult unknown = sandbox.run(
      {.input = requestXML("<key>command</key><string>nosuch</string>"
                           "<key>clientContext</key><string>c</string>")});
  EXPECT_EQ(unknown.output, envelope("UNEXPECTED_COMMAND"));
  EXPECT_EQ(unknown.exitStatus, 0);
  EXPECT_EQ(unknown.output.back(), '>');

  for (const char* body :
       {"<key>command</key><integer>1</integer>",
        "<key>command</key><dict><key>a</key><string>status</string></dict>",
        "<key>command</key><string>STATUS</string>",
        "<key>command</key><string>status </string>", ""}) {
    SCOPED_TRACE(body);
    EXPECT_EQ(sandbox.run({.input = requestXML(body)}).output,
              envelope("UNEXPECTED_COMMAND"));
  }

  for (const char* input :
       {"not a property list",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><array>"
        "<string>status</string></array></plist>",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><string>status"
        "</string></plist>",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>command"
        "</key></dict>"}) {
    SCOPED_TRACE(input);
    RunResult result = sandbox.run({.input = input});
    EXPECT_EQ(result.output, envelope("CANNOT_PARSE_XML_REQUEST_ERR"));
    EXPECT_EQ(result.exitStatus, 0);
  }
  EXPECT_TRUE(sandbox.logTexts().empty());
}

TEST(RequestCycle, EmptyInputWritesNothingAndStillSavesTheContext) {
  Sandbox sandbox;
  RunResult result = sandbox.run({.input = ""});
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.errors, "");
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_TRUE(isEqual(storedContext(sandbox, "steward_kestrel"),
                      dictionaryOf({{"contextDirty", makeBoolean(false)}})));
}

TEST(RequestCycle, ClientContextOfEveryKindComesBackUnchanged) {
  Sandbox sandbox;
  // A batch request with no items is answered by this build, so it carries
  // the client context through the whole cycle.
  const std::pair<const char*, ValueRef> kinds[] = {
      {"<dict><key>a</key><array><integer>1</integer></array></dict>",
       dictionaryOf({{"a", std::make_shared<Array>(std::vector<ValueRef>{
                                makeInteger(1)})}})},
      {"<array><string>x</string><true/></array>",
       std::make_shared<Array>(
           std::vector<ValueRef>{makeString("x"), makeBoolean(true)})},
      {"<string>caf\xc3\xa9 &amp; &lt;tea&gt;</string>",
       makeString("caf\xc3\xa9 & <tea>")},
      {"<integer>-42</integer>", makeInteger(-42)},
      {"<real>2.5</real>", makeReal(2.5)},
      {"<false/>", makeBoolean(false)},
      {"<data>AAEC</data>", makeData(std::string("\0\1\2", 3))},
      {"<date>2007-04-10T16:54:44Z</date>",
       Date::fromUnixTime(1176224084)},
  };
  for (const auto& [xml, value] : kinds) {
    SCOPED_TRACE(xml);
    RunResult result = sandbox.run(
        {.argv0 = "steward_info",
         .input = requestXML(std::string("<key>command</key><string>"
                                         "batchRequest</string>"
                                         "<key>clientContext</key>") +
                             xml)});
    DictionaryRef reply = parseReply(result.output);
    ASSERT_TRUE(reply) << result.output;
    EXPECT_EQ(reply->count(), 2u);
    EXPECT_TRUE(isEqual(reply->objectForKey("command"),
                        makeString("batchRequest")));
    EXPECT_TRUE(isEqual(reply->objectForKey("clientContext"), value));
  }
  // A command's own reply gets both entries beside its own.
  RunResult email = sandbox.run(
      {.input = requestXML("<key>command</key><string>email</string>"
                           "<key>clientContext</key><array><string>c"
                           "</string></array>")});
  DictionaryRef reply = parseReply(email.output);
  ASSERT_TRUE(reply) << email.output;
  EXPECT_TRUE(isEqual(
      reply, dictionaryOf({{"OSStatus", makeInteger(-50)},
                           {"command", makeString("email")},
                           {"clientContext",
                            std::make_shared<Array>(std::vector<ValueRef>{
                                makeString("c")})}})));
}

TEST(RequestCycle, BatchRequestNeedsTheExactBatchName) {
  Sandbox sandbox;
  std::string batch =
      requestXML("<key>command</key><string>batchRequest</string>");
  for (const char* argv0 : {"/steward/bin/steward_info", "steward_kestrel"}) {
    SCOPED_TRACE(argv0);
    EXPECT_EQ(sandbox.run({.argv0 = argv0, .input = batch}).output,
              envelope("UNEXPECTED_COMMAND"));
  }
  // A batch that is no array is refused without a reply.
  RunResult malformed = sandbox.run(
      {.argv0 = "steward_info",
       .input = requestXML("<key>command</key><string>batchRequest</string>"
                           "<key>requestsArray</key><string>x</string>")});
  EXPECT_EQ(malformed.output, "");
  EXPECT_EQ(malformed.exitStatus, 0);
  ASSERT_EQ(sandbox.logLines().size(), 1u);
  EXPECT_EQ(sandbox.logLines()[0].priority, 13);
  EXPECT_THAT(sandbox.logLines()[0].text,
              testing::MatchesRegex("\\[[0-9]+\\] fatal exception in main: "
                                    "requestsArray is not an array\n"));
  // The batch gave up the tool's context before running; it is saved.
  EXPECT_TRUE(isEqual(storedContext(sandbox, "steward_info"),
                      dictionaryOf({{"contextDirty", makeBoolean(false)}})));
}

TEST(Verbs, AnswerOnTheCommandLine) {
  Sandbox sandbox;
  RunResult history = sandbox.run({.arguments = {"show_history"}});
  EXPECT_EQ(history.output, "No longer supported, use show_context instead\n");
  EXPECT_EQ(history.exitStatus, 0);

  RunResult version = sandbox.run({.arguments = {"show_version"}});
  EXPECT_THAT(version.output,
              testing::MatchesRegex(
                  "Version: N/A, Built: [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} "
                  "[0-9]{2}:[0-9]{2}:[0-9]{2}\n"));
  EXPECT_EQ(sandbox.run({.arguments = {"-v"}}).output, version.output);

  RunResult idle = sandbox.run({.arguments = {"idle"}});
  EXPECT_EQ(idle.output, "");
  EXPECT_EQ(idle.exitStatus, 1);
  EXPECT_EQ(sandbox.run({.arguments = {"busy"}}).exitStatus, 0);
  EXPECT_EQ(sandbox.run({.arguments = {"IDLE"}}).exitStatus, 0);
  // Three arguments with another third one: the first one decides.
  EXPECT_EQ(sandbox.run({.arguments = {"idle", "b", "c"}}).exitStatus, 1);
  // The relay form runs no bundle yet, and reads no input.
  RunResult relay = sandbox.run({.arguments = {"idle", "b", "relay"},
                                 .input = "ignored"});
  EXPECT_EQ(relay.exitStatus, 0);
  EXPECT_EQ(relay.output, "");
  EXPECT_TRUE(sandbox.logTexts().empty());
}

TEST(Context, ShowContextPrintsTheLoadedContextWithTheCaller) {
  Sandbox sandbox;
  sandbox.writeFile(
      sandbox.contextPath("steward_kestrel"),
      archive(dictionaryOf({{"kept", makeString("value")},
                            {"contextDirty", makeString("YES")}})));
  RunResult result = sandbox.run({.arguments = {"show_context"},
                                  .environment = {{"REMOTE_USER", "alice"}}});
  EXPECT_EQ(result.output,
            showContextLine(dictionaryOf({{"kept", makeString("value")},
                                          {"contextDirty", makeBoolean(false)},
                                          {"_user_", makeString("alice")}})));
  // The caller's name never reaches the file.
  EXPECT_TRUE(isEqual(storedContext(sandbox, "steward_kestrel"),
                      dictionaryOf({{"kept", makeString("value")},
                                    {"contextDirty", makeBoolean(false)}})));
}

TEST(Context, FileIsCreatedWithMode0770WhateverTheMask) {
  Sandbox sandbox;
  ASSERT_EQ(sandbox.run({.input = "", .umask = 077}).exitStatus, 0);
  struct stat info {};
  ASSERT_EQ(stat(sandbox.hostPath(sandbox.contextPath("steward_kestrel")).c_str(),
                 &info),
            0);
  EXPECT_EQ(info.st_mode & 07777, 0770u);
}

TEST(Context, GarbageLoadsAsAnEmptyContextAndIsOverwritten) {
  Sandbox sandbox;
  sandbox.writeFile(sandbox.contextPath("steward_kestrel"),
                    "\x01\x02garbage, not an archive");
  RunResult result = sandbox.run({.arguments = {"show_context"}});
  EXPECT_EQ(result.output, showContextLine(dictionaryOf(
                               {{"contextDirty", makeBoolean(false)}})));
  EXPECT_TRUE(isEqual(storedContext(sandbox, "steward_kestrel"),
                      dictionaryOf({{"contextDirty", makeBoolean(false)}})));
  EXPECT_TRUE(sandbox.logTexts().empty());
}

TEST(Context, ArchivedRootThatIsNoDictionaryIsLoggedAndReplaced) {
  Sandbox sandbox;
  sandbox.writeFile(sandbox.contextPath("steward_kestrel"),
                    archive(std::make_shared<Array>(
                        std::vector<ValueRef>{makeString("x")})));
  RunResult result = sandbox.run({.arguments = {"show_context"}});
  // Loading failed: an empty context without "contextDirty".
  EXPECT_EQ(result.output, showContextLine(makeMutableDictionary()));
  ASSERT_EQ(sandbox.logLines().size(), 1u);
  EXPECT_EQ(sandbox.logLines()[0].priority, 13);
  EXPECT_THAT(sandbox.logLines()[0].text,
              testing::MatchesRegex(
                  "\\[[0-9]+\\] exception in get_and_lock_context: .+\n"));
  EXPECT_TRUE(isEqual(storedContext(sandbox, "steward_kestrel"),
                      makeMutableDictionary()));
}

TEST(Context, MissingDirectoryStillAnswersTheRequest) {
  Sandbox sandbox;
  ASSERT_EQ(rmdir(sandbox.hostPath("/private/var/stewardd").c_str()), 0);
  RunResult result = sandbox.run(
      {.input = requestXML("<key>command</key><string>nosuch</string>")});
  EXPECT_EQ(result.output, envelope("UNEXPECTED_COMMAND"));
  EXPECT_EQ(result.exitStatus, 0);
  RunResult shown = sandbox.run({.arguments = {"show_context"}});
  EXPECT_EQ(shown.output, "");
  EXPECT_EQ(shown.exitStatus, 0);
  EXPECT_TRUE(sandbox.logTexts().empty());
}

TEST(Context, ClosedStandardDescriptorsNeverReachTheContextFile) {
  Sandbox sandbox;
  std::string file = sandbox.contextPath("steward_kestrel");
  sandbox.writeFile(file, archive(dictionaryOf({{"kept", makeString("value")},
                                                {"contextDirty", makeString("YES")}})));
  sandbox.writeFile("/tmp/request.xml",
                    requestXML("<key>command</key><string>nosuch</string>"));
  RunResult result = sandbox.run(
      {.command = {"/bin/sh", "-c",
                   "steward_kestrel <&- && steward_kestrel >&- </tmp/request.xml"}});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_TRUE(isEqual(storedContext(sandbox, "steward_kestrel"),
                      dictionaryOf({{"kept", makeString("value")},
                                    {"contextDirty", makeBoolean(false)}})));
}

TEST(Context, RunsOfOneNameTakeTurns) {
  Sandbox sandbox;
  std::string file = sandbox.contextPath("steward_kestrel");
  sandbox.writeFile(file, archive(dictionaryOf({{"owner", makeString("first")}})));
  // The first run holds the lock while it waits for its request.
  auto first = sandbox.start({.input = ""});
  ASSERT_TRUE(eventually([&] {
    return isWaitingForInput(first->findProcess("steward_kestrel"));
  }));
  // Changed behind the lock holder's back: the holder's save replaces it.
  sandbox.writeFile(file, archive(dictionaryOf({{"owner", makeString("intruder")}})));

  auto second = sandbox.start({.arguments = {"show_context"}});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(second->hasExited());

  first->writeInput(requestXML("<key>command</key><string>nosuch</string>"));
  RunResult firstResult = first->wait();
  EXPECT_EQ(firstResult.output, envelope("UNEXPECTED_COMMAND"));
  RunResult secondResult = second->wait();
  EXPECT_EQ(secondResult.output,
            showContextLine(dictionaryOf({{"owner", makeString("first")},
                                          {"contextDirty", makeBoolean(false)}})));
}

TEST(Context, RunsOfTwoNamesDoNotWait) {
  Sandbox sandbox;
  auto holder = sandbox.start({.input = ""});
  ASSERT_TRUE(eventually([&] {
    return isWaitingForInput(holder->findProcess("steward_kestrel"));
  }));
  RunResult other = sandbox.run({.argv0 = "steward_info",
                                 .arguments = {"show_history"}});
  EXPECT_EQ(other.exitStatus, 0);
  EXPECT_FALSE(holder->hasExited());
  EXPECT_EQ(holder->wait().exitStatus, 0);
}

TEST(Identity, EveryFormOfTheTwoVariables) {
  Sandbox sandbox;
  struct Case {
    std::map<std::string, std::string> environment;
    ValueRef user;  // none: no "_user_"
  };
  const Case cases[] = {
      {{{"REMOTE_USER", "alice"}, {"HTTP_STEWARDSESSIONID", "bob@x"}},
       makeString("alice")},
      {{{"REMOTE_USER", "carol@example.com"}}, makeString("carol@example.com")},
      {{{"REMOTE_USER", "<USE_SESSION_ID>"},
        {"HTTP_STEWARDSESSIONID", "bob@session@42"}},
       makeString("bob")},
      {{{"REMOTE_USER", "<USE_SESSION_ID>"}, {"HTTP_STEWARDSESSIONID", "bob"}},
       makeString("bob")},
      {{{"REMOTE_USER", "<USE_SESSION_ID>"}, {"HTTP_STEWARDSESSIONID", "@x"}},
       makeString("")},
      {{{"REMOTE_USER", "<USE_SESSION_ID>"}}, nullptr},
      {{{"HTTP_STEWARDSESSIONID", "alice@x"}}, nullptr},
      {{{"REMOTE_USER", ""}}, makeString("")},
      {{{"REMOTE_USER", "\xff\xfe"}}, nullptr},
  };
  for (const Case& c : cases) {
    auto expected = dictionaryOf({{"contextDirty", makeBoolean(false)}});
    if (c.user) expected->setObject(c.user, "_user_");
    RunResult result = sandbox.run(
        {.arguments = {"show_context"}, .environment = c.environment});
    EXPECT_EQ(result.output, showContextLine(expected));
    EXPECT_TRUE(isEqual(storedContext(sandbox, "steward_kestrel"),
                        dictionaryOf({{"contextDirty", makeBoolean(false)}})));
  }
}

TEST(Signals, TimeoutAndCrashAreLoggedAndSkipTheSave) {
  Sandbox sandbox;
  std::string file = sandbox.contextPath("steward_kestrel");
  std::string before = archive(dictionaryOf({{"kept", makeInteger(1)}}));
  sandbox.writeFile(file, before);

  const std::pair<int, const char*> signals[] = {
      {SIGALRM, "\\[[0-9]+-[0-9a-f]{8,}\\] SIGALRM: process timed out\n"},
      {SIGSEGV, " \\[[0-9]+-[0-9a-f]{8,}\\] SIGSEGV \\(0\\) at 00000000\n"},
      {SIGBUS, " \\[[0-9]+-[0-9a-f]{8,}\\] SIGBUS \\(0\\) at 00000000\n"},
  };
  std::size_t logged = 0;
  for (const auto& [signal, pattern] : signals) {
    SCOPED_TRACE(pattern);
    auto run = sandbox.start({.input = ""});
    pid_t tool = -1;
    // Past start-up: the handlers are in place once it waits for input.
    ASSERT_TRUE(eventually([&] {
      tool = run->findProcess("steward_kestrel");
      return isWaitingForInput(tool);
    }));
    ASSERT_EQ(kill(tool, signal), 0);
    RunResult result = run->wait();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "");
    ASSERT_EQ(sandbox.logLines().size(), ++logged);
    EXPECT_EQ(sandbox.logLines().back().priority, 13);
    EXPECT_THAT(sandbox.logLines().back().text, testing::MatchesRegex(pattern));
    std::string after;
    ASSERT_TRUE(sandbox.readFile(file, &after));
    EXPECT_EQ(after, before);
  }
}

TEST(Sandbox, FakesStandInForTheSystemPrograms) {
  Sandbox sandbox;
  std::string fake;
  ASSERT_TRUE(sandbox.readFile("/usr/sbin/shutdown", &fake));
  // Read first, run only when it is certainly the fake.
  RunResult listing = sandbox.run(
      {.command = {"/bin/sh", "-c",
                   "cat /sbin/shutdown; ls /usr/sbin; touch /usr/x 2>/dev/null"
                   " || echo read-only"}});
  ASSERT_EQ(listing.output, fake + "machreport\nnvram\nshutdown\nread-only\n");

  RunResult ran = sandbox.run({.command = {"/bin/sh", "-c",
                                           "/sbin/shutdown -r 'now please'; "
                                           "/usr/sbin/nvram boot-device=\"x y\""}});
  EXPECT_EQ(ran.exitStatus, 0);
  std::vector<RecordedCall> calls = sandbox.recordedCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].program, "/sbin/shutdown");
  EXPECT_EQ(calls[0].arguments, (std::vector<std::string>{"-r", "now please"}));
  EXPECT_EQ(calls[1].program, "/usr/sbin/nvram");
  EXPECT_EQ(calls[1].arguments, (std::vector<std::string>{"boot-device=x y"}));
}

}  // namespace
}  // namespace steward::sandbox
