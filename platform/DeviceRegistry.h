// The device registry: a directory tree in the manner of sysfs. Plane P is
// the directory root/P; an entry is a directory below it, named after the
// entry, so the registry path "P:/a/b" is root/P/a/b. A property is a
// regular file in the entry's directory named by its key, holding the value
// as UTF-8 text; one trailing line feed is not part of the value.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/PropertyValue.h"

namespace steward {

// One entry: the directory that stands for it.
class RegistryEntry {
 public:
  // Names longer than this are read as their first kMaximumNameLength bytes.
  static constexpr std::size_t kMaximumNameLength = 127;

  explicit RegistryEntry(std::string directory) : directory_(std::move(directory)) {}

  const std::string& directory() const { return directory_; }
  // The entry's name: its directory's name, cut to kMaximumNameLength bytes.
  std::string name() const;

  // The property's text, or none when there is no such regular file or it
  // is not UTF-8.
  [[nodiscard]] StringRef copyProperty(std::string_view key) const;
  // Writes the value's text form and a line feed into the property's file,
  // through a symbolic link when the file is one, so that a property can
  // stand for a real device attribute.
  [[nodiscard]] bool setProperty(std::string_view key, const ValueRef& value,
                                 std::string* error) const;

 private:
  std::string directory_;
};

// Walks every entry below a plane's directory, depth-first, each
// directory's children in byte order of their names. Symbolic links are not
// followed, so a linked tree cannot make the walk loop.
class RegistryIterator {
 public:
  explicit RegistryIterator(const std::string& planeDirectory);
  RegistryIterator(const RegistryIterator&) = delete;
  RegistryIterator& operator=(const RegistryIterator&) = delete;

  // The next entry, or none once the walk is over.
  std::optional<RegistryEntry> next();

 private:
  void pushChildren(const std::string& directory);

  // Directories still to visit, the next one last.
  std::vector<std::string> pending_;
};

class DeviceRegistry {
 public:
  static constexpr const char* kDefaultRoot = "/var/lib/stewardd/registry/";

  explicit DeviceRegistry(std::string root = kDefaultRoot);

  // The entry at a registry path "Plane:/a/b"; none when the path is
  // malformed (no plane, a relative path, a "." or ".." component) or no
  // such entry exists.
  std::optional<RegistryEntry> entryFromPath(std::string_view path) const;
  // A walk over all entries of the plane; none when the plane does not
  // exist.
  std::unique_ptr<RegistryIterator> createIterator(std::string_view plane) const;

 private:
  std::string root_;  // ends with "/"
};

}  // namespace steward
