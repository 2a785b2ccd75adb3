#include "CommonLib/XinetdUtilities.h"

#include <signal.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "CommonLib/ProcessUtilities.h"
#include "CommonLib/WholeFile.h"
#include "platform/AtomicFile.h"
#include "platform/Format.h"

namespace steward {

namespace {

// Byte length of the blank (a horizontal space character, UTF-8) that
// starts at `at`, or 0.
std::size_t blankAt(std::string_view s, std::size_t at) {
  auto byte = [&](std::size_t k) {
    return at + k < s.size() ? static_cast<unsigned char>(s[at + k]) : 0u;
  };
  unsigned c = byte(0);
  if (c == ' ' || c == '\t') return 1;
  if (c == 0xC2 && byte(1) == 0xA0) return 2;                      // U+00A0
  if (c == 0xE1 && byte(1) == 0x9A && byte(2) == 0x80) return 3;   // U+1680
  if (c == 0xE2 && byte(1) == 0x80 &&
      (byte(2) <= 0x8A || byte(2) == 0xAF) && byte(2) >= 0x80) {
    return 3;                                                      // U+2000-200A, U+202F
  }
  if (c == 0xE2 && byte(1) == 0x81 && byte(2) == 0x9F) return 3;   // U+205F
  if (c == 0xE3 && byte(1) == 0x80 && byte(2) == 0x80) return 3;   // U+3000
  return 0;
}

std::size_t skipBlanks(std::string_view s, std::size_t at) {
  while (at < s.size()) {
    std::size_t n = blankAt(s, at);
    if (n == 0) break;
    at += n;
  }
  return at;
}

std::string_view trimBlanks(std::string_view s) {
  s.remove_prefix(skipBlanks(s, 0));
  for (;;) {
    std::size_t n = 0;
    for (std::size_t k = 1; k <= 3 && k <= s.size() && n == 0; ++k) {
      if (blankAt(s, s.size() - k) == k) n = k;
    }
    if (n == 0) return s;
    s.remove_suffix(n);
  }
}

// Walks one line word by word.
class Scanner {
 public:
  explicit Scanner(std::string_view line, std::size_t at = 0)
      : line_(line), at_(at) {}

  // The next run of non-blanks after any blanks; none at the line's end.
  std::optional<std::string_view> word() {
    std::size_t start = skipBlanks(line_, at_);
    if (start >= line_.size()) {
      at_ = line_.size();
      return std::nullopt;
    }
    std::size_t end = start;
    while (end < line_.size() && blankAt(line_, end) == 0) ++end;
    at_ = end;
    return line_.substr(start, end - start);
  }
  // Everything from the next non-blank on, trimmed; none at the line's end.
  std::optional<std::string_view> rest() {
    std::size_t start = skipBlanks(line_, at_);
    at_ = line_.size();
    if (start >= line_.size()) return std::nullopt;
    return trimBlanks(line_.substr(start));
  }
  std::size_t position() const { return at_; }
  void setPosition(std::size_t at) { at_ = at; }

 private:
  std::string_view line_;
  std::size_t at_;
};

// Byte length of the UTF-8 sequence that a lead byte starts.
std::size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

// A line of one character is read, and written back, with two spaces after.
std::string paddedLine(std::string_view line) {
  std::string padded(line);
  if (!line.empty() && sequenceLength(static_cast<unsigned char>(line[0])) == line.size()) {
    padded += "  ";
  }
  return padded;
}

enum State {
  kOutside = 0,
  kOtherHeader = 1,
  kOwnHeader = 2,
  kOtherBody = 3,
  kOwnBody = 4,
};

// One line as the walk sees it.
struct Line {
  enum Kind { kInert, kClosing, kEntry, kOther };
  Kind kind = kOther;
  std::string_view key, op;
  std::optional<std::string_view> value;
};

// Classifies `line` (padded) in `*state` and moves the state on. Closing
// lines and entry lines are reported only inside the service's own body;
// the state leaves the body after the caller has seen the closing line.
Line readLine(std::string_view line, const std::string& serviceName,
              State* state) {
  Line result;
  std::string_view trimmed = trimBlanks(line);
  if (trimmed.empty() || trimmed[0] == '#') {
    result.kind = Line::kInert;
    return result;
  }
  Scanner scanner(line);
  std::optional<std::string_view> first = scanner.word();
  switch (*state) {
    case kOutside: {
      if (first != "service") break;
      std::optional<std::string_view> name = scanner.word();
      if (!name) break;
      bool own = *name == serviceName;
      std::optional<std::string_view> rest = scanner.rest();
      bool opened = rest && rest->starts_with('{');
      *state = opened ? (own ? kOwnBody : kOtherBody)
                      : (own ? kOwnHeader : kOtherHeader);
      break;
    }
    case kOtherHeader:
    case kOwnHeader:
      if (trimmed[0] == '{') *state = *state == kOwnHeader ? kOwnBody : kOtherBody;
      break;
    case kOtherBody:
      if (first == "}") *state = kOutside;
      break;
    case kOwnBody:
      if (first == "}") {
        result.kind = Line::kClosing;
        *state = kOutside;
        break;
      }
      result.kind = Line::kEntry;
      result.key = *first;
      if (std::optional<std::string_view> op = scanner.word()) {
        result.op = *op;
        result.value = scanner.rest();
      }
      break;
  }
  return result;
}

std::string joinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += '\n';
    text += lines[i];
  }
  return text;
}

