// Batch requests and relay runs end to end, inside the sandbox, with the test
// bundles in the bundle directory beside the tool.
#include <algorithm>

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
  auto recorded = [](const char* asked, int runs) {
    return dictionaryOf({{"asked", makeString(asked)}, {"runs", makeInteger(runs)},
                         {"user", makeString("alice")}});
  };
  const char* kCannotLoad = "CANNOT_LOAD_BUNDLE_ERR";
  // Each item and the response it gets.
  const std::pair<MutableDictionaryRef, DictionaryRef> cases[] = {
      {item("recorder", request("first")), recorded("first", 1)},
      {item("recorder", request("second")), recorded("second", 2)},
      {item("steward_kestrel", request("email")), dictionaryOf({{"OSStatus", makeInteger(-50)}})},
      {item("steward_kestrel", request("nosuch")), error("UNEXPECTED_COMMAND")},
      // A request of another kind has no command for the dispatcher.
      {item("steward_kestrel", makeString("email")), error("UNEXPECTED_COMMAND")},
      {item("thrower", request("x")), error("NIL_RESPONSE_ERR (thrower gave up)")},
      {item("silent", request("x")), error("UNEXPECTED_COMMAND")},
      {item("deaf", request("x")), error("CANNOT_RUN_BUNDLE_ERR")},
      {item("classless", request("x")), error(kCannotLoad)},
      {item("hollow", request("x")), error(kCannotLoad)},
      {item("absent", request("x")), error(kCannotLoad)},
      // Only names inside the bundle directory are loaded.
      {item("../bundles/recorder", request("x")), error(kCannotLoad)},
      {item("recorder", makeString("x")), error(kCannotLoad)},
      {dictionaryOf({{"name", makeString("steward_kestrel")}}), error(kCannotLoad)},
      {dictionaryOf({{"request", request("email")}}), error(kCannotLoad)},
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
                                                           {"command", makeString("batchRequest")}})))
      << result.output;
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_TRUE(sandbox.logTexts().empty());
  // Each bundle that ran has its own context, saved without the caller.
  EXPECT_TRUE(isEqual(sandbox.storedContext("recorder"),
                      dictionaryOf({{"contextDirty", makeBoolean(false)}, {"runs", makeInteger(2)}})));
  EXPECT_TRUE(isEqual(sandbox.storedContext("thrower"),
                      dictionaryOf({{"contextDirty", makeBoolean(false)}})));
  EXPECT_FALSE(sandbox.storedContext("classless"));
}

// The stack overflow leaves the crash handler only its own stack.
TEST(Batch, ACrashIsReportedWithTheBundlesNameEvenWhenTheStackIsGone) {
  Sandbox sandbox;
  RunResult result = sandbox.run(batch(arrayOf({item("recurser", request("x"))}), {}));
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
  EXPECT_TRUE(isEqual(sandbox.storedContext("steward_kestrel"),
                      dictionaryOf({{"contextDirty", makeBoolean(false)}})));
}

}  // namespace
}  // namespace steward::sandbox
