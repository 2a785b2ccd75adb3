// The e-mail settings as the tool tests and shows them: a test mail that
// the monitor daemon sends with the settings in force, and the settings'
// secrets kept out of replies.
#pragma once

#include <cstdint>
#include <string>

#include "platform/PropertyValue.h"

namespace steward {

// The message id on the monitor's port that asks for a test mail; the reply
// (same id) is {"Accepted", "Error" when not} as an XML property list.
inline constexpr std::uint32_t kTestMailMessageID = 1;
// The monitor gives sendmail this long before it counts the test as failed;
// the tool waits a little longer for the answer.
inline constexpr double kTestMailSendmailLimit = 60.0;
inline constexpr double kTestMailWait = 70.0;

// Whether the request has "test" true.
bool asksForTestMail(const DictionaryRef& request);

// Asks the monitor to send a test mail now and waits for the mail system's
// verdict: {"Accepted", "Error" when not accepted}. A monitor that does not
// answer in time counts as not accepted.
DictionaryRef sendTestMail();

// Removes, at any depth, the entries whose key holds "password" in any case.
void removeMailSecrets(const ValueRef& settings);

// The plan of an "email" request: the settings file's old and new content
// (secrets left out: any caller may ask) when `settings` is given, and the
// monitor's sendmail when a test is asked for.
DictionaryRef planMailSettings(const std::string& path, const DictionaryRef& settings,
                               bool test);

}  // namespace steward
