// Once-only boot devices, their clearing, plans and read-back, through the
// tool, the real nvram and vigild on fake firmware variables.
#include <gtest/gtest.h>

#include "tests/nvram/FakeFirmware.h"
#include "tests/sandbox/Sandbox.h"

namespace steward::sandbox {
namespace {

std::string variable(std::string name) { return kFakeVariables + name + "-" + kGlobalGuid; }
ValueRef text(const char* s) { return s ? makeString(s) : nullptr; }

// A dictionary of the entries that are not none.
MutableDictionaryRef dict(std::initializer_list<std::pair<const char*, ValueRef>> entries) {
  auto dictionary = makeMutableDictionary();
  for (const auto& [key, value] : entries) {
    if (value) dictionary->setObject(value, key);
  }
  return dictionary;
}

MutableDictionaryRef verified(const char* requested, const char* observed, const char* previous,
                              bool agree, const char* failure = nullptr) {
  return dict({{"Message", text("SUCCESS")}, {"Failure", text(failure)},
               {"Verified", dict({{"Requested", text(requested)}, {"Observed", text(observed)},
                                  {"Previous", text(previous)}, {"Agree", makeBoolean(agree)}})}});
}

// A plan to run nvram with `argument`, changing `key` (none: no change).
MutableDictionaryRef plan(bool allowed, const char* argument, const char* key, const char* old,
                          const char* replacement, const char* failure = nullptr) {
  std::string target = "IODeviceTree:/options " + std::string(key ? key : "");
  ValueRef run = std::string(argument) == "-d"
      ? arrayOf({text("/usr/sbin/nvram"), text("-d"), text("boot-device-once")})
      : arrayOf({text("/usr/sbin/nvram"), text(argument)});
  auto changes = key ? arrayOf({dict({{"Target", makeString(target)}, {"Old", text(old)},
                                      {"New", text(replacement)}})}) : arrayOf({});
  return dict({{"Failure", text(failure)},
               {"Plan", dict({{"Allowed", makeBoolean(allowed)}, {"Run", arrayOf({run})},
                              {"Changes", changes}})}});
}

// The steps run in order on one machine: entries 1 "debian", 2 "old"
// (inactive) and 3 "PXE", BootOrder 3 1. `restart` stands for a start of
// the machine: the firmware drops BootNext and vigild publishes afresh.
TEST(BootSandbox, OnceDevicesArePendingUntilUsedOrCleared) {
  const std::string once = "<key>once</key><true/>", clear = "<key>clearOnce</key><true/>",
                    dry = "<key>dryRun</key><true/>";
  auto path = [](std::string p) { return "<key>bootpath</key><string>" + p + "</string>"; };
  auto get = [](const char* once) { return dict({{"Message", text("Boot0003")},
                                                 {"OnceDevice", text(once)}}); };
  auto entry = [](const char* name, const char* description, bool active) {
    return dict({{"Name", text(name)}, {"Description", text(description)},
                 {"Active", makeBoolean(active)}});
  };
  const std::string restart = "rm -f " + variable("BootNext") + " /run/vigildPort; vigild & "
                              "while [ ! -S /run/vigildPort ]; do sleep 0.01; done; kill $!";
  const std::tuple<const char*, std::string, std::string, std::string, MutableDictionaryRef>
      steps[] = {
      {"alice", restart, "getBootPath", once, get("")},
      {"alice", "", "setBootPath", path("debian") + once,
       verified("Boot0001", "Boot0001", nullptr, true)},
      // The persistent device stays what it was, the once-device pending.
      {"alice", "", "getBootPath", once, get("Boot0001")},
      {"alice", "", "getBootPath", "", get(nullptr)},
      {"alice", "", "setBootPath", path("Boot0001") + dry,
       plan(true, "boot-device=Boot0001", "boot-device", "Boot0003", "Boot0001")},
      {"alice", "", "setBootPath", path("PXE") + dry,
       plan(true, "boot-device=PXE", nullptr, nullptr, nullptr)},
      {"carol", "", "setBootPath", clear + dry,
       plan(false, "-d", "boot-device-once", nullptr, nullptr)},
      {"carol", "", "setBootPath", clear, dict({{"Message", text("CONNECT-AUTH")}})},
      {"carol", "", "getBootPath", once, dict({{"Message", text("CONNECT-AUTH")}})},
      {"alice", "", "setBootPath", path("nope") + once + dry,
       plan(true, "boot-device-once=nope", nullptr, nullptr, nullptr,
            "no boot entry is named \"nope\"")},
      {"alice", "", "setBootPath", path("old") + once,
       verified("old", "Boot0001", "Boot0001", false,
                "nvram: Boot0002 is inactive: the firmware skips it")},
      {"alice", "", "setBootPath", clear, verified("", "", "Boot0001", true)},
      {"alice", "", "setBootPath", clear, verified("", "", "", true)},
      {"alice", "", "getBootPath", "<key>list</key><true/>",
       dict({{"Message", text("Boot0003")}, {"OnceDevice", text("")},
             {"Devices", arrayOf({entry("Boot0001", "debian", true), entry("Boot0002", "old", false),
                                  entry("Boot0003", "PXE", true)})}})},
      {"alice", "", "setBootPath", path("PXE") + once,
       verified("Boot0003", "Boot0003", nullptr, true)},
      {"alice", restart, "getBootPath", once, get("")},
  };
  Sandbox sandbox;
  sandbox.writeFile(variable("Boot0001"), variableFile(loadOption(u"debian")));
  sandbox.writeFile(variable("Boot0002"), variableFile(loadOption(u"old", 0)));
  sandbox.writeFile(variable("Boot0003"), variableFile(loadOption(u"PXE")));
  sandbox.writeFile(variable("BootOrder"), variableFile(entryNumbers({3, 1})));
  for (const auto& [user, shell, command, more, reply] : steps) {
    SCOPED_TRACE(command + more);
    sandbox.writeFile("/tmp/request", request(command, more));
    auto got = sandbox.run({.environment = {{"REMOTE_USER", user}},
                            .shell = "{ :; " + shell + "\n} >/dev/null; steward_kestrel </tmp/request",
                            .firmware = RunOptions::Firmware::kFake});
    reply->setObject(makeString(command), "command");
    EXPECT_TRUE(isEqual(parsed(got.output), reply)) << got.output;
  }
  EXPECT_EQ(sandbox.readFile(variable("BootOrder")), variableFile(entryNumbers({3, 1})));
  EXPECT_EQ(sandbox.readFile(variable("BootNext")), "");
}

}  // namespace
}  // namespace steward::sandbox
