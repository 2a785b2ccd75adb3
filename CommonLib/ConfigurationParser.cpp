#include "CommonLib/ConfigurationParser.h"

#include <errno.h>
#include <syslog.h>
#include <unistd.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <vector>

#include "CommonLib/KeyedContainer.h"
#include "CommonLib/NestedContainerAdditions.h"
#include "CommonLib/WholeFile.h"
#include "platform/AtomicFile.h"
#include "platform/Format.h"
#include "platform/PropertyList.h"
#include "platform/TextPropertyList.h"

namespace steward {

namespace {

constexpr const char* kMultipleErrors = "multiple_errors";

std::string_view trimmed(std::string_view text) {
  std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(" \t") - start + 1);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool isTrueText(std::string_view text) {
  return equalsIgnoringCase(text, "YES") || equalsIgnoringCase(text, "TRUE") ||
         equalsIgnoringCase(text, "1");
}

std::string_view withoutLeadingSpace(std::string_view text) {
  std::size_t start = text.find_first_not_of(" \t\n\v\f\r");
  return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

// The decimal integer at the start of the text, saturated to 32 bits.
std::int32_t leadingInteger(std::string_view text) {
  text = withoutLeadingSpace(text);
  bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = std::min<std::int64_t>(value * 10 + (c - '0'), std::int64_t{INT32_MAX} + 1);
  }
  if (negative) return static_cast<std::int32_t>(std::max<std::int64_t>(-value, INT32_MIN));
  return static_cast<std::int32_t>(std::min<std::int64_t>(value, INT32_MAX));
}

// The decimal number at the start of the text, in single precision.
float leadingReal(std::string_view text) {
  text = withoutLeadingSpace(text);
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  float value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value,
                                      std::chars_format::general);
  return error == std::errc() ? value : 0.0f;
}

// The shortest text that reads back to the value: in single precision when
// the value is one (as converted text is), else in double precision.
std::string realText(double value) {
  char buffer[64];
  auto single = static_cast<float>(value);
  auto [end, error] = single == value || std::isnan(value)
                          ? std::to_chars(buffer, buffer + sizeof buffer, single)
                          : std::to_chars(buffer, buffer + sizeof buffer, value);
  return error == std::errc() ? std::string(buffer, end) : textOf(makeReal(value));
}

std::string elementText(const ValueRef& value) {
  auto real = as<Real>(value);
  return real ? realText(real->value()) : textOf(value);
}

bool boolValue(const ValueRef& value) {
  if (auto boolean = as<Boolean>(value)) return boolean->value();
  if (auto integer = as<Integer>(value)) return integer->value() != 0;
  if (auto real = as<Real>(value)) return real->value() != 0;
  if (auto string = as<String>(value)) return isTrueText(trimmed(string->str()));
  return false;
}

template <class... Args>
void logLine(int priority, std::string_view format, const Args&... args) {
  syslog(priority, "%s",
         stringWithFormat(format, program_invocation_short_name, args...).c_str());
}

// A dictionary that is not there yet: a top-level mutable copy of the
// default's containers, the default itself otherwise.
ValueRef missingValue(const ValueRef& fallback) {
  if (auto dictionary = as<Dictionary>(fallback)) return dictionary->mutableCopy();
  if (auto array = as<Array>(fallback)) return array->mutableCopy();
  return fallback;
}

}  // namespace

std::shared_ptr<ConfigurationParser> ConfigurationParser::configurationParserWithFile(
    const Path& file, const Path& typesFile, const Path& defaultsFile, bool populateDefaults) {
  return std::make_shared<ConfigurationParser>(file, typesFile, defaultsFile, populateDefaults);
}

ConfigurationParser::ConfigurationParser(const Path& file, const Path& typesFile,
                                         const Path& defaultsFile, bool populateDefaults)
    : fFile(file) {
  setTypesDictionaryFromStringsFile(typesFile);
  setDefaultsDictionaryFromFile(defaultsFile);
  bool read = readFile();
  // Only a missing file is made from the defaults: one that is there but
  // does not read keeps the user's settings.
  bool missing = !read && fFile && access(fFile->c_str(), F_OK) != 0 && errno == ENOENT;
  if (!populateDefaults || !(read || missing) ||
      !populateMissingParametersInDictionary(dictionary(), fDefaultsDictionary)) {
    return;
  }
  if (!writeDictionary()) {
    findAndLogErrorForFile(*fFile, "initWithFile", false, std::nullopt, LOG_WARNING);
  }
}

