#include "platform/BootEntry.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/TextEncoding.h"

namespace steward {
namespace {

// XML cannot carry U+FFFE and U+FFFF, and the entries travel as XML.
bool isPrintable(char32_t c) {
  return c >= 0x20 && c != 0x7f && !(c >= 0x80 && c < 0xa0) && c != 0xfffe && c != 0xffff;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "0003", "boot0003" and the like as the variable name "Boot0003".
std::optional<std::uint16_t> numberIn(std::string_view name) {
  std::string upper = name.size() == 4 ? "BOOT" + std::string(name) : std::string(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.size() != 8 || upper.compare(0, 4, "BOOT") != 0) return std::nullopt;
  return bootEntryNumber("Boot" + upper.substr(4));
}

}  // namespace

std::string bootEntryName(std::uint16_t number) {
  char name[9];
  std::snprintf(name, sizeof name, "Boot%04X", number);
  return name;
}

std::optional<std::uint16_t> bootEntryNumber(std::string_view name) {
  if (name.size() != 8 || name.substr(0, 4) != "Boot") return std::nullopt;
  unsigned number = 0;
  for (char c : name.substr(4)) {
    int digit = hexDigit(c);
    if (digit < 0) return std::nullopt;
    number = number * 16 + static_cast<unsigned>(digit);
  }
  return static_cast<std::uint16_t>(number);
}

std::string printableText(std::string_view text) {
  return unicode::replacingCharacters(text, isPrintable, "?");
}

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

std::optional<std::uint16_t> resolveActiveBootEntry(const std::vector<BootEntry>& entries,
                                                    std::string_view name, std::string* error) {
  auto number = resolveBootEntry(entries, name, error);
  for (const BootEntry& entry : entries) {
    if (number && entry.number == *number && !entry.active) {
      *error = bootEntryName(*number) + " is inactive: the firmware skips it";
      return std::nullopt;
    }
  }
  return number;
}

ArrayRef bootEntriesValue(const std::vector<BootEntry>& entries) {
  auto array = makeMutableArray();
  for (const BootEntry& entry : entries) {
    auto item = makeMutableDictionary();
    item->setObject(makeString(bootEntryName(entry.number)), "Name");
    item->setObject(makeString(entry.description), "Description");
    item->setObject(makeBoolean(entry.active), "Active");
    array->addObject(item);
  }
  return array;
}

std::optional<std::vector<BootEntry>> bootEntriesFromValue(const ValueRef& value) {
  auto array = as<Array>(value);
  if (!array) return std::nullopt;
  std::vector<BootEntry> entries;
  for (const ValueRef& object : array->objects()) {
    auto item = as<Dictionary>(object);
    auto name = item ? as<String>(item->objectForKey("Name")) : nullptr;
    auto description = item ? as<String>(item->objectForKey("Description")) : nullptr;
    auto active = item ? as<Boolean>(item->objectForKey("Active")) : nullptr;
    auto number = name ? bootEntryNumber(name->str()) : std::nullopt;
    if (!number || !description || !active) return std::nullopt;
    entries.push_back({*number, description->str(), active->value()});
  }
  return entries;
}

}  // namespace steward
