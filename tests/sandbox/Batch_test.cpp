// Batch requests and relay runs end to end, inside the sandbox, with test
// bundles in the bundle directory beside the tool.
#include <algorithm>
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/Archiver.h"
#include "platform/PropertyList.h"
#include "tests/sandbox/Sandbox.h"
#include "tests/support/ValueBuilders.h"

namespace steward::sandbox {
namespace {

namespace fs = std::filesystem;

constexpr const char* kToolPath = "/steward/bin/steward_kestrel";
constexpr const char* kBundles = "/steward/bin/../bundles/";

DictionaryRef error(const char* code) {
  return dictionaryOf({{"error", makeString(code)}});
}

class BatchTest : public testing::Test {
 protected:
  BatchTest() {
    for (const auto& entry : fs::directory_iterator(STEWARD_TEST_BUNDLES)) {
      if (entry.path().extension() != ".bundle") continue;
      fs::copy(entry.path(),
               sandbox_.hostPath("/steward/bundles/") + entry.path().filename().string(),
               fs::copy_options::recursive);
    }
  }

  ValueRef storedContext(const std::string& name) {
    std::string bytes;
    if (!sandbox_.readFile(sandbox_.contextPath(name), &bytes)) return nullptr;
    return unarchiveObjectWithData(bytes);
  }

