// Once-only boot devices, their clearing, plans and read-back, through the
// tool, the real nvram and vigild on fake firmware variables.
#include <gtest/gtest.h>

#include "tests/nvram/FakeFirmware.h"
#include "tests/sandbox/Sandbox.h"

namespace steward::sandbox {
namespace {

std::string variable(std::string name) { return kFakeVariables + name + "-" + kGlobalGuid; }
ValueRef text(const char* s) { return makeString(s); }

// The steps run in order on one machine: entries 1 "debian", 2 "old"
// (inactive) and 3 "PXE", BootOrder 3 1. "restart" stands for a start of
// the machine: the firmware drops BootNext and vigild publishes afresh.
TEST(BootSandbox, OnceDevicesArePendingUntilUsedOrCleared) {
  const std::string once = "<key>once</key><true/>", clear = "<key>clearOnce</key><true/>",
                    dry = "<key>dryRun</key><true/>";
  auto path = [](const char* p) { return "<key>bootpath</key><string>" + std::string(p) + "</string>"; };
  auto verified = [](ValueRef requested, ValueRef observed, ValueRef previous, bool agree) {
    auto v = dictionaryOf({{"Requested", requested}, {"Agree", makeBoolean(agree)}});
    if (observed) v->setObject(observed, "Observed");
    if (previous) v->setObject(previous, "Previous");
    return dictionaryOf({{"Message", text("SUCCESS")}, {"Verified", v}});
  };
  auto plan = [](bool allowed, ArrayRef run, ArrayRef changes) {
    return dictionaryOf({{"Plan", dictionaryOf({{"Allowed", makeBoolean(allowed)},
                                                {"Run", arrayOf({run})}, {"Changes", changes}})}});
  };
  auto nvram = [](std::vector<ValueRef> args) {
    args.insert(args.begin(), makeString("/usr/sbin/nvram"));
    return std::make_shared<Array>(args);
  };
  auto change = [](const char* key, ValueRef old, ValueRef replacement) {
    auto c = dictionaryOf({{"Target", makeString(std::string("IODeviceTree:/options ") + key)}});
    if (old) c->setObject(old, "Old");
    if (replacement) c->setObject(replacement, "New");
    return arrayOf({c});
  };
  auto entry = [](const char* name, const char* description, bool active) {
    return dictionaryOf({{"Name", text(name)}, {"Description", text(description)},
                         {"Active", makeBoolean(active)}});
  };
  auto failed = [](MutableDictionaryRef reply, const char* failure) {
    reply->setObject(text(failure), "Failure");
    return reply;
  };
  auto message = [](const char* m) { return dictionaryOf({{"Message", text(m)}}); };
  auto status = [](const char* failure) {
    return dictionaryOf({{"OSStatus", makeInteger(-50)}, {"Failure", text(failure)}});
  };
  const char* restart = "rm -f /sys/firmware/efi/efivars/BootNext-* /run/vigildPort; vigild & "
                        "while [ ! -S /run/vigildPort ]; do sleep 0.01; done; kill $!";
  auto get = [&](const char* once) {
    return dictionaryOf({{"Message", text("Boot0003")}, {"OnceDevice", text(once)}});
  };
  struct Step {
    const char* user;
    std::string shell, command, more;
    MutableDictionaryRef reply;
  };
  const Step steps[] = {
      {"alice", restart, "getBootPath", once, get("")},
      {"alice", "", "setBootPath", path("debian") + once,
       verified(text("Boot0001"), text("Boot0001"), nullptr, true)},
      // The persistent device stays what it was, the once-device pending.
      {"alice", "", "getBootPath", once, get("Boot0001")},
      {"alice", "", "getBootPath", "", message("Boot0003")},
      {"alice", "", "setBootPath", path("Boot0001") + dry,
       plan(true, nvram({text("boot-device=Boot0001")}),
            change("boot-device", text("Boot0003"), text("Boot0001")))},
      {"alice", "", "setBootPath", path("PXE") + dry,
       plan(true, nvram({text("boot-device=PXE")}), arrayOf({}))},
      {"carol", "", "setBootPath", clear + dry,
       plan(false, nvram({text("-d"), text("boot-device-once")}),
            change("boot-device-once", nullptr, nullptr))},
      {"carol", "", "setBootPath", clear, message("CONNECT-AUTH")},
      {"carol", "", "getBootPath", once, message("CONNECT-AUTH")},
      {"alice", "", "setBootPath", path("nope") + once + dry,
       failed(plan(true, nvram({text("boot-device-once=nope")}), arrayOf({})),
              "no boot entry is named \"nope\"")},
      {"alice", "", "setBootPath", path("old") + once,
       failed(verified(text("old"), text("Boot0001"), text("Boot0001"), false),
              "nvram: Boot0002 is inactive: the firmware skips it")},
      {"alice", "", "setBootPath", path("debian") + "<key>once</key><integer>1</integer>",
       status("\"once\" and \"clearOnce\" must be booleans")},
      {"alice", "", "setBootPath", "<key>bootpath</key><integer>3</integer>" + once,
       status("\"bootpath\" must be a string without NUL bytes")},
      {"alice", "", "setBootPath", clear,
       verified(text(""), text(""), text("Boot0001"), true)},
      {"alice", "", "setBootPath", clear, verified(text(""), text(""), text(""), true)},
      {"alice", "", "getBootPath", "<key>list</key><true/>",
       dictionaryOf({{"Message", text("Boot0003")}, {"OnceDevice", text("")},
                     {"Devices", arrayOf({entry("Boot0001", "debian", true),
                                          entry("Boot0002", "old", false),
                                          entry("Boot0003", "PXE", true)})}})},
      {"alice", "", "setBootPath", path("PXE") + once,
       verified(text("Boot0003"), text("Boot0003"), nullptr, true)},
      {"alice", restart, "getBootPath", once, get("")},
  };
  Sandbox sandbox;
  sandbox.writeFile(variable("Boot0001"), variableFile(loadOption(u"debian")));
  sandbox.writeFile(variable("Boot0002"), variableFile(loadOption(u"old", 0)));
  sandbox.writeFile(variable("Boot0003"), variableFile(loadOption(u"PXE")));
  sandbox.writeFile(variable("BootOrder"), variableFile(entryNumbers({3, 1})));
  for (const Step& step : steps) {
    SCOPED_TRACE(step.command + step.more);
    sandbox.writeFile("/tmp/request", request(step.command, step.more));
    auto got = sandbox.run({.environment = {{"REMOTE_USER", step.user}},
                            .shell = "{ " + (step.shell.empty() ? ":" : step.shell) +
                                     "; } >/dev/null; steward_kestrel </tmp/request",
                            .firmware = RunOptions::Firmware::kFake});
    step.reply->setObject(makeString(step.command), "command");
    EXPECT_TRUE(isEqual(parsed(got.output), step.reply)) << got.output;
  }
  EXPECT_EQ(sandbox.readFile(variable("BootOrder")), variableFile(entryNumbers({3, 1})));
  EXPECT_EQ(sandbox.readFile(variable("BootNext")), "");
}

}  // namespace
}  // namespace steward::sandbox