// The leading decimal integer of a pid file's text; 0 when there is none.
int leadingPid(const std::optional<std::string>& text) {
  if (!text) return 0;
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text->c_str(), &end, 10);
  if (end == text->c_str() || errno == ERANGE || value > INT_MAX || value < INT_MIN) {
    return 0;
  }
  return static_cast<int>(value);
}

bool isTrue(const ValueRef& value) {
  if (auto number = as<Integer>(value)) return number->value() != 0;
  if (auto number = as<Real>(value)) return number->value() != 0;
  return as<Boolean>(value)->value();
}

// Stores one option value as the argument line repeats it.
void storeOption(MutableDictionary* options, std::string letter, ValueRef value) {
  ValueRef old = options->objectForKey(letter);
  if (auto values = as<MutableArray>(old)) {
    values->addObject(std::move(value));
  } else if (as<String>(old)) {
    auto values = makeMutableArray();
    values->addObject(old);
    values->addObject(std::move(value));
    options->setObject(values, std::move(letter));
  } else {
    options->setObject(std::move(value), std::move(letter));
  }
}

// A service name must stay inside the service directory.
bool isPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

}  // namespace

XinetdUtilities::XinetdUtilities(std::string serviceName, std::string logPrefix,
                                 XinetdPaths paths)
    : fServiceName(std::move(serviceName)),
      fFilePath(isPlainFileName(fServiceName) ? paths.serviceDirectory + fServiceName
                                              : std::string()),
      fLogger(std::make_unique<SysLogger>(std::move(logPrefix))),
      fPaths(std::move(paths)) {
  std::string pid;
  if (readWholeFile(fPaths.pidFile, &pid)) fPid = std::move(pid);
}

std::unique_ptr<XinetdUtilities> XinetdUtilities::xinetdUtilitiesWithServiceName(
    std::string serviceName, std::string logPrefix) {
  return std::make_unique<XinetdUtilities>(std::move(serviceName),
                                           std::move(logPrefix));
}

std::optional<std::string> XinetdUtilities::valueForKeyInText(
    std::string_view text, std::string_view key) const {
  State state = kOutside;
  for (std::string_view raw : linesOf(text)) {
    std::string line = paddedLine(raw);
    Line read = readLine(line, fServiceName, &state);
    if (read.kind == Line::kEntry && read.key == key) {
      if (!read.value) return std::nullopt;
      return std::string(*read.value);
    }
  }
  return std::string();
}

std::optional<std::string> XinetdUtilities::editedText(
    std::string_view text, Edit edit, std::string_view key,
    std::string_view newValue) const {
  std::vector<std::string> out;
  State state = kOutside;
  bool replaced = false;  // an entry of the key was given the new value
  bool changed = false;
  for (std::string_view raw : linesOf(text)) {
    std::string line = paddedLine(raw);
    Line read = readLine(line, fServiceName, &state);
    if (read.kind == Line::kEntry && read.key == key) {
      if (edit == Edit::kRemove) {
        fLogger->messageWithPriority(6, "Deleting entry for key '%@'", key);
        changed = true;
        continue;
      }
      // An entry that already holds the value ends the edit only while
      // nothing has changed: an earlier replacement must still be written.
      if (read.value == newValue && !changed) {
        fLogger->messageWithPriority(
            6, "New setting equals old setting for key '%@' value '%@'", key,
            newValue);
        return std::nullopt;
      }
      if (read.value != newValue) {
        std::string_view op = read.op.empty() ? "=" : read.op;
        line = stringWithFormat("\t%@\t%@ %@", key, op, newValue);
        changed = true;
      }
      replaced = true;
    } else if (read.kind == Line::kClosing && edit == Edit::kSet && !replaced) {
      line = stringWithFormat("\t%@\t= %@\n}", key, newValue);
      changed = true;
    }
    out.push_back(std::move(line));
  }
  return joinLines(out);
}

