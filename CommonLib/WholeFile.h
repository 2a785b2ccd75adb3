// Whole-file reading and splitting for the configuration editors, which read
// a file entirely, edit the text in memory and put it back whole (with
// platform/AtomicFile.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace steward {

// Reads the file at `path` into `*contents` as raw bytes. On failure answers
// false and leaves errno's value in `*errorNumber` when that is given.
[[nodiscard]] bool readWholeFile(const std::string& path, std::string* contents,
                                 int* errorNumber = nullptr);

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