  // The log lines with the process id taken out, sorted.
  std::vector<std::string> logWithoutPids() {
    std::vector<std::string> lines;
    for (std::string text : sandbox_.logTexts()) {
      std::size_t close = text.find("] ");
      if (text.rfind("[", 0) == 0 && close != std::string::npos) {
        text.erase(1, close - 1);
      }
      lines.push_back(text);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  Sandbox sandbox_;
};

TEST_F(BatchTest, EveryItemIsAnsweredByItsBundleOrTheToolItself) {
  fs::create_directories(sandbox_.hostPath("/steward/bundles/hollow.bundle"));
  auto request = [](const char* command) {
    return dictionaryOf({{"command", makeString(command)}});
  };
  auto item = [&](const char* name, const char* command) {
    return dictionaryOf({{"name", makeString(name)}, {"request", request(command)}});
  };
  MutableDictionaryRef tagged = item("recorder", "first");
  tagged->setObject(makeString("kept"), "tag");
  ArrayRef items = arrayOf({
      tagged, item("recorder", "second"), item("steward_kestrel", "email"),
      item("steward_kestrel", "nosuch"), item("thrower", "x"), item("silent", "x"),
      item("deaf", "x"), item("classless", "x"), item("hollow", "x"),
      item("absent", "x"), item("../bundles/recorder", "x"),
      dictionaryOf({{"name", makeString("steward_kestrel")}}),
      dictionaryOf({{"request", request("email")}}),
  });
  auto batch = dictionaryOf({{"command", makeString("batchRequest")},
                             {"requestsArray", items}});
  std::string xml = xmlOf(batch);
  RunResult result = sandbox_.run(
      {.argv0 = "steward_info",
       .input = xml,
       .environment = {{"SCRIPT_FILENAME", kToolPath}, {"REMOTE_USER", "alice"}}});

  auto answered = [](const char* name, ValueRef response) {
    return dictionaryOf({{"name", makeString(name)}, {"response", response}});
  };
  auto recorded = [](const char* asked, int runs) {
    return dictionaryOf({{"asked", makeString(asked)},
                         {"runs", makeInteger(runs)},
                         {"user", makeString("alice")}});
  };
  MutableDictionaryRef first = answered("recorder", recorded("first", 1));
  first->setObject(makeString("kept"), "tag");
  auto expected = dictionaryOf({
      {"responsesArray",
       arrayOf({first, answered("recorder", recorded("second", 2)),
                answered("steward_kestrel", dictionaryOf({{"OSStatus", makeInteger(-50)}})),
                answered("steward_kestrel", error("UNEXPECTED_COMMAND")),
                answered("thrower", error("NIL_RESPONSE_ERR (thrower gave up)")),
                answered("silent", error("UNEXPECTED_COMMAND")),
                answered("deaf", error("CANNOT_RUN_BUNDLE_ERR")),
                answered("classless", error("CANNOT_LOAD_BUNDLE_ERR")),
                answered("hollow", error("CANNOT_LOAD_BUNDLE_ERR")),
                answered("absent", error("CANNOT_LOAD_BUNDLE_ERR")),
                // Only names inside the bundle directory are loaded.
                answered("../bundles/recorder", error("CANNOT_LOAD_BUNDLE_ERR")),
                answered("steward_kestrel", error("CANNOT_LOAD_BUNDLE_ERR")),
                dictionaryOf({{"response", error("CANNOT_LOAD_BUNDLE_ERR")}})})},
      {"command", makeString("batchRequest")},
  });
  EXPECT_TRUE(isEqual(parsed(result.output), expected)) << result.output;
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_TRUE(sandbox_.logTexts().empty());

  // Each bundle that ran has its own context, saved without the caller.
  EXPECT_TRUE(isEqual(storedContext("recorder"),
                      dictionaryOf({{"contextDirty", makeBoolean(false)},
                                    {"runs", makeInteger(2)}})));
  EXPECT_TRUE(isEqual(storedContext("thrower"),
                      dictionaryOf({{"contextDirty", makeBoolean(false)}})));
  EXPECT_FALSE(storedContext("classless"));
}

TEST_F(BatchTest, ACrashIsReportedWithTheBundlesName) {
  auto batch = dictionaryOf(
      {{"command", makeString("batchRequest")},
       {"requestsArray",
        arrayOf({dictionaryOf({{"name", makeString("crasher")},
                               {"request", dictionaryOf({{"command", makeString("x")}})}})})}});
  RunResult result = sandbox_.run({.argv0 = "steward_info",
                                   .input = xmlOf(batch),
                                   .environment = {{"SCRIPT_FILENAME", kToolPath}}});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.output, "");
  ASSERT_EQ(sandbox_.logTexts().size(), 1u);
  EXPECT_THAT(sandbox_.logTexts()[0],
              testing::MatchesRegex(
                  "crasher \\[[0-9]+-[0-9a-f]{8,}\\] SIGSEGV \\(0\\) at [0-9a-f]{8,}\n"));
}

TEST_F(BatchTest, RelayHandsTheArgumentsToEveryEntryOfTheBundleDirectory) {
  fs::create_directories(sandbox_.hostPath("/steward/bundles/hollow.bundle"));
  fs::create_directories(sandbox_.hostPath("/steward/bundles/steward_kestrel.bundle"));
  sandbox_.writeFile("/steward/bundles/notes.txt", "not a bundle\n");
  RunResult result = sandbox_.run(
      {.argv0 = kToolPath, .arguments = {"idle", "x", "relay"}});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output, "");

  // The arguments but the last one, program name first.
  EXPECT_TRUE(isEqual(
      storedContext("recorder"),
      dictionaryOf({{"contextDirty", makeBoolean(false)},
                    {"argv", arrayOf({makeString(kToolPath), makeString("idle"),
                                      makeString("x")})}})));
  std::string prefix = std::string("[] error in processArgsWithParameters: ");
  std::vector<std::string> expected = {
      prefix + "could not load " + kBundles + "classless.bundle\n",
      prefix + "could not load " + kBundles + "hollow.bundle\n",
      prefix + "could not load " + kBundles + "notes.bundle\n",
      prefix + "could not run " + kBundles + "deaf.bundle\n",
      "[] exception in processArgsWithParameters: thrower gave up\n",
  };
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(logWithoutPids(), expected);
  // The tool's own entry ran under the tool's own context.
  EXPECT_TRUE(isEqual(storedContext("steward_kestrel"),
                      dictionaryOf({{"contextDirty", makeBoolean(false)}})));
}

}  // namespace
}  // namespace steward::sandbox
