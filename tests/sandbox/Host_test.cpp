// The request tool end to end, inside the sandbox: the request cycle, the
// verbs, the context file and its lock, the signal handlers, and batch and
// relay runs with the test bundles in the bundle directory beside the tool.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/Archiver.h"
#include "tests/sandbox/Sandbox.h"
#include "tests/support/ValueBuilders.h"

namespace steward::sandbox {
namespace {

std::string archive(const ValueRef& root) {
  std::string bytes;
  EXPECT_TRUE(archivedDataWithRootObject(root, &bytes));
  return bytes;
}

const ValueRef kOnlyDirtyFalse = dictionaryOf({{"contextDirty", makeBoolean(false)}});

// Waits for a condition that another process brings about.
template <class Condition>
bool eventually(Condition condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// The log lines so far but the audit log's copies of changing requests.
std::vector<LogLine> unaudited(Sandbox& sandbox) {
  std::vector<LogLine> lines;
  for (const LogLine& line : sandbox.logLines())
    if (!line.text.starts_with("audit: ")) lines.push_back(line);
  return lines;
}

// Each log line so far was sent at notice level and matches its pattern.
void expectLog(Sandbox& sandbox, const std::vector<std::string>& patterns) {
  ASSERT_EQ(unaudited(sandbox).size(), patterns.size());
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    EXPECT_EQ(unaudited(sandbox)[i].priority, 13);
    EXPECT_THAT(unaudited(sandbox)[i].text, testing::MatchesRegex(patterns[i]));
  }
}

const std::string kUnexpected = envelope("UNEXPECTED_COMMAND");
const std::string kUnparsable = envelope("CANNOT_PARSE_XML_REQUEST_ERR");
const std::string kEmailReply =
    xmlOf(dictionaryOf({{"OSStatus", makeInteger(-50)}, {"command", makeString("email")}}));

TEST(RequestCycle, AnswersEveryInputWithItsExactBytes) {
  Sandbox sandbox;
  std::string binary, error;
  ASSERT_TRUE(propertyListToData(dictionaryOf({{"command", makeString("email")}}),
                                 PropertyListFormat::kBinary, &binary, &error));
  const std::pair<std::string, std::string> cases[] = {
      // No reply, so neither "command" nor "clientContext".
      {request("nosuch", "<key>clientContext</key><string>c</string>"), kUnexpected},
      {xmlOf(dictionaryOf({{"command", dictionaryOf({{"a", makeString("email")}})}})), kUnexpected},
      {request("EMAIL"), kUnexpected},
      {xmlOf(makeMutableDictionary()), kUnexpected},
      {request("batchRequest"), kUnexpected},  // only steward_info answers batches
      {"not a property list", kUnparsable},
      {"<?xml version=\"1.0\"?><plist><array><string>email</string></array></plist>", kUnparsable},
      {"<?xml version=\"1.0\"?><plist><dict><key>command</key></dict>", kUnparsable},
      // Other formats never reach a reader of theirs; any XML does.
      {"{ command = email; }", kUnparsable},
      {binary, kUnparsable},
      {"<?steward x?><plist version=\"1.0\"><dict><key>command</key>"
       "<string>email</string></dict></plist>", kEmailReply},
      {"", ""},  // no output at all
  };
  for (const auto& [input, output] : cases) {
    SCOPED_TRACE(input);
    RunResult result = sandbox.run({.input = input});
    EXPECT_EQ(result.output, output);
    EXPECT_EQ(result.exitStatus, 0);
  }
  EXPECT_EQ(sandbox.run({.argv0 = "/steward/bin/steward_info",
                         .input = request("batchRequest")}).output,
            kUnexpected);
  EXPECT_TRUE(unaudited(sandbox).empty());
  // The context is saved whatever the input.
  EXPECT_TRUE(isEqual(sandbox.storedContext("steward_kestrel"), kOnlyDirtyFalse));
  // A malformed batch is logged, unanswered; it gave up the tool's context
  // before running, which is saved.
  RunResult result = sandbox.run({.argv0 = "steward_info",
                                  .input = request("batchRequest",
                                                   "<key>requestsArray</key><string>x</string>")});
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.exitStatus, 0);
  expectLog(sandbox, {"\\[[0-9]+\\] fatal exception in main: requestsArray is not an array\n"});
  EXPECT_TRUE(isEqual(sandbox.storedContext("steward_info"), kOnlyDirtyFalse));
}

TEST(RequestCycle, ReadsAtMost64MiB) {
  Sandbox sandbox;
  const std::string request =
      "<plist><dict><key>command</key><string>email</string></dict></plist>";
  sandbox.writeFile("/tmp/request", request);
  auto padded = [&](std::size_t length) {
    return "{ cat /tmp/request; head -c " + std::to_string(length - request.size()) +
           " /dev/zero | tr '\\0' ' '; }";
  };
  // An endless input must neither be held whole nor keep the tool reading.
  const std::pair<std::string, std::string> cases[] = {
      {padded(64 << 20), kEmailReply},
      {padded((64 << 20) + 1), kUnparsable},
      {"cat /dev/zero", kUnparsable},
  };
#if defined(__SANITIZE_ADDRESS__)
  const std::string limit;  // the sanitizer needs more address space
#else
  const std::string limit = "ulimit -v 1048576; ";
#endif
  for (const auto& [feed, output] : cases) {
    SCOPED_TRACE(feed);
    RunResult result = sandbox.run({.shell = limit + feed + " | steward_kestrel"});
    EXPECT_EQ(result.output, output);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_TRUE(isEqual(sandbox.storedContext("steward_kestrel"), kOnlyDirtyFalse));
  }
  EXPECT_TRUE(unaudited(sandbox).empty());
}

TEST(Verbs, AnswerOnTheCommandLine) {
  Sandbox sandbox;
  const std::string version =
      "Version: N/A, Built: [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}\n";
  // The arguments, a pattern of the output, and the exit status.
  const std::tuple<std::vector<std::string>, std::string, int> cases[] = {
      {{"show_history"}, "No longer supported, use show_context instead\n", 0},
      {{"show_version"}, version, 0},
      {{"-v"}, version, 0},
      {{"idle"}, "", 1},
      {{"IDLE"}, "", 0},
      {{"busy"}, "", 0},
      {{"idle", "b", "c"}, "", 1},  // not a relay: the first argument decides
      {{"idle", "b", "relay"}, "", 0},
  };
  for (const auto& [arguments, output, exitStatus] : cases) {
    SCOPED_TRACE(arguments[0]);
    RunResult result = sandbox.run({.arguments = arguments, .input = "ignored"});
    EXPECT_THAT(result.output, testing::MatchesRegex(output));
    EXPECT_EQ(result.exitStatus, exitStatus);
  }
  EXPECT_TRUE(sandbox.logTexts().empty());
}

TEST(Context, ShowContextPrintsTheCallerWhoNeverReachesTheFile) {
  Sandbox sandbox;
  auto saved = dictionaryOf({{"kept", makeString("value")}, {"contextDirty", makeBoolean(false)}});
  auto dirty = saved->mutableCopy();
  dirty->setObject(makeString("YES"), "contextDirty");
  sandbox.writeFile(Sandbox::contextPath("steward_kestrel"), archive(dirty));
  RunResult result =
      sandbox.run({.arguments = {"show_context"}, .environment = {{"REMOTE_USER", "alice"}}});
  auto shown = saved->mutableCopy();
  shown->setObject(makeString("alice"), "_user_");
  EXPECT_EQ(result.output, "Context dictionary: " + describe(shown) + "\n");
  EXPECT_TRUE(isEqual(sandbox.storedContext("steward_kestrel"), saved));
  // Closed standard descriptors: the context file never stands in for them.
  sandbox.writeFile("/tmp/request.xml", request("x"));
  result = sandbox.run({.shell = "steward_kestrel <&- && steward_kestrel >&- </tmp/request.xml"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_TRUE(isEqual(sandbox.storedContext("steward_kestrel"), saved));
}

TEST(Context, MissingDirectoryStillAnswersTheRequest) {
  Sandbox sandbox;
  ASSERT_EQ(rmdir(sandbox.hostPath("/private/var/stewardd").c_str()), 0);
  EXPECT_EQ(sandbox.run({.input = request("nosuch")}).output, kUnexpected);
  EXPECT_EQ(sandbox.run({.arguments = {"show_context"}}).output, "");
  EXPECT_TRUE(sandbox.logTexts().empty());
}

TEST(Context, RunsOfOneNameTakeTurnsAndOthersDoNotWait) {
  Sandbox sandbox;
  // The first run holds the lock while it waits for its request.
  auto first = sandbox.start({});
  ASSERT_TRUE(eventually([&] { return first->toolWaitsForInput(); }));
  // Changed behind the holder's back: the holder's save replaces it.
  auto intruder = dictionaryOf({{"owner", makeString("intruder")}});
  sandbox.writeFile(Sandbox::contextPath("steward_kestrel"), archive(intruder));
  EXPECT_EQ(sandbox.run({.argv0 = "steward_info", .arguments = {"show_history"}}).exitStatus, 0);

  auto second = sandbox.start({.arguments = {"show_context"}});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(second->hasExited());
  first->writeInput(request("nosuch"));
  EXPECT_EQ(first->wait().output, kUnexpected);
  EXPECT_EQ(second->wait().output, "Context dictionary: " + describe(kOnlyDirtyFalse) + "\n");
}

TEST(Signals, TimeoutAndCrashAreLoggedAndSkipTheSave) {
  Sandbox sandbox;
  std::string file = Sandbox::contextPath("steward_kestrel");
  std::string before = archive(dictionaryOf({{"kept", makeInteger(1)}}));
  sandbox.writeFile(file, before);
  const std::pair<int, std::string> signals[] = {
      {SIGALRM, "\\[[0-9]+-[0-9a-f]{8,}\\] SIGALRM: process timed out\n"},
      {SIGSEGV, " \\[[0-9]+-[0-9a-f]{8,}\\] SIGSEGV \\(0\\) at 00000000\n"},
      {SIGBUS, " \\[[0-9]+-[0-9a-f]{8,}\\] SIGBUS \\(0\\) at 00000000\n"},
  };
  std::vector<std::string> logged;
  for (const auto& [signal, pattern] : signals) {
    SCOPED_TRACE(pattern);
    auto run = sandbox.start({});
    // Past start-up, the handlers are in place.
    ASSERT_TRUE(eventually([&] { return run->toolWaitsForInput(); }));
    ASSERT_EQ(kill(run->toolProcess(), signal), 0);
    RunResult result = run->wait();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "");
    logged.push_back(pattern);
    expectLog(sandbox, logged);
    EXPECT_EQ(sandbox.readFile(file), before);
  }
}

constexpr const char* kToolPath = "/steward/bin/steward_kestrel";

DictionaryRef error(const char* code) { return dictionaryOf({{"error", makeString(code)}}); }

MutableDictionaryRef item(const char* name, ValueRef request) {
  return dictionaryOf({{"name", makeString(name)}, {"request", std::move(request)}});
}

MutableDictionaryRef asking(const char* command) {
  return dictionaryOf({{"command", makeString(command)}});
}

// Every batch carries a client context, which its reply gives back whole.
const ValueRef kClientContext =
    dictionaryOf({{"a", arrayOf({makeInteger(1), makeString("caf\xc3\xa9 & <tea>")})}});

RunOptions batch(ArrayRef items, std::map<std::string, std::string> environment) {
  environment["SCRIPT_FILENAME"] = kToolPath;
  return {.argv0 = "steward_info",
          .input = xmlOf(dictionaryOf({{"command", makeString("batchRequest")},
                                       {"requestsArray", std::move(items)},
                                       {"clientContext", kClientContext}})),
          .environment = std::move(environment)};
}

TEST(Batch, EveryItemIsAnsweredByItsBundleOrTheToolItself) {
  Sandbox sandbox;
  auto recorded = [](const char* asked, int runs) {
    return dictionaryOf({{"asked", makeString(asked)}, {"runs", makeInteger(runs)},
                         {"user", makeString("alice")}});
  };
  const char* kCannotLoad = "CANNOT_LOAD_BUNDLE_ERR";
  // Each item and the response it gets.
  const std::pair<MutableDictionaryRef, DictionaryRef> cases[] = {
      {item("recorder", asking("first")), recorded("first", 1)},
      {item("recorder", asking("second")), recorded("second", 2)},
      {item("steward_kestrel", asking("email")), dictionaryOf({{"OSStatus", makeInteger(-50)}})},
      {item("steward_kestrel", asking("nosuch")), error("UNEXPECTED_COMMAND")},
      // A request of another kind has no command for the dispatcher.
      {item("steward_kestrel", makeString("email")), error("UNEXPECTED_COMMAND")},
      {item("thrower", asking("x")), error("NIL_RESPONSE_ERR (thrower gave up)")},
      {item("silent", asking("x")), error("UNEXPECTED_COMMAND")},
      {item("deaf", asking("x")), error("CANNOT_RUN_BUNDLE_ERR")},
      {item("classless", asking("x")), error(kCannotLoad)},
      {item("hollow", asking("x")), error(kCannotLoad)},
      {item("absent", asking("x")), error(kCannotLoad)},
      // Only names inside the bundle directory are loaded.
      {item("../bundles/recorder", asking("x")), error(kCannotLoad)},
      {item("recorder", makeString("x")), error(kCannotLoad)},
      {dictionaryOf({{"name", makeString("steward_kestrel")}}), error(kCannotLoad)},
      {dictionaryOf({{"request", asking("email")}}), error(kCannotLoad)},
  };
  cases[0].first->setObject(makeString("kept"), "tag");
  auto items = makeMutableArray(), responses = makeMutableArray();
  for (const auto& [asked, response] : cases) {
    items->addObject(asked);
    // The response keeps every entry of its item but the request.
    auto answered = asked->mutableCopy();
    answered->removeObjectForKey("request");
    answered->setObject(response, "response");
    responses->addObject(answered);
  }
  RunResult result = sandbox.run(batch(items, {{"REMOTE_USER", "alice"}}));
  EXPECT_TRUE(isEqual(parsed(result.output), dictionaryOf({{"responsesArray", responses},
                                                           {"command", makeString("batchRequest")},
                                                           {"clientContext", kClientContext}})))
      << result.output;
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_TRUE(unaudited(sandbox).empty());
  // Each bundle that ran has its own context, saved without the caller.
  EXPECT_TRUE(isEqual(sandbox.storedContext("recorder"),
                      dictionaryOf({{"contextDirty", makeBoolean(false)},
                                    {"runs", makeInteger(2)}})));
  EXPECT_TRUE(isEqual(sandbox.storedContext("thrower"), kOnlyDirtyFalse));
  EXPECT_FALSE(sandbox.storedContext("classless"));
}

// The stack overflow leaves the crash handler only its own stack.
TEST(Batch, ACrashIsReportedWithTheBundlesNameEvenWhenTheStackIsGone) {
  Sandbox sandbox;
  RunResult result = sandbox.run(batch(arrayOf({item("recurser", asking("x"))}), {}));
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.output, "");
  expectLog(sandbox, {"recurser \\[[0-9]+-[0-9a-f]{8,}\\] SIGSEGV \\([12]\\) at [0-9a-f]{8,}\n"});
}

TEST(Batch, RelayHandsTheArgumentsToEveryEntryOfTheBundleDirectory) {
  Sandbox sandbox;
  RunResult result = sandbox.run({.argv0 = kToolPath, .arguments = {"idle", "x", "relay"}});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output, "");
  // The arguments but the last one, program name first.
  EXPECT_TRUE(isEqual(sandbox.storedContext("recorder"),
                      dictionaryOf({{"contextDirty", makeBoolean(false)},
                                    {"argv", arrayOf({makeString(kToolPath), makeString("idle"),
                                                      makeString("x")})}})));
  std::vector<std::string> lines;
  for (std::string text : sandbox.logTexts()) {
    text.erase(1, text.find(']') - 1);  // the process id
    lines.push_back(text);
  }
  std::sort(lines.begin(), lines.end());
  const std::string prefix = "[] error in processArgsWithParameters: could not ";
  const std::string bundles = "/steward/bin/../bundles/";
  EXPECT_EQ(lines, (std::vector<std::string>{
                       prefix + "load " + bundles + "classless.bundle\n",
                       prefix + "load " + bundles + "hollow.bundle\n",
                       prefix + "load " + bundles + "notes.bundle\n",
                       prefix + "run " + bundles + "deaf.bundle\n",
                       "[] exception in processArgsWithParameters: thrower gave up\n"}));
  // The tool's own entry ran under the tool's own context.
  EXPECT_TRUE(isEqual(sandbox.storedContext("steward_kestrel"), kOnlyDirtyFalse));
}

}  // namespace
}  // namespace steward::sandbox
