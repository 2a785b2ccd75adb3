// The append-only audit log: one record a line in "audit.log" of its
// directory, each line starting {"prev":"<hex>", where <hex> is the SHA-256 of
// the previous line's bytes (without its line feed); the very first line has
// 64 zeros. Past a size the log is renamed audit.log.1 (the older ones move
// up to .N, the oldest dropped) and the next record in a new file still
// names the hash of the last one before it, so the chain runs across files.
// Appenders take turns through an flock on "audit.lock" beside the log: a
// lock on the log itself would move with it when it is renamed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace steward {

inline constexpr const char* kAuditDirectory = "/var/lib/stewardd/";

// The SHA-256 of the bytes in lower-case hexadecimal.
std::string sha256Hex(std::string_view bytes);

class AuditLog {
 public:
  // `directory` ends with "/". A file is rotated once it holds
  // `rotateBytes`; `keep` rotated files are kept.
  explicit AuditLog(std::string directory = kAuditDirectory,
                    std::size_t rotateBytes = std::size_t{1} << 20, int keep = 4);

  // Appends `body`, a JSON object's members without the braces ("\"a\":1"),
  // as {"prev":"...",body}. The new line's hash in *hash. False with a reason
  // in *error when the log cannot be written.
  [[nodiscard]] bool append(std::string_view body, std::string* hash, std::string* error);

  struct Contents {
    std::vector<std::string> lines;  // oldest first, without line feeds
    bool intact = true;
    std::string brokenAt;  // "audit.log.1:7": the first line whose "prev" does not match
  };
  // Every kept line with the chain checked; the first line of the oldest kept
  // file anchors the chain.
  Contents read() const;

  std::string path(int generation) const;  // 0: audit.log, n: audit.log.n

 private:
  // Moves the log and its older files up one place once it is full; true then.
  bool rotateIfFull() const;

  std::string directory_;
  std::size_t rotateBytes_;
  int keep_;
};

}  // namespace steward
