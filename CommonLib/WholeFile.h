// Whole-file reading and atomic replacement for the configuration editors,
// which read a file entirely, edit the text in memory and put it back whole.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace steward {

// Reads the file at `path` into `*contents` as raw bytes. On failure answers
// false and leaves errno's value in `*errorNumber` when that is given.
[[nodiscard]] bool readWholeFile(const std::string& path, std::string* contents,
                                 int* errorNumber = nullptr);

// Replaces the file at `path` by a new one holding `contents`: the bytes go
// into a temporary file beside it, which then takes the old file's place by
// renaming, so readers see the old or the new file whole. The new file keeps
// the old one's permission bits (0644 when there was none). On failure the
// old file stays untouched, no temporary file is left behind, and a short
// reason goes to `*error` when that is given.
[[nodiscard]] bool replaceFileAtomically(const std::string& path,
                                         std::string_view contents,
                                         std::string* error = nullptr);

// The pieces of the text between separators, empty ones included, so that
// joining them with the separator gives the text back. An empty separator
// gives the whole text.
std::vector<std::string_view> piecesOf(std::string_view text,
                                       std::string_view separator);

// The text's lines: a text ending in a line feed yields a last, empty line.
inline std::vector<std::string_view> linesOf(std::string_view text) {
  return piecesOf(text, "\n");
}

}  // namespace steward
