#include "host/AuditRecord.h"

#include <algorithm>
#include <cctype>

#include "host/JsonText.h"
#include "host/SystemLog.h"
#include "kestrel/ChangeReport.h"

namespace steward {

namespace {

constexpr std::string_view kChangingCommands[] = {"email", "serviceid", "restart", "shutdown",
                                                  "setBootPath"};
constexpr std::string_view kSecretWords[] = {"password", "secret", "passphrase"};
constexpr const char* kMask = "********";
constexpr std::size_t kMaximumParametersLength = 64 * 1024;

bool namesSecret(std::string key) {
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return std::any_of(std::begin(kSecretWords), std::end(kSecretWords),
                     [&](std::string_view word) { return key.find(word) != std::string::npos; });
}

// The reply's verdict: its message, status or error, in that order.
ValueRef resultOf(const DictionaryRef& reply) {
  if (!reply) return nullptr;
  for (const char* key : {"Message", "OSStatus", "error"}) {
    if (ValueRef value = reply->objectForKey(key)) return value;
  }
  return nullptr;
}

ValueRef verified(const DictionaryRef& reply, const char* key) {
  auto check = reply ? as<Dictionary>(reply->objectForKey("Verified")) : nullptr;
  return check ? check->objectForKey(key) : nullptr;
}

std::string member(const char* key, const ValueRef& value) {
  return jsonText(makeString(key)) + ":" + jsonText(value);
}

}  // namespace

bool is_changing_command(std::string_view command) {
  return std::find(std::begin(kChangingCommands), std::end(kChangingCommands), command) !=
         std::end(kChangingCommands);
}

bool is_refusal(const DictionaryRef& reply) {
  auto message = reply ? as<String>(reply->objectForKey("Message")) : nullptr;
  return message && message->str() == "CONNECT-AUTH";
}

ValueRef masked_secrets(const ValueRef& value) {
  if (auto array = as<Array>(value)) {
    auto copy = makeMutableArray();
    for (const ValueRef& item : array->objects()) copy->addObject(masked_secrets(item));
    return copy;
  }
  auto dictionary = as<Dictionary>(value);
  if (!dictionary) return value;
  auto copy = makeMutableDictionary();
  for (const auto& [key, item] : dictionary->entries()) {
    copy->setObject(namesSecret(key) ? makeString(kMask) : masked_secrets(item), key);
  }
  return copy;
}

std::string audit_record_body(const DictionaryRef& request, const StringRef& user,
                              const DictionaryRef& reply, double unixTime) {
  auto parameters = request->mutableCopy();
  parameters->removeObjectForKey("command");
  parameters->removeObjectForKey("clientContext");
  std::string shown = jsonText(masked_secrets(parameters));
  // One outsized request must not swell every later append's read of the log.
  if (shown.size() > kMaximumParametersLength) {
    shown = jsonText(makeString("<" + std::to_string(shown.size()) + " bytes, not kept>"));
  }
  return member("time", makeString(isoTime(unixTime))) + "," + member("user", user) + "," +
         member("command", request->objectForKey("command")) + ",\"parameters\":" + shown + "," +
         member("old", masked_secrets(verified(reply, "Previous"))) + "," +
         member("new", masked_secrets(verified(reply, "Observed"))) + "," +
         member("result", resultOf(reply));
}

void record_request(AuditLog& log, const DictionaryRef& request, const StringRef& user,
                    const DictionaryRef& reply, double unixTime) {
  auto command = as<String>(request->objectForKey("command"));
  bool changing = command && is_changing_command(command->str()) && !isDryRun(request);
  if (!changing && !is_refusal(reply)) return;
  std::string who = user ? user->str() : "-";
  std::string what = who + " " + (command ? command->str() : "-") + " " +
                     jsonText(resultOf(reply));
  std::string hash, error;
  // A system log that is behind never holds up the reply.
  if (log.append(audit_record_body(request, user, reply, unixTime), &hash, &error)) {
    log_notice_without_waiting("audit: " + what + " #" + hash.substr(0, 16) + "\n");
  } else {
    log_notice_without_waiting("audit: " + what + " not recorded: " + error + "\n");
  }
}

}  // namespace steward
