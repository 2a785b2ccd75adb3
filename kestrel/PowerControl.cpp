#include "kestrel/PowerControl.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>

#include "host/CallerIdentity.h"
#include "kestrel/ChangeReport.h"
#include "kestrel/PowerPlan.h"
#include "platform/AtomicFile.h"
#include "platform/ProcessLauncher.h"

namespace steward {

namespace {

constexpr std::int32_t kParamErr = -50;
constexpr PowerAction kActions[] = {PowerAction::kRestart, PowerAction::kShutdown};

MutableDictionaryRef reply_with(const char* key, ValueRef value) {
  auto reply = makeMutableDictionary();
  reply->setObject(std::move(value), key);
  return reply;
}

MutableDictionaryRef param_error() { return reply_with("OSStatus", makeInteger(kParamErr)); }

// Output never reaches the reply on standard output.
void run(const ArgumentVector& argv) {
  std::string error;
  runProgram(argv, STDERR_FILENO, &error);
}

std::string run_for_output(const ArgumentVector& argv) {
  std::string output;
  int fd = memfd_create("power", MFD_CLOEXEC);
  if (fd < 0) return output;
  std::string error;
  runProgram(argv, fd, &error);
  char buffer[4096];
  if (lseek(fd, 0, SEEK_SET) == 0) {
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;) {
      if (n > 0) output.append(buffer, static_cast<std::size_t>(n));
      if (n < 0 && errno != EINTR) break;
    }
  }
  close(fd);
  return output;
}

// Properties as the manager has them; an empty unit names the manager.
std::map<std::string, std::string> show(const std::string& unit,
                                        std::initializer_list<const char*> properties) {
  ArgumentVector argv = {kSystemctlPath, "show"};
  for (const char* property : properties) argv.push_back(std::string("--property=") + property);
  if (!unit.empty()) argv.push_back(unit);
  std::map<std::string, std::string> values;
  std::string output = run_for_output(argv);
  for (std::size_t start = 0, end; start < output.size(); start = end + 1) {
    end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    std::size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

std::optional<PendingPower> read_pending() {
  auto timer = show(kPowerTimerUnit, {"ActiveState", "Description"});
  if (timer["ActiveState"] != "active") return std::nullopt;
  return parsePending(timer["Description"]);
}

ValueRef pending_text(const std::optional<PendingPower>& pending) {
  return makeString(pending ? describePending(*pending) : "none");
}

DictionaryRef pending_dictionary(const PendingPower& pending) {
  auto entry = makeMutableDictionary();
  entry->setObject(makeString(powerActionName(pending.action)), "Action");
  entry->setObject(makeString(powerModeName(pending.force)), "Mode");
  entry->setObject(Date::fromUnixTime(static_cast<double>(pending.at)), "At");
  if (pending.forceAfter > 0) entry->setObject(makeInteger(pending.forceAfter), "ForceAfter");
  return entry;
}

DictionaryRef pending_reply_entry(const PendingPower& pending) {
  auto entry = pending_dictionary(pending)->mutableCopy();
  entry->setObject(makeString(pending.user), "User");
  entry->setObject(Date::fromUnixTime(static_cast<double>(pending.asked)), "Asked");
  return entry;
}

// The job time-out of the action's target, as the manager has it now.
DictionaryRef job_timeout(PowerAction action) {
  auto target = show(powerTarget(action), {"JobTimeoutUSec", "JobTimeoutAction"});
  auto seconds = parseTimespan(target["JobTimeoutUSec"]);
  if (!seconds || target["JobTimeoutAction"].empty()) return nullptr;
  auto entry = makeMutableDictionary();
  entry->setObject(makeInteger(*seconds), "JobTimeoutSec");
  entry->setObject(makeString(target["JobTimeoutAction"]), "JobTimeoutAction");
  return entry;
}

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// What a request would start and change, in order: the files are written
// first, then the commands run.
struct PowerWork {
  std::vector<ArgumentVector> run;
  std::vector<PlannedChange> changes;
  std::vector<std::pair<std::string, std::optional<std::string>>> files;  // none: removed
};

// Stops a pending timer and leaves only the drop-in `keep` asks for (none
// for forceAfter 0), reloading the manager when a drop-in changes.
PowerWork replacing_work(bool stopTimer, PowerAction keep, std::int64_t forceAfter) {
  PowerWork work;
  if (stopTimer) work.run.push_back({kSystemctlPath, "stop", kPowerTimerUnit});
  for (PowerAction action : kActions) {
    std::string path = forceAfterDropInPath(action);
    std::optional<std::string> old = read_file(path), wanted;
    if (action == keep && forceAfter > 0) wanted = forceAfterDropIn(action, forceAfter);
    if (old == wanted) continue;
    work.files.push_back({path, wanted});
    work.changes.push_back({path, old ? makeString(*old) : nullptr,
                            wanted ? makeString(*wanted) : nullptr});
  }
  if (!work.files.empty()) work.run.push_back({kSystemctlPath, "daemon-reload"});
  return work;
}

PowerWork action_work(const PowerRequest& request, const PendingPower& next,
                      const std::optional<PendingPower>& previous) {
  PowerWork work = replacing_work(previous.has_value(), request.action, request.forceAfter);
  if (!request.message.empty()) work.run.push_back(wallCommand(next, request.message));
  if (request.delay > 0) {
    work.run.push_back(timerCommand(next, request.delay));
  } else {
    work.run.push_back(actionCommand(request.action, request.force));
  }
  if (previous || request.delay > 0) {
    work.changes.push_back({kPowerTimerUnit, previous ? pending_text(previous) : nullptr,
                            request.delay > 0 ? pending_text(next) : nullptr});
  }
  return work;
}

void carry_out(const PowerWork& work) {
  for (const auto& [path, contents] : work.files) {
    std::error_code ignored;
    if (!contents) {
      std::filesystem::remove(path, ignored);
      continue;
    }
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    (void)writeFileAtomically(path, *contents);
  }
  for (const ArgumentVector& argv : work.run) run(argv);
}

// An immediate action is seen as the manager stopping, under the job
// time-out that was asked for.
DictionaryRef verify_immediate(const PowerRequest& request, const DictionaryRef& previousTimeout) {
  auto requested = makeMutableDictionary(), observed = makeMutableDictionary();
  requested->setObject(makeString("stopping"), "SystemState");
  std::string state = show("", {"SystemState"})["SystemState"];
  if (!state.empty()) observed->setObject(makeString(state), "SystemState");
  if (request.forceAfter > 0) {
    requested->setObject(makeInteger(request.forceAfter), "JobTimeoutSec");
    requested->setObject(makeString(jobTimeoutAction(request.action)), "JobTimeoutAction");
    if (auto timeout = job_timeout(request.action)) observed->addEntriesFromDictionary(*timeout);
  }
  return makeVerified(requested, observed, previousTimeout);
}

}  // namespace

DictionaryRef powerActionReply(const DictionaryRef& request, const MutableDictionaryRef& context,
                               PowerAction action, const char* successMessage) {
  bool admin = context_user_is_admin(context);
  bool dryRun = isDryRun(request);
  if (!admin && !dryRun) return reply_with("Message", makeString("CONNECT-AUTH"));
  auto options = parsePowerRequest(request, action);
  if (!options) return param_error();

  std::int64_t now = std::time(nullptr);
  auto user = user_name_from_context(context);
  PendingPower next{action, options->force, now + options->delay, options->forceAfter, now,
                    user ? user->str() : ""};
  // Only an admin may learn what is pending.
  std::optional<PendingPower> previous = admin ? read_pending() : std::nullopt;
  PowerWork work = action_work(*options, next, previous);
  if (dryRun) return reply_with("Plan", makePlan(admin, work.run, work.changes));

  DictionaryRef previousTimeout = options->delay == 0 && options->forceAfter > 0
                                      ? job_timeout(action) : nullptr;
  carry_out(work);
  auto reply = reply_with("Message", makeString(successMessage));
  reply->setObject(pending_dictionary(next), "Scheduled");
  if (options->delay > 0) {
    reply->setObject(makeVerified(pending_text(next), pending_text(read_pending()),
                                  pending_text(previous)), "Verified");
  } else {
    reply->setObject(verify_immediate(*options, previousTimeout), "Verified");
  }
  return reply;
}

DictionaryRef powerScheduleReply(const DictionaryRef& request, const MutableDictionaryRef& context) {
  bool admin = context_user_is_admin(context);
  bool dryRun = isDryRun(request);
  if (!admin && !dryRun) return reply_with("Message", makeString("CONNECT-AUTH"));
  ValueRef cancelValue = request->objectForKey("cancel"), dryRunValue = request->objectForKey("dryRun");
  if ((cancelValue && !as<Boolean>(cancelValue)) || (dryRunValue && !as<Boolean>(dryRunValue)))
    return param_error();
  bool cancel = cancelValue && as<Boolean>(cancelValue)->value();

  std::optional<PendingPower> previous = admin ? read_pending() : std::nullopt;
  if (!cancel && !dryRun) {
    if (!previous) return reply_with("Message", makeString("NOTHING-PENDING"));
    auto reply = reply_with("Message", makeString("PENDING"));
    reply->setObject(pending_reply_entry(*previous), "Pending");
    return reply;
  }
  if (!cancel) return reply_with("Plan", makePlan(admin, {}, {}));
  PowerWork work = replacing_work(true, PowerAction::kRestart, 0);
  work.changes.push_back({kPowerTimerUnit, previous ? pending_text(previous) : nullptr, nullptr});
  if (dryRun) return reply_with("Plan", makePlan(admin, work.run, work.changes));
  if (!previous && work.files.empty()) return reply_with("Message", makeString("NOTHING-PENDING"));
  carry_out(work);
  auto reply = reply_with("Message", makeString("CANCELLED"));
  if (previous) reply->setObject(pending_reply_entry(*previous), "Cancelled");
  reply->setObject(makeVerified(makeString("none"), pending_text(read_pending()),
                                pending_text(previous)), "Verified");
  return reply;
}

}  // namespace steward
