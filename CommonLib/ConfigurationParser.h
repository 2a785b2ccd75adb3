// One configuration file, a dictionary stored as an XML property list, with
// two optional companions: a types file (a strings file of key -> type
// declaration, saying how a key's value is written as text) and a
// defaults file (a dictionary that can fill in what the configuration
// lacks). It converts between text and typed values, reads and writes the
// file, and collects every failure, never throwing: the system log gets a
// line with the process name in front, the error list the message.
//
// Type declarations, split at single spaces:
//   "Integer", "Real", "String"      32-bit integer, single-precision real,
//                                    text
//   "Boolean" [TRUE FALSE]           YES/TRUE/1 (or TRUE), ignoring case
//   "Array" ELEMENT [SEPARATOR]      pieces split at SEPARATOR (a space by
//                                    default), each trimmed; only Integer
//                                    and Real elements are converted
// Anything else, or no declaration, keeps the text as it is.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/PropertyValue.h"

namespace steward {

enum ConfigurationParserStatus : std::int32_t {
  ConfigurationParserOtherError = 50000,
  ConfigurationParserNotRead = 50001,
  ConfigurationParserNoError = 50002,
  ConfigurationParserNoFilePath = 50003,
  ConfigurationParserFileNotFound = 50004,
  ConfigurationParserFileNotAccessible = 50005,
  ConfigurationParserInvalidPlist = 50006,
};

class ConfigurationParser {
 public:
  using Path = std::optional<std::string>;

  static std::shared_ptr<ConfigurationParser> configurationParserWithFile(
      const Path& file, const Path& typesFile = std::nullopt,
      const Path& defaultsFile = std::nullopt, bool populateDefaults = false);

  // Reads the types and defaults files, then the configuration. With
  // `populateDefaults`, defaults the configuration lacks are added and the
  // file written back when anything was added; a file that is there but
  // cannot be read or parsed is left alone.
  explicit ConfigurationParser(const Path& file,
                               const Path& typesFile = std::nullopt,
                               const Path& defaultsFile = std::nullopt,
                               bool populateDefaults = false);
  ConfigurationParser(const ConfigurationParser&) = delete;
  ConfigurationParser& operator=(const ConfigurationParser&) = delete;

  // An empty dictionary is made on first access when none was read.
  const MutableDictionaryRef& dictionary();
  void setDictionary(MutableDictionaryRef dictionary) { fDictionary = std::move(dictionary); }
  const Path& file() const { return fFile; }
  void setFile(Path file) { fFile = std::move(file); }
  std::int32_t readStatus() const { return fReadStatus; }
  void setReadStatus(std::int32_t status) { fReadStatus = status; }
  std::int32_t writeStatus() const { return fWriteStatus; }
  void setWriteStatus(std::int32_t status) { fWriteStatus = status; }
  const DictionaryRef& typesDictionary() const { return fTypesDictionary; }
  void setTypesDictionary(DictionaryRef types) { fTypesDictionary = std::move(types); }
  const DictionaryRef& defaultsDictionary() const { return fDefaultsDictionary; }
  void setDefaultsDictionary(DictionaryRef defaults) { fDefaultsDictionary = std::move(defaults); }
  // The single error, "multiple_errors" once there were more, or "".
  const std::string& globalError() const { return fGlobalError; }
  void setGlobalError(std::string error) { fGlobalError = std::move(error); }
  // Every error's message once there has been more than one.
  const MutableArrayRef& errors();
  void setErrors(MutableArrayRef errors) { fErrors = std::move(errors); }

  // None clears; a file that cannot be read or parsed keeps the old one.
  void setTypesDictionaryFromStringsFile(const Path& path);
  void setDefaultsDictionaryFromFile(const Path& path);

  // Reads the configuration, its containers mutable; a failure keeps the
  // dictionary there was and sets the read status to its cause.
  bool readFile();
  // Replaces the file atomically with the dictionary as XML; a failure sets
  // the write status to its cause.
  bool writeFile();

  // "Integer" and "Real" convert the number at the start of the text (0
  // when there is none); other types keep the text.
  ValueRef objectForType(const std::optional<std::string>& type,
                         std::string_view text) const;
  // The value of a key's text, as its declaration says; trimmed text
  // when there is none.
  ValueRef objectForKey(std::string_view key, std::string_view text) const;
  // The text of a key's value as its declaration says; the value itself
  // where the declaration makes no text. Reals are written in the shortest
  // text that reads back to the same value.
  ValueRef stringForKey(std::string_view key, const ValueRef& value) const;

  // Adds to `dictionary` what `defaults` holds and it lacks, through nested
  // dictionaries and record arrays, never replacing a value. True when
  // anything was added.
  bool populateMissingParametersInDictionary(const MutableDictionaryRef& dictionary,
                                             const DictionaryRef& defaults);

  void addError(const std::string& message);
  // Finds why reading (`read`) or writing the file failed, logs it at
  // `logType` and in the error list, and answers the status.
  std::int32_t findAndLogErrorForFile(const std::string& path,
                                      const std::string& method, bool read,
                                      const std::optional<std::string>& fileType,
                                      int logType);

 private:
  // False, logged and collected as `method`'s failure, when no path is set.
  bool hasFilePath(const char* method, std::int32_t* status);
  // The dictionary as XML, atomically in place of the file.
  bool writeDictionary();

  MutableDictionaryRef fDictionary;
  Path fFile;
  std::int32_t fReadStatus = ConfigurationParserNotRead;
  std::int32_t fWriteStatus = ConfigurationParserNoError;
  DictionaryRef fTypesDictionary;
  DictionaryRef fDefaultsDictionary;
  std::string fGlobalError;
  MutableArrayRef fErrors;
};

}  // namespace steward
