#include "nvram/BootChoice.h"

#include <algorithm>
#include <cctype>

namespace steward::nvram {
namespace {

// "0003", "boot0003" and the like as the variable name "Boot0003".
std::optional<std::uint16_t> numberIn(std::string_view name) {
  std::string upper = name.size() == 4 ? "BOOT" + std::string(name) : std::string(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.size() != 8 || upper.compare(0, 4, "BOOT") != 0) return std::nullopt;
  return bootEntryNumber("Boot" + upper.substr(4));
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
