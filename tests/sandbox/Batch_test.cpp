// Batch requests and relay runs end to end, inside the sandbox, with the test
// bundles in the bundle directory beside the tool.
#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/sandbox/Sandbox.h"
#include "tests/support/ValueBuilders.h"

namespace steward::sandbox {
namespace {

constexpr const char* kToolPath = "/steward/bin/steward_kestrel";

DictionaryRef error(const char* code) { return dictionaryOf({{"error", makeString(code)}}); }

MutableDictionaryRef item(const char* name, ValueRef request) {
  return dictionaryOf({{"name", makeString(name)}, {"request", std::move(request)}});
}

MutableDictionaryRef request(const char* command) {
  return dictionaryOf({{"command", makeString(command)}});
}

RunOptions batch(ArrayRef items, std::map<std::string, std::string> environment) {
  environment["SCRIPT_FILENAME"] = kToolPath;
  return {.argv0 = "steward_info",
          .input = xmlOf(dictionaryOf({{"command", makeString("batchRequest")},
                                       {"requestsArray", std::move(items)}})),
          .environment = std::move(environment)};
}

TEST(Batch, EveryItemIsAnsweredByItsBundleOrTheToolItself) {
  Sandbox sandbox;
  MutableDictionaryRef tagged = item("recorder", request("first"));
  tagged->setObject(makeString("kept"), "tag");
  ArrayRef items = arrayOf({
      tagged, item("recorder", request("second")), item("steward_kestrel", request("email")),
      item("steward_kestrel", request("nosuch")), item("steward_kestrel", makeString("email")),
      item("thrower", request("x")), item("silent", request("x")), item("deaf", request("x")),
      item("classless", request("x")), item("hollow", request("x")), item("absent", request("x")),
      item("../bundles/recorder", request("x")), item("recorder", makeString("x")),
      dictionaryOf({{"name", makeString("steward_kestrel")}}),
      dictionaryOf({{"request", request("email")}}),
  });
  RunResult result = sandbox.run(batch(items, {{"REMOTE_USER", "alice"}}));

  auto answered = [](const char* name, ValueRef response) {
    return dictionaryOf({{"name", makeString(name)}, {"response", response}});
  };
  auto recorded = [](const char* asked, int runs) {
    return dictionaryOf({{"asked", makeString(asked)}, {"runs", makeInteger(runs)},
                         {"user", makeString("alice")}});
  };
  MutableDictionaryRef first = answered("recorder", recorded("first", 1));
  first->setObject(makeString("kept"), "tag");
  auto expected = dictionaryOf({
      {"responsesArray",
       arrayOf({first, answered("recorder", recorded("second", 2)),
                answered("steward_kestrel", dictionaryOf({{"OSStatus", makeInteger(-50)}})),
                answered("steward_kestrel", error("UNEXPECTED_COMMAND")),
                // A request of another kind has no command for the dispatcher.
                answered("steward_kestrel", error("UNEXPECTED_COMMAND")),
                answered("thrower", error("NIL_RESPONSE_ERR (thrower gave up)")),
                answered("silent", error("UNEXPECTED_COMMAND")),
                answered("deaf", error("CANNOT_RUN_BUNDLE_ERR")),
                answered("classless", error("CANNOT_LOAD_BUNDLE_ERR")),
                answered("hollow", error("CANNOT_LOAD_BUNDLE_ERR")),
                answered("absent", error("CANNOT_LOAD_BUNDLE_ERR")),
                // Only names inside the bundle directory are loaded.
                answered("../bundles/recorder", error("CANNOT_LOAD_BUNDLE_ERR")),
                answered("recorder", error("CANNOT_LOAD_BUNDLE_ERR")),
                answered("steward_kestrel", error("CANNOT_LOAD_BUNDLE_ERR")),
                dictionaryOf({{"response", error("CANNOT_LOAD_BUNDLE_ERR")}})})},
      {"command", makeString("batchRequest")},
  });
  EXPECT_TRUE(isEqual(parsed(result.output), expected)) << result.output;
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_TRUE(sandbox.logTexts().empty());
  // Each bundle that ran has its own context, saved without the caller.
  EXPECT_TRUE(isEqual(sandbox.storedContext("recorder"),
                      dictionaryOf({{"contextDirty", makeBoolean(false)}, {"runs", makeInteger(2)}})));
  EXPECT_TRUE(isEqual(sandbox.storedContext("thrower"),
                      dictionaryOf({{"contextDirty", makeBoolean(false)}})));
  EXPECT_FALSE(sandbox.storedContext("classless"));
}

TEST(Batch, ACrashIsReportedWithTheBundlesNameEvenWhenTheStackIsGone) {
  const std::pair<const char*, const char*> crashes[] = {
      {"crasher", "crasher \\[[0-9]+-[0-9a-f]{8,}\\] SIGSEGV \\(0\\) at [0-9a-f]{8,}\n"},
      {"recurser", "recurser \\[[0-9]+-[0-9a-f]{8,}\\] SIGSEGV \\([12]\\) at [0-9a-f]{8,}\n"},
  };
  for (const auto& [name, pattern] : crashes) {
    Sandbox sandbox;
    RunResult result = sandbox.run(batch(arrayOf({item(name, request("x"))}), {}));
    EXPECT_EQ(result.exitStatus, 1) << name;
    EXPECT_EQ(result.output, "");
    ASSERT_EQ(sandbox.logTexts().size(), 1u) << name;
    EXPECT_THAT(sandbox.logTexts()[0], testing::MatchesRegex(pattern));
  }
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
  EXPECT_TRUE(isEqual(sandbox.storedContext("steward_kestrel"),
                      dictionaryOf({{"contextDirty", makeBoolean(false)}})));
}

}  // namespace
}  // namespace steward::sandbox