const MutableDictionaryRef& ConfigurationParser::dictionary() {
  if (!fDictionary) fDictionary = makeMutableDictionary();
  return fDictionary;
}

const MutableArrayRef& ConfigurationParser::errors() {
  if (!fErrors) fErrors = makeMutableArray();
  return fErrors;
}

void ConfigurationParser::setTypesDictionaryFromStringsFile(const Path& path) {
  if (!path) {
    fTypesDictionary = nullptr;
    return;
  }
  std::string text;
  if (!readWholeFile(*path, &text)) {
    findAndLogErrorForFile(*path, "setTypesDictionaryFromStringsFile", true, std::nullopt,
                           LOG_WARNING);
    return;
  }
  std::string error;
  DictionaryRef types =
      as<Dictionary>(readOpenStepPropertyList(text, Mutability::kImmutable, &error));
  if (!types) {
    logLine(LOG_WARNING, "%s: %s File %s is not a valid strings file",
            "setTypesDictionaryFromStringsFile", *path);
    addError(stringWithFormat("%@: File %@ is not a valid strings file",
                              "setTypesDictionaryFromStringsFile", *path));
    return;
  }
  fTypesDictionary = types;
}

void ConfigurationParser::setDefaultsDictionaryFromFile(const Path& path) {
  if (!path) {
    fDefaultsDictionary = nullptr;
    return;
  }
  std::string error;
  DictionaryRef defaults =
      as<Dictionary>(propertyListFromFile(*path, Mutability::kImmutable, nullptr, &error));
  if (!defaults) {
    findAndLogErrorForFile(*path, "setDefaultsDictionaryFromFile", true, "plist", LOG_WARNING);
    return;
  }
  fDefaultsDictionary = defaults;
}

bool ConfigurationParser::hasFilePath(const char* method, std::int32_t* status) {
  if (fFile) return true;
  *status = ConfigurationParserNoFilePath;
  logLine(LOG_ERR, "%s: %s File path not specified", method);
  addError(stringWithFormat("%@: File path not specified", method));
  return false;
}

bool ConfigurationParser::writeDictionary() {
  std::string bytes, error;
  return propertyListToData(dictionary(), PropertyListFormat::kXML, &bytes, &error) &&
         writeFileAtomically(*fFile, bytes);
}

bool ConfigurationParser::readFile() {
  if (!hasFilePath("readFile", &fReadStatus)) return false;
  std::string error;
  MutableDictionaryRef read = as<MutableDictionary>(
      propertyListFromFile(*fFile, Mutability::kMutableContainers, nullptr, &error));
  if (!read) {
    fReadStatus = findAndLogErrorForFile(*fFile, "readFile", true, "plist", LOG_ERR);
    return false;
  }
  fReadStatus = ConfigurationParserNoError;
  fDictionary = read;
  return true;
}

bool ConfigurationParser::writeFile() {
  if (!hasFilePath("writeFile", &fWriteStatus)) return false;
  if (writeDictionary()) return true;
  fWriteStatus = findAndLogErrorForFile(*fFile, "writeFile", false, std::nullopt, LOG_ERR);
  return false;
}

ValueRef ConfigurationParser::objectForType(const std::optional<std::string>& type,
                                            std::string_view text) const {
  if (type == "Integer") return makeInteger(leadingInteger(text));
  if (type == "Real") return makeReal(leadingReal(text));
  return makeString(std::string(text));
}

ValueRef ConfigurationParser::objectForKey(std::string_view key, std::string_view text) const {
  StringRef declaration =
      fTypesDictionary ? as<String>(fTypesDictionary->objectForKey(key)) : nullptr;
  text = trimmed(text);
  if (!declaration) return makeString(std::string(text));
  std::vector<std::string_view> words = piecesOf(declaration->str(), " ");
  if (words.size() >= 2 && words[0] == "Array") {
    std::string_view separator = words.size() == 3 ? words[2] : " ";
    MutableArrayRef array = makeMutableArray();
    for (std::string_view piece : piecesOf(text, separator)) {
      array->addObject(objectForType(std::string(words[1]), trimmed(piece)));
    }
    return array;
  }
  if (words[0] == "Boolean" && words.size() == 3) {
    return makeBoolean(equalsIgnoringCase(text, words[1]));
  }
  if (words[0] == "Boolean" && words.size() == 1) return makeBoolean(isTrueText(text));
  return objectForType(declaration->str(), text);
}

