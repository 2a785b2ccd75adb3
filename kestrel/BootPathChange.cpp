#include "kestrel/BootPathChange.h"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kestrel/ChangeReport.h"
#include "platform/ProcessLauncher.h"

namespace steward {
namespace {

constexpr const char* kOptionsNodePath = "IODeviceTree:/options";
constexpr std::int32_t kParamErr = -50;

// The firmware's own state when nothing is pending, as a value that can
// be compared.
ValueRef orEmpty(const StringRef& value) { return value ? value : makeString(""); }

MutableDictionaryRef reply_with(const char* key, ValueRef value) {
  auto reply = makeMutableDictionary();
  reply->setObject(std::move(value), key);
  return reply;
}

DictionaryRef refusal(const std::string& reason) {
  auto reply = reply_with("OSStatus", makeInteger(kParamErr));
  reply->setObject(makeString(reason), "Failure");
  return reply;
}

// The tool's wait status and what it wrote, both outputs together.
struct ToolRun {
  int status = -1;
  std::string messages;
};

ToolRun runTool(const std::vector<std::string>& arguments) {
  ToolRun run;
  int fd = memfd_create("boot-tool", MFD_CLOEXEC);
  run.status = runProgram(arguments, fd >= 0 ? fd : STDERR_FILENO, &run.messages,
                          fd >= 0 ? fd : -1);
  if (fd < 0) return run;
  char buffer[4096];  // a refusal is one line
  ssize_t n = pread(fd, buffer, sizeof buffer, 0);
  if (run.status != -1 && n > 0) run.messages.assign(buffer, static_cast<std::size_t>(n));
  close(fd);
  return run;
}

// The tool's refusal; empty when it succeeded.
std::string failureOf(const ToolRun& run) {
  if (run.status == -1) return run.messages;
  if (WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) return {};
  std::string text = run.messages;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty()) return text;
  return "the firmware variable tool ended with status " + std::to_string(run.status);
}

StringRef publishedValue(const PublishedBoot& published, const std::string& key) {
  return key == "boot-device" ? published.device : published.once;
}

DictionaryRef planReply(const BootPlan& plan, bool admin) {
  std::vector<PlannedChange> changes;
  std::string target = std::string(kOptionsNodePath) + " " + plan.key;
  // The values are an administrator's to see, as "getBootPath" has it.
  if (!admin) {
    changes.push_back({target, nullptr, nullptr});
  } else if (plan.failure.empty() && !isEqual(plan.old, plan.replacement)) {
    changes.push_back({target, plan.old, plan.replacement});
  }
  auto reply = reply_with("Plan", makePlan(admin, {plan.arguments}, changes));
  if (admin && !plan.failure.empty()) reply->setObject(makeString(plan.failure), "Failure");
  return reply;
}

}  // namespace

bool usesBootChangeKeys(const DictionaryRef& request) {
  return request->objectForKey("once") || request->objectForKey("clearOnce") ||
         request->objectForKey("dryRun");
}

std::optional<BootChange> parseBootChange(const DictionaryRef& request, std::string* error) {
  ValueRef onceValue = request->objectForKey("once"), clearValue = request->objectForKey("clearOnce");
  auto once = as<Boolean>(onceValue), clear = as<Boolean>(clearValue);
  if ((onceValue && !once) || (clearValue && !clear)) {
    *error = "\"once\" and \"clearOnce\" must be booleans";
    return std::nullopt;
  }
  ValueRef pathValue = request->objectForKey("bootpath");
  if (clear && clear->value()) {
    if (pathValue || (once && once->value())) {
      *error = "\"clearOnce\" takes neither a boot path nor \"once\"";
      return std::nullopt;
    }
    return BootChange{BootChange::Kind::kClearOnce, {}};
  }
  auto path = as<String>(pathValue);
  if (!path || path->str().find('\0') != std::string::npos) {
    *error = "\"bootpath\" must be a string without NUL bytes";
    return std::nullopt;
  }
  return BootChange{once && once->value() ? BootChange::Kind::kOnce : BootChange::Kind::kPersistent,
                    path->str()};
}

BootPlan planBootChange(const BootChange& change, const PublishedBoot& published,
                        const std::string& toolPath) {
  BootPlan plan;
  if (change.kind == BootChange::Kind::kClearOnce) {
    plan.arguments = {toolPath, "-d", "boot-device-once"};
    plan.key = "boot-device-once";
    plan.old = published.once;
    return plan;
  }
  plan.key = change.kind == BootChange::Kind::kOnce ? "boot-device-once" : "boot-device";
  plan.arguments = {toolPath, plan.key + "=" + change.value};
  plan.old = publishedValue(published, plan.key);
  plan.replacement = makeString(change.value);
  if (!published.devices) return plan;
  if (auto number = resolveActiveBootEntry(*published.devices, change.value, &plan.failure)) {
    plan.replacement = makeString(bootEntryName(*number));
  }
  return plan;
}

DictionaryRef answerBootChange(const DictionaryRef& request, bool admin,
                               const std::string& toolPath, const DeviceRegistry& registry) {
  bool dryRun = isDryRun(request);
  if (!admin && !dryRun) return reply_with("Message", makeString("CONNECT-AUTH"));
  std::string error;
  auto change = parseBootChange(request, &error);
  if (!change) return refusal(error);
  PublishedBoot before = readPublishedBoot(registry);
  BootPlan plan = planBootChange(*change, before, toolPath);
  if (dryRun) return planReply(plan, admin);
  std::string failure = failureOf(runTool(plan.arguments));
  PublishedBoot after = readPublishedBoot(registry);
  StringRef observed = publishedValue(after, plan.key);
  // Without entries published before, nvram's publication names them now.
  if (!before.devices) plan.replacement = planBootChange(*change, after, toolPath).replacement;
  auto reply = reply_with("Message", makeString("SUCCESS"));
  bool clear = change->kind == BootChange::Kind::kClearOnce;
  reply->setObject(clear ? makeVerified(makeString(""), orEmpty(observed), orEmpty(plan.old))
                         : makeVerified(plan.replacement, observed, plan.old),
                   "Verified");
  if (!failure.empty()) reply->setObject(makeString(failure), "Failure");
  return reply;
}

}  // namespace steward
