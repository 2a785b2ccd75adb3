// stewardctl: the administration service of one machine or many, from the
// command line, over HTTPS.
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "platform/PropertyList.h"
#include "stewardctl/ChangeText.h"
#include "stewardctl/CommandLine.h"
#include "stewardctl/Credentials.h"
#include "stewardctl/Discovery.h"
#include "stewardctl/JsonWriter.h"
#include "stewardctl/ReplyText.h"
#include "stewardctl/Transport.h"

namespace steward::ctl {
namespace {

constexpr int kUsageExit = 2;

bool readWholeFile(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *out = buffer.str();
  return !in.bad();
}

std::string xmlOf(const ValueRef& value) {
  std::string bytes, error;
  if (!propertyListToData(value, PropertyListFormat::kXML, &bytes, &error)) return "";
  return bytes;
}

int runDiscover(const Options& options) {
  std::vector<DiscoveredService> services;
  std::string error;
  if (!discoverServices(options.wait, &services, &error)) {
    std::cerr << "stewardctl: " << error << "\n";
    return 1;
  }
  if (options.output == OutputMode::kJson) {
    std::cout << "[";
    for (std::size_t i = 0; i < services.size(); ++i) {
      const auto& s = services[i];
      std::cout << (i ? "," : "") << "{\"name\":" << jsonString(s.name)
                << ",\"host\":" << jsonString(s.host) << ",\"address\":" << jsonString(s.address)
                << ",\"port\":" << s.port << "}";
    }
    std::cout << "]\n";
    return 0;
  }
  for (const auto& s : services) {
    std::cout << s.name << "\t" << s.address << "\t" << s.port << "\n";
  }
  if (services.empty()) std::cerr << "stewardctl: no service found\n";
  return 0;
}

bool confirmed(int tty, const Dictionary& request, const std::vector<Target>& targets) {
  std::string question = "Send \"" + textOf(request.objectForKey("command")) + "\" to";
  for (const auto& target : targets) question += " " + target.label;
  question += "? [y/N] ";
  (void)!write(tty, question.data(), question.size());
  char answer = 0;
  return read(tty, &answer, 1) == 1 && (answer == 'y' || answer == 'Y');
}

// Random, one per invocation: the same for every host and for a retry.
std::string newRequestId() {
  unsigned char bytes[16] = {};
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return "";
  std::string id;
  static const char kHex[] = "0123456789abcdef";
  for (unsigned char byte : bytes) {
    id += kHex[byte >> 4];
    id += kHex[byte & 15];
  }
  return id;
}

DictionaryRef withDryRun(const Dictionary& request) {
  auto copy = request.mutableCopy();
  copy->setObject(makeBoolean(true), "dryRun");
  return copy;
}

bool addCredentials(std::vector<Target>* targets, std::string* error) {
  std::string netrc;
  if (const char* home = std::getenv("HOME")) readWholeFile(std::string(home) + "/.netrc", &netrc);
  std::optional<Credentials> asked;
  for (auto& target : *targets) {
    if (auto entry = netrcLookup(netrc, target.host)) {
      target.credentials = *entry;
      continue;
    }
    if (!asked) asked = promptForCredentials(target.label, error);
    if (!asked) return false;
    target.credentials = *asked;
  }
  return true;
}

void showPaged(const std::string& text) {
  FILE* pager = nullptr;
  if (isatty(STDOUT_FILENO)) {
    const char* name = std::getenv("PAGER");
    setenv("LESS", "FRX", 0);
    pager = popen(name && *name ? name : "less", "w");
  }
  if (!pager) {
    std::cout << text;
    return;
  }
  fwrite(text.data(), 1, text.size(), pager);
  pclose(pager);
}

// The full answer of one host, for people.
void showText(const Dictionary& request, const Dictionary& reply, bool paged) {
  const std::string command = textOf(request.objectForKey("command"));
  if (auto plan = as<Dictionary>(reply.objectForKey("Plan"))) {
    std::cout << planText(*plan);
  } else if (command == "profile") {
    std::string text = textOf(reply.objectForKey("Profile"));
    if (paged) showPaged(text); else std::cout << text;
  } else if (command == "status" && request.count() == 1 && reply.objectForKey("Sensors")) {
    std::cout << statusTable(reply);
  } else if (command == "getBootPath" && reply.objectForKey("Devices")) {
    std::cout << bootListText(reply);
  } else if (command == "getAuditLog") {
    std::cout << auditTable(reply);
  } else if (command == "getBootPath") {
    std::cout << textOf(reply.objectForKey("Message")) << "\n";
  } else {
    std::cout << summaryOf(request, reply) << "\n";
  }
}

struct Result {
  std::string label;
  Outcome outcome;
};

// "email get" asks for the status and shows only its e-mail settings.
ValueRef shownPart(const Options& options, const DictionaryRef& reply) {
  if (options.command[0] == "email" && reply) return reply->objectForKey("Email");
  return reply;
}

// Sends `sent` to every target. A reply lost on the way to a request with
// an id is asked for once more with the same id: the service answers with
// its first reply instead of acting twice.
std::vector<Result> askAll(const std::vector<Target>& targets, const DictionaryRef& sent,
                           const TransportSettings& settings) {
  const std::string body = xmlOf(sent);
  auto exchanges = postToAll(targets, body, settings);
  std::vector<std::size_t> lost;
  std::vector<Target> again;
  for (std::size_t i = 0; sent->objectForKey("requestId") && i < targets.size(); ++i) {
    if (exchanges[i].transferred) continue;
    lost.push_back(i);
    again.push_back(targets[i]);
  }
  auto retried = again.empty() ? std::vector<Exchange>{} : postToAll(again, body, settings);
  for (std::size_t k = 0; k < retried.size(); ++k) exchanges[lost[k]] = retried[k];
  std::vector<Result> results;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    results.push_back({targets[i].label, judge(exchanges[i])});
  }
  return results;
}

int report(const Options& options, const Dictionary& request, const std::vector<Result>& results) {
  int exitStatus = 0;
  for (const auto& result : results) {
    if (!result.outcome.ok()) exitStatus = 1;
  }
  const bool single = results.size() == 1;
  const bool machine = options.output != OutputMode::kText;
  // Settings and raw replies are trees: shown as a property list.
  const bool tree = options.command[0] == "raw" ||
                    (options.command[0] == "email" && options.command[1] == "get");
  if (machine || tree) {
    auto failureOf = [](const Result& r) {
      auto box = makeMutableDictionary();
      box->setObject(makeString(r.outcome.failure), "failure");
      return box;
    };
    ValueRef shown;
    if (single) {
      shown = shownPart(options, results[0].outcome.reply);
    } else {
      auto byHost = makeMutableDictionary();
      for (const auto& r : results) {
        ValueRef part = r.outcome.ok() ? shownPart(options, r.outcome.reply) : nullptr;
        byHost->setObject(part ? part : failureOf(r), r.label);
      }
      shown = byHost;
    }
    if (shown) std::cout << (options.output == OutputMode::kJson ? jsonOf(shown) + "\n" : xmlOf(shown));
    if (single && !results[0].outcome.ok()) {
      std::cerr << "stewardctl: " << results[0].label << ": " << results[0].outcome.failure << "\n";
    }
    return exitStatus;
  }
  if (single) {
    const auto& r = results[0];
    if (r.outcome.ok()) showText(request, *r.outcome.reply, true);
    else std::cerr << "stewardctl: " << r.label << ": " << r.outcome.failure << "\n";
    return exitStatus;
  }
  std::size_t labelWidth = 0;
  for (const auto& r : results) labelWidth = std::max(labelWidth, r.label.size());
  const bool sections = options.command[0] == "profile" || options.dryRun;
  for (const auto& r : results) {
    if (sections && r.outcome.ok()) {
      std::cout << "== " << r.label << "\n";
      showText(request, *r.outcome.reply, false);
      continue;
    }
    std::cout << r.label << std::string(labelWidth - r.label.size() + 2, ' ')
              << (r.outcome.ok() ? summaryOf(request, *r.outcome.reply)
                                 : "FAILED: " + r.outcome.failure)
              << "\n";
  }
  return exitStatus;
}

int run(int argc, char** argv) {
  // A pager quit early must not kill us mid-write.
  signal(SIGPIPE, SIG_IGN);
  Options options;
  std::string error;
  if (!parseCommandLine(argc, argv, &options, &error)) {
    std::cerr << "stewardctl: " << error << "\n" << kUsage;
    return kUsageExit;
  }
  if (options.command[0] == "discover" && options.command.size() == 1) return runDiscover(options);
  std::string contents;
  int fileIndex = fileArgumentIndex(options.command);
  if (fileIndex >= 0 && !readWholeFile(options.command[fileIndex], &contents)) {
    std::cerr << "stewardctl: cannot read " << options.command[fileIndex] << "\n";
    return kUsageExit;
  }
  DictionaryRef request = requestFor(options.command, contents, &error);
  if (!request) {
    std::cerr << "stewardctl: " << error << "\n";
    return kUsageExit;
  }
  if (options.dryRun && !isChanging(*request)) {
    std::cerr << "stewardctl: --dry-run is for commands that change something\n";
    return kUsageExit;
  }
  if (options.dryRun) request = withDryRun(*request);
  std::vector<Target> targets;
  for (const auto& text : options.hosts) {
    Target target;
    if (!splitHostPort(text, &target.host, &target.port)) {
      std::cerr << "stewardctl: not a host: \"" << text << "\"\n";
      return kUsageExit;
    }
    target.label = text;
    targets.push_back(target);
  }
  if (options.all) {
    std::vector<DiscoveredService> services;
    if (!discoverServices(options.wait, &services, &error)) {
      std::cerr << "stewardctl: " << error << "\n";
      return 1;
    }
    for (const auto& s : services) {
      bool named = false;  // already asked for with -H
      for (const auto& t : targets) named = named || (t.host == s.host && t.port == s.port);
      if (!named) targets.push_back({s.host, s.host, s.address, s.port, {}});
    }
  }
  if (targets.empty() && !options.all) targets.push_back({"localhost", "localhost", "", 443, {}});
  if (targets.empty()) {
    std::cerr << "stewardctl: no host found\n";
    return 1;
  }
  const bool ask = isDestructive(*request) && !options.dryRun && !options.yes;
  int tty = ask ? open("/dev/tty", O_RDWR | O_CLOEXEC) : -1;
  if (ask && tty < 0) {
    std::cerr << "stewardctl: this command changes the machine; confirm it with --yes\n";
    return kUsageExit;
  }
  if (!addCredentials(&targets, &error)) {
    std::cerr << "stewardctl: " << error << "\n";
    return kUsageExit;
  }
  const TransportSettings settings{options.cacert, options.timeout, options.parallel};
  if (ask) {
    // What would happen, host by host, before the question.
    Options planned = options;
    planned.dryRun = true;
    planned.output = OutputMode::kText;
    DictionaryRef plan = withDryRun(*request);
    report(planned, *plan, askAll(targets, plan, settings));
    bool yes = confirmed(tty, *request, targets);
    close(tty);
    if (!yes) return kUsageExit;
  }
  if (std::string id = newRequestId(); !id.empty()) request = withRequestId(request, id);
  return report(options, *request, askAll(targets, request, settings));
}

}  // namespace
}  // namespace steward::ctl

int main(int argc, char** argv) { return steward::ctl::run(argc, argv); }