ValueRef ConfigurationParser::stringForKey(std::string_view key, const ValueRef& value) const {
  StringRef declaration =
      fTypesDictionary ? as<String>(fTypesDictionary->objectForKey(key)) : nullptr;
  if (!declaration || declaration->str() == "String") return value;
  if (declaration->str() == "Integer") return makeString(textOf(value));
  if (declaration->str() == "Real") return makeString(elementText(value));
  std::vector<std::string_view> words = piecesOf(declaration->str(), " ");
  ArrayRef array = as<Array>(value);
  if (words.size() >= 2 && words[0] == "Array" && array) {
    std::string_view separator = words.size() == 3 ? words[2] : " ";
    std::string joined;
    for (std::size_t i = 0; i < array->count(); ++i) {
      if (i > 0) joined += separator;
      joined += elementText(array->objects()[i]);
    }
    return makeString(std::move(joined));
  }
  if (words[0] == "Boolean" && words.size() == 3) {
    return makeString(std::string(boolValue(value) ? words[1] : words[2]));
  }
  if (words[0] == "Boolean" && words.size() == 1) {
    return makeString(boolValue(value) ? "yes" : "no");
  }
  return value;
}

bool ConfigurationParser::populateMissingParametersInDictionary(
    const MutableDictionaryRef& dictionary, const DictionaryRef& defaults) {
  if (!dictionary || !defaults) return false;
  bool added = false;
  for (const auto& [key, fallback] : defaults->entries()) {
    ValueRef present = dictionary->objectForKey(key);
    if (!present) {
      dictionary->setObject(missingValue(fallback), key);
      added = true;
    } else if (auto nested = as<MutableDictionary>(present); nested && as<Dictionary>(fallback)) {
      added = populateMissingParametersInDictionary(nested, as<Dictionary>(fallback)) || added;
    } else if (auto records = as<MutableArray>(present);
               records && isArrayOfDictionaries(records) &&
               isArrayOfDictionaries(as<Array>(fallback))) {
      for (const ValueRef& record : as<Array>(fallback)->objects()) {
        const std::string* id = recordIdOf(record);
        if (!id) continue;
        ValueRef existing = steward::objectForKey(records, *id);
        if (!existing) {
          setObject(records, as<Dictionary>(record)->mutableCopy(), *id);
          added = true;
        } else if (auto found = as<MutableDictionary>(existing)) {
          added = populateMissingParametersInDictionary(found, as<Dictionary>(record)) || added;
        }
      }
    }
  }
  return added;
}

void ConfigurationParser::addError(const std::string& message) {
  if (fGlobalError.empty()) {
    fGlobalError = message;
    return;
  }
  if (fGlobalError != kMultipleErrors) {
    errors()->addObject(makeString(fGlobalError));
    fGlobalError = kMultipleErrors;
  }
  errors()->addObject(makeString(message));
}

std::int32_t ConfigurationParser::findAndLogErrorForFile(
    const std::string& path, const std::string& method, bool read,
    const std::optional<std::string>& fileType, int logType) {
  struct Cause {
    std::int32_t status;
    const char* what;
  };
  Cause cause = {ConfigurationParserOtherError, "Couldn't read file %s - unknown error"};
  if (access(path.c_str(), F_OK) != 0) {
    cause = {ConfigurationParserFileNotFound, "File %s not found"};
  } else if (read && access(path.c_str(), R_OK) != 0) {
    cause = {ConfigurationParserFileNotAccessible, "File %s is not readable"};
  } else if (!read && access(path.c_str(), W_OK) != 0) {
    cause = {ConfigurationParserFileNotAccessible, "File %s is not writeable"};
  } else if (fileType == "plist") {
    cause = {ConfigurationParserInvalidPlist, "File %s is not a valid plist"};
  }
  logLine(logType, std::string("%s: %s ") + cause.what, method, path);
  std::string listed = cause.what;
  listed.replace(listed.find("%s"), 2, "%@");
  addError(stringWithFormat("%@: " + listed, method, path));
  return cause.status;
}

}  // namespace steward
