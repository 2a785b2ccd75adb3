#include "nvram/BootChoice.h"

#include <algorithm>
#include <cctype>

namespace steward::nvram {
namespace {

std::optional<std::uint16_t> numberIn(std::string_view name) {
  if (name.size() == 8) {
    std::string prefix(name.substr(0, 4));
    for (char& c : prefix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (prefix != "boot") return std::nullopt;
    name.remove_prefix(4);
  }
  if (name.size() != 4) return std::nullopt;
  unsigned number = 0;
  for (char c : name) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    number = number * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                                     ? c - '0'
                                                     : std::tolower(c) - 'a' + 10);
  }
  return static_cast<std::uint16_t>(number);
}

}  // namespace

std::optional<std::uint16_t> resolveBootEntry(const std::vector<BootEntry>& entries,
                                              std::string_view name, std::string* error) {
  if (auto number = numberIn(name)) {
    auto byNumber = [&](const BootEntry& entry) { return entry.number == *number; };
    if (std::any_of(entries.begin(), entries.end(), byNumber)) return number;
  }
  std::vector<std::uint16_t> matches;
  for (const BootEntry& entry : entries) {
    if (entry.description == name) matches.push_back(entry.number);
  }
  if (matches.size() == 1) return matches.front();
  std::string quoted = "\"" + printableText(name) + "\"";
  if (matches.empty()) {
    *error = "no boot entry is named " + quoted;
    return std::nullopt;
  }
  *error = quoted + " names more than one boot entry:";
  for (std::uint16_t number : matches) *error += " " + bootEntryName(number);
  return std::nullopt;
}

std::vector<std::uint16_t> movedToFront(const std::vector<std::uint16_t>& order,
                                        std::uint16_t number) {
  std::vector<std::uint16_t> moved = {number};
  std::copy_if(order.begin(), order.end(), std::back_inserter(moved),
               [number](std::uint16_t other) { return other != number; });
  return moved;
}

}  // namespace steward::nvram
