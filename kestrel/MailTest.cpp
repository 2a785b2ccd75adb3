#include "kestrel/MailTest.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "kestrel/ChangeReport.h"
#include "platform/MessagePort.h"
#include "platform/PropertyList.h"
#include "platform/XmlPropertyList.h"

namespace steward {
namespace {

constexpr const char* kMonitorPortName = "vigildPort";
constexpr double kSendTimeout = 5.0;

DictionaryRef verdict(bool accepted, const std::string& error) {
  auto reply = makeMutableDictionary();
  reply->setObject(makeBoolean(accepted), "Accepted");
  if (!accepted) reply->setObject(makeString(error), "Error");
  return reply;
}

bool namesSecret(std::string key) {
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return key.find("password") != std::string::npos;
}

}  // namespace

bool asksForTestMail(const DictionaryRef& request) {
  auto flag = as<Boolean>(request->objectForKey("test"));
  return flag && flag->value();
}

DictionaryRef sendTestMail() {
  auto port = MessagePort::createRemote(kMonitorPortName);
  if (!port) return verdict(false, "the monitor is not running");
  std::string bytes, error;
  if (port->sendRequest(kTestMailMessageID, {}, kSendTimeout, kTestMailWait, &bytes) !=
      MessagePort::kSuccess)
    return verdict(false, "the monitor did not answer");
  auto answer = as<Dictionary>(readXMLPropertyList(bytes, Mutability::kImmutable, &error));
  auto accepted = answer ? as<Boolean>(answer->objectForKey("Accepted")) : nullptr;
  if (!accepted) return verdict(false, "the monitor's answer could not be read");
  auto why = as<String>(answer->objectForKey("Error"));
  return verdict(accepted->value(), why ? why->str() : "the mail system refused it");
}

void removeMailSecrets(const ValueRef& settings) {
  if (auto array = as<Array>(settings)) {
    for (const ValueRef& item : array->objects()) removeMailSecrets(item);
  }
  auto dictionary = as<MutableDictionary>(settings);
  if (!dictionary) return;
  for (const std::string& key : dictionary->allKeys()) {
    if (namesSecret(key)) {
      dictionary->removeObjectForKey(key);
    } else {
      removeMailSecrets(dictionary->objectForKey(key));
    }
  }
}

DictionaryRef planMailSettings(const std::string& path, const DictionaryRef& settings,
                               bool test) {
  std::vector<PlannedChange> changes;
  if (settings) {
    std::string error;
    ValueRef old = propertyListFromFile(path, Mutability::kMutableContainers, nullptr, &error);
    // Containers made mutable at every depth, for the secrets to go.
    std::string bytes;
    ValueRef replacement =
        propertyListToData(settings, PropertyListFormat::kXML, &bytes, &error)
            ? readXMLPropertyList(bytes, Mutability::kMutableContainers, &error)
            : nullptr;
    for (const ValueRef& shown : {old, replacement}) removeMailSecrets(shown);
    changes.push_back({path, old, replacement});
  }
  std::vector<std::vector<std::string>> run;
  if (test) run.push_back({"/usr/sbin/sendmail", "-t", "-i"});
  auto reply = makeMutableDictionary();
  reply->setObject(makePlan(true, run, changes), "Plan");
  return reply;
}

}  // namespace steward
