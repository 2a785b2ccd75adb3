// XinetdUtilities: edits one service's block in an xinetd service file
// ("/etc/xinetd.d/" + service name) and makes the running super-server
// reread its configuration (SIGHUP), or starts it when no valid process id
// is known. Every notable step is logged through the editor's SysLogger.
//
// The file is read line by line (line feeds only). A block starts at a line
// "service NAME" and its body lies between the next line that begins with
// "{" (or a "{" ending the header line itself) and the next line whose first
// word is "}". Inside the body, an entry line is "key operator value"; the
// operator (=, += or -=) is kept as written. Lines that an edit does not
// touch are written back as read, except that a line of exactly one
// character is written padded with two spaces ("{" becomes "{  "), the form
// in which it is scanned. Only blocks named like the service are read or
// changed; every such block is visited. Files are read afresh by every
// operation and replaced atomically; nothing locks them against other
// writers. A service file is never created.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "CommonLib/SysLogger.h"
#include "platform/PropertyValue.h"

namespace steward {

// Where the super-server's files and program are; tests point them at a
// temporary directory and a harmless program.
struct XinetdPaths {
  std::string serviceDirectory = "/etc/xinetd.d/";
  std::string pidFile = "/var/run/xinetd.pid";
  std::string launchPath = "/usr/sbin/xinetd";
  // The command name that the process named by the pid file must carry.
  std::string processName = "xinetd";
};

class XinetdUtilities {
 public:
  // initWithServiceName: the file path is fixed here; the pid file is read
  // once, now. A name that is not a plain file name ("", ".", "..", or one
  // holding "/") gives no path: every file operation then answers false.
  XinetdUtilities(std::string serviceName, std::string logPrefix,
                  XinetdPaths paths = {});
  static std::unique_ptr<XinetdUtilities> xinetdUtilitiesWithServiceName(
      std::string serviceName, std::string logPrefix);

  XinetdUtilities(const XinetdUtilities&) = delete;
  XinetdUtilities& operator=(const XinetdUtilities&) = delete;

  // The value of the first entry of `key` in the service's body: "" (and
  // true) when there is none; none (and true) when the entry line holds no
  // value. False when `value` is not given or the file cannot be read.
  [[nodiscard]] bool getValueForKey(std::string_view key,
                                    std::optional<std::string>* value) const;

  // Replaces the value of every entry of `key` in the service's body
  // ("\tkey\top value", the line's own operator kept), or adds
  // "\tkey\t= value" as the body's last line, and writes the file. When the
  // first entry already holds `newValue` nothing is written and the answer
  // is true. False when the file cannot be read or written, or when the key
  // is empty or holds a blank or line feed, or the value a line feed.
  [[nodiscard]] bool setOrAddEntryForKey(std::string_view key,
                                         std::string_view newValue) const;

  // Removes every entry of `key` from the service's body and writes the file
  // (also when there was none). False when it cannot be read or written.
  [[nodiscard]] bool removeEntryForKey(std::string_view key) const;

  // The same three operations on a service file's text. The edits answer
  // the new text, or none when nothing is to be written.
  std::optional<std::string> valueForKeyInText(std::string_view text,
                                               std::string_view key) const;
  std::optional<std::string> textWithEntry(std::string_view text,
                                           std::string_view key,
                                           std::string_view newValue) const;
  std::string textWithoutEntry(std::string_view text,
                               std::string_view key) const;

  // A server argument line as an option dictionary: "path" for a leading
  // word that begins with "/", one entry per option letter: its value
  // string, true for an option without one, or an array of the values of a
  // repeated option. None gives none.
  static MutableDictionaryRef dictionaryFromArgList(
      const std::optional<std::string>& argList);

  // The inverse: "path " and then "-k value " per string, "-k " per true
  // number or boolean, "-k element " per array element. Values of other
  // kinds are logged and left out. None gives none.
  std::optional<std::string> argListFromDictionary(
      const DictionaryRef& options) const;

  // Sends SIGHUP to the super-server named by the pid file read at creation,
  // or launches it when that file held no positive id. False when the launch
  // failed, or the id names no process (or one that is not the super-server:
  // a stale pid file must not signal a stranger).
  [[nodiscard]] bool hup() const;

  const std::string& serviceName() const { return fServiceName; }
  void setServiceName(std::string serviceName) {
    fServiceName = std::move(serviceName);
  }
  const std::string& filePath() const { return fFilePath; }
  const SysLogger& logger() const { return *fLogger; }

 private:
  enum class Edit { kSet, kRemove };
  std::optional<std::string> editedText(std::string_view text, Edit edit,
                                        std::string_view key,
                                        std::string_view newValue) const;
  // Runs the launcher with "-inetd_compat -pidfile PIDFILE", all standard
  // streams on /dev/null: its termination status, or -1 when it is not an
  // executable file.
  static int _launchXinetd(const XinetdPaths& paths);

  std::string fServiceName;
  std::string fFilePath;
  std::optional<std::string> fPid;
  std::unique_ptr<SysLogger> fLogger;
  XinetdPaths fPaths;
};

}  // namespace steward
