#include "vigild/AlertMail.h"

#include <cstdio>
#include <map>

namespace steward::vigild {
namespace {

const std::map<std::string, std::string> kBuiltInResponses = {
    {"AlarmSubject", "{sensor} {level} on {host}"},
    {"ClearSubject", "{sensor} back to {level} on {host}"},
    {"AlarmBody",
     "{sensor} ({kind}, {chip}) on {host} is {level}, was {was}.\n"
     "Value: {value}\nLimits: {limits}\nTime: {time}\n"},
};

std::string number(double value, const std::string& unit) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return unit.empty() ? text : std::string(text) + " " + unit;
}

std::string response(const MailSettings& settings, const std::string& name) {
  for (const std::string& key : {name, "Alarm" + name.substr(5)}) {
    if (auto found = settings.responses.find(key); found != settings.responses.end())
      return found->second;
    if (auto found = kBuiltInResponses.find(key); found != kBuiltInResponses.end())
      return found->second;
  }
  return {};
}

class Filler {
 public:
  Filler(const MailSettings& settings, const Alert& alert, const std::string& host,
         std::time_t time)
      : settings_(settings) {
    const SensorReading& r = alert.reading;
    std::string limits;
    const std::pair<const std::optional<double>*, const char*> bounds[] = {
        {&r.min, "min"}, {&r.max, "max"}, {&r.crit, "crit"}};
    for (const auto& [limit, name] : bounds) {
      if (*limit) limits += (limits.empty() ? "" : ", ") + word(name) + " " + number(**limit, r.unit);
    }
    char when[64];
    std::tm local;
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S %Z", localtime_r(&time, &local));
    fields_ = {{"sensor", r.label}, {"chip", r.chip}, {"kind", word(r.kind)},
               {"value", number(r.value, r.unit)}, {"limits", limits.empty() ? word("none") : limits},
               {"level", word(levelName(alert.level))}, {"was", word(levelName(alert.was))},
               {"host", host}, {"time", when}};
  }

  // The template with every known {name} replaced; others stay as written.
  std::string fill(const std::string& text) const {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
      std::size_t close = text[i] == '{' ? text.find('}', i) : std::string::npos;
      auto field = close == std::string::npos ? fields_.end()
                                              : fields_.find(text.substr(i + 1, close - i - 1));
      if (field == fields_.end()) {
        out += text[i++];
      } else {
        out += field->second;
        i = close + 1;
      }
    }
    return out;
  }

 private:
  std::string word(const std::string& english) const {
    auto found = settings_.localizable.find(english);
    return found == settings_.localizable.end() ? english : found->second;
  }

  const MailSettings& settings_;
  std::map<std::string, std::string> fields_;
};

// Control characters become spaces: a header stays one line.
std::string oneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  return text;
}

std::string base64(std::string_view bytes) {
  static const char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
    std::size_t taken = std::min<std::size_t>(3, bytes.size() - i);
    for (std::size_t k = 0; k < 4; ++k) out += k <= taken ? kDigits[(group >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

// Plain ASCII as it is; else encoded words of at most 45 bytes of text each
// (whole characters), on folded lines.
std::string encodedHeaderText(const std::string& text) {
  bool ascii = true;
  for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return text;
  std::string out;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = std::min(text.size(), start + 45);
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    out += (start == 0 ? "" : "\n ") + std::string("=?UTF-8?B?") +
           base64(std::string_view(text).substr(start, end - start)) + "?=";
    start = end;
  }
  return out;
}

// Headers for sendmail -t, a blank line and the body.
AlertMail composed(const MailSettings& settings, const std::string& subject,
                   const std::string& body, std::time_t time) {
  AlertMail mail;
  mail.subject = oneLine(settings.subjectPrefix + subject);
  std::string to;
  for (const std::string& recipient : settings.recipients)
    to += (to.empty() ? "" : ", ") + oneLine(recipient);
  char date[64];
  std::tm local;
  std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S %z", localtime_r(&time, &local));
  if (!settings.sender.empty()) mail.message += "From: " + oneLine(settings.sender) + "\n";
  mail.message += "To: " + to + "\nSubject: " + encodedHeaderText(mail.subject) +
                  "\nDate: " + date +
                  "\nAuto-Submitted: auto-generated\nMIME-Version: 1.0\n"
                  "Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit\n\n" +
                  body;
  return mail;
}

}  // namespace

AlertMail composeAlertMail(const MailSettings& settings, const Alert& alert,
                           const std::string& host, std::time_t time) {
  Filler filler(settings, alert, host, time);
  std::string event = alert.level == Level::kOk ? "Clear" : "Alarm";
  return composed(settings, filler.fill(response(settings, event + "Subject")),
                  filler.fill(response(settings, event + "Body")), time);
}

AlertMail composeTestMail(const MailSettings& settings, const std::string& host,
                          std::time_t time) {
  return composed(settings, "test mail from " + host,
                  "vigild on " + host + " sends its alarm mail to this address.\n", time);
}

}  // namespace steward::vigild