std::optional<std::string> XinetdUtilities::textWithEntry(
    std::string_view text, std::string_view key, std::string_view newValue) const {
  return editedText(text, Edit::kSet, key, newValue);
}

std::string XinetdUtilities::textWithoutEntry(std::string_view text,
                                              std::string_view key) const {
  return *editedText(text, Edit::kRemove, key, {});
}

bool XinetdUtilities::getValueForKey(std::string_view key,
                                     std::optional<std::string>* value) const {
  std::string text;
  if (!value || !readWholeFile(fFilePath, &text)) return false;
  *value = valueForKeyInText(text, key);
  return true;
}

bool XinetdUtilities::setOrAddEntryForKey(std::string_view key,
                                          std::string_view newValue) const {
  // The key must read back as one word, and neither may end the line.
  if (Scanner(key).word() != key || key.find('\n') != std::string_view::npos ||
      newValue.find('\n') != std::string_view::npos) {
    return false;
  }
  std::string text;
  if (!readWholeFile(fFilePath, &text)) return false;
  std::optional<std::string> edited = textWithEntry(text, key, newValue);
  return !edited || writeFileAtomically(fFilePath, *edited);
}

bool XinetdUtilities::removeEntryForKey(std::string_view key) const {
  std::string text;
  if (key.empty() || !readWholeFile(fFilePath, &text)) return false;
  return writeFileAtomically(fFilePath, textWithoutEntry(text, key));
}

MutableDictionaryRef XinetdUtilities::dictionaryFromArgList(
    const std::optional<std::string>& argList) {
  if (!argList) return nullptr;
  std::string_view line = *argList;
  auto options = makeMutableDictionary();
  options->reserve(16);
  Scanner scanner(line);
  if (line.starts_with('/')) options->setObject(makeString(std::string(*scanner.word())), "path");
  for (;;) {
    std::size_t dash = line.find('-', scanner.position());
    if (dash == std::string_view::npos) break;
    scanner.setPosition(dash + 1);
    std::optional<std::string_view> token = scanner.word();
    if (!token) continue;
    std::size_t letterLength = sequenceLength(static_cast<unsigned char>((*token)[0]));
    std::string letter(token->substr(0, letterLength));
    ValueRef value;
    if (token->size() > letterLength) {
      value = makeString(std::string(token->substr(letterLength)));
    } else {
      std::size_t afterLetter = scanner.position();
      std::optional<std::string_view> candidate = scanner.word();
      if (candidate && candidate->starts_with('-')) {
        scanner.setPosition(afterLetter - 1);
      } else if (candidate) {
        value = makeString(std::string(*candidate));
      }
    }
    if (!value) value = makeBoolean(true);
    storeOption(options.get(), std::move(letter), std::move(value));
  }
  return options;
}

std::optional<std::string> XinetdUtilities::argListFromDictionary(
    const DictionaryRef& options) const {
  if (!options) return std::nullopt;
  ValueRef path = options->objectForKey("path");
  std::string line = path ? textOf(path) + " " : std::string();
  for (const Dictionary::Entry& entry : options->entries()) {
    if (entry.key == "path") continue;
    switch (entry.value->kind()) {
      case ValueKind::kString:
        line += stringWithFormat("-%@ %@ ", entry.key, entry.value);
        break;
      case ValueKind::kInteger:
      case ValueKind::kReal:
      case ValueKind::kBoolean:
        if (isTrue(entry.value)) line += stringWithFormat("-%@ ", entry.key);
        break;
      case ValueKind::kArray:
        for (const ValueRef& element : as<Array>(entry.value)->objects()) {
          line += stringWithFormat("-%@ %@ ", entry.key, element);
        }
        break;
      default:
        fLogger->messageWithPriority(
            4, "Unrecognized object type for service '%@' key '%@'",
            fServiceName, entry.key);
        break;
    }
  }
  return line;
}

bool XinetdUtilities::hup() const {
  int pid = leadingPid(fPid);
  if (pid <= 0) {
    fLogger->messageWithPriority(5, "Invalid pid; launching xinetd");
    return _launchXinetd(fPaths) == 0;
  }
  if (verify_pid_for_process_name(pid, fPaths.processName.c_str()) != pid ||
      kill(pid, SIGHUP) != 0) {
    fLogger->messageWithPriority(3, "Unable to hup xinetd - probably bad pid");
    return false;
  }
  fLogger->messageWithPriority(5, "hup signal sent to xinetd, pid=%d", pid);
  return true;
}

int XinetdUtilities::_launchXinetd(const XinetdPaths& paths) {
  return run_task_with_env(paths.launchPath,
                           {"-inetd_compat", "-pidfile", paths.pidFile},
                           nullptr, nullptr, nullptr, nullptr);
}

}  // namespace steward
