// Read-only access to the files Linux keeps machine facts in, under a root
// directory: "/" on a machine, a temporary tree in tests. Nothing here
// fails loudly: a file that is missing or unreadable reads as nothing.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace steward::machreport {

class FileTree {
 public:
  explicit FileTree(std::string root);

  // Whether this is the machine's own root, where live queries
  // (interface addresses) are allowed.
  bool isRealRoot() const { return root_.empty(); }
  std::string path(std::string_view absolute) const {
    return root_ + std::string(absolute);
  }

  // The file's bytes, at most `limit` of them; none when unreadable.
  std::optional<std::string> read(std::string_view absolute,
                                  std::size_t limit = 1 << 16) const;
  // The file's text without trailing white space; empty when unreadable.
  std::string value(std::string_view absolute) const;
  // Names in a directory, sorted, "." and ".." left out.
  std::vector<std::string> list(std::string_view absolute) const;
  bool exists(std::string_view absolute) const;
  // A symbolic link's target; empty when it is none.
  std::string linkTarget(std::string_view absolute) const;
  // The last part of a symbolic link's target; empty when it is none.
  std::string linkName(std::string_view absolute) const;

 private:
  std::string root_;  // without its trailing '/'
};

}  // namespace steward::machreport
