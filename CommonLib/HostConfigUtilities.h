// HostConfigUtilities: reads and changes single key=value entries of the host
// configuration file, line by line, as text. It understands nothing of the
// file's syntax beyond the key, the "=" after it and the line ends; every
// call reads the file afresh, and a change replaces the file atomically.
//
// Entries: a line whose text, trimmed of spaces and tabs at both ends, begins
// with the key and "=" is that key's entry; its value is everything after
// the "=" as written (quotes included). Bytes are kept as they are, in any
// encoding. Two editors running at once are not locked against each other.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace steward {

class HostConfigUtilities {
 public:
  static constexpr const char* kHostConfigPath = "/etc/hostconfig";

  explicit HostConfigUtilities(std::string configPath = kHostConfigPath);
  static std::unique_ptr<HostConfigUtilities> hostConfigUtilities();

  // The value of the first entry of `key`; the empty string, and true, when
  // there is none or the file cannot be read. An entry whose value holds
  // another "=" is a bad line: it is reported on standard error and the
  // answer is false with `*value` untouched. An empty key or no `value`
  // answers false.
  [[nodiscard]] bool getValueForKey(std::string_view key,
                                    std::string* value) const;

  // Replaces every entry of `key` by "key=newValue", or appends one as the
  // last line when there is none, and writes the file. Every line is written
  // back trimmed of spaces and tabs at its ends; a final line feed is kept,
  // none is added, except after an appended entry. A missing file counts as
  // empty (it is created); a file that exists but cannot be read is left
  // alone and the answer is false. An empty key answers false. True when the
  // file was written. A key holding "=", a blank or a line feed, or a value
  // holding "=" or a line feed, is refused (false, nothing written): the
  // file could not be read back as intended.
  [[nodiscard]] bool setOrAddEntryForKey(std::string_view key,
                                         std::string_view newValue) const;

  // The text forms of the two operations, for any host configuration text.
  // valueForKeyInText answers false for a bad line, which then goes into
  // `*badLine`.
  [[nodiscard]] static bool valueForKeyInText(std::string_view text,
                                              std::string_view key,
                                              std::string* value,
                                              std::string* badLine);
  static std::string textWithEntry(std::string_view text, std::string_view key,
                                   std::string_view newValue);

  const std::string& configPath() const { return _configPath; }

 private:
  std::string _configPath;
};

}  // namespace steward
