// Whole-file replacement that readers see old or new, never in part: the
// content goes into a temporary file beside the file, reaches the disk, and
// then takes the file's place by renaming. Nothing is written before
// commit(); a file that is destroyed uncommitted leaves no trace.
//
// The new file keeps the owner, group and mode of the file it replaces. A
// symbolic link stays: the file it leads to is replaced. On failure the old
// file is as it was and no temporary file is left behind.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace steward {

class AtomicFile {
 public:
  // `newFileMode` is the mode of a file that is not there yet, less the
  // process's file-creation mask.
  explicit AtomicFile(std::string path, mode_t newFileMode = 0644)
      : fPath(std::move(path)), fNewFileMode(newFileMode) {}
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Adds to the new content, in memory.
  void write(std::string_view bytes) { fContents.append(bytes); }

  // Puts the content in place, file and directory synced. On failure a
  // short reason goes to `*error` when that is given.
  [[nodiscard]] bool commit(std::string* error = nullptr);

 private:
  std::string fPath;
  mode_t fNewFileMode;
  std::string fContents;
};

// Writes all of `bytes` to `fd`, through short writes and interruptions;
// false on an error. Also for files written in place.
[[nodiscard]] bool writeAll(int fd, std::string_view bytes);

// The file at `path` replaced by `contents` in one commit.
[[nodiscard]] bool writeFileAtomically(const std::string& path,
                                       std::string_view contents,
                                       std::string* error = nullptr,
                                       mode_t newFileMode = 0644);

}  // namespace steward
