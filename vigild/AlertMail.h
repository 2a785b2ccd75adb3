// The mail about one alert, for `sendmail -t`: headers (To, From, Subject,
// Date, MIME), a blank line and the body, lines ending in a line feed.
// Texts come from the settings' "Responses" templates, or the built-in
// ones, with {sensor}, {chip}, {kind}, {value}, {limits}, {level}, {was},
// {host} and {time} filled in; words of the daemon's own (levels, kinds)
// go through "Localizable". Control characters never reach a header, so
// neither settings nor sensor labels can add header lines; a subject that
// is not plain ASCII is encoded (RFC 2047).
#pragma once

#include <ctime>
#include <string>

#include "vigild/AlertTracker.h"
#include "vigild/Settings.h"

namespace steward::vigild {

struct AlertMail {
  std::string subject;  // as shown, for log lines
  std::string message;  // what sendmail reads
};

AlertMail composeAlertMail(const MailSettings& settings, const Alert& alert,
                           const std::string& host, std::time_t time);

// A mail that only shows the settings reach the recipients: the subject
// prefix, "test mail from HOST", and a short body.
AlertMail composeTestMail(const MailSettings& settings, const std::string& host,
                          std::time_t time);

}  // namespace steward::vigild
