// The machine profile as sections of "Key: Value" lines, and its two
// written forms: indented text and an XML property list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/PropertyValue.h"

namespace steward::machreport {

// How much to tell: the overview, the usual profile, or everything.
enum class Detail { kBasic = 0, kUsual = 1, kFull = 2 };

struct Field {
  std::string key;
  std::string value;
};

// One device, module or interface: its title (name or locator) and details.
struct Item {
  std::string title;
  std::vector<Field> fields;
};

// A section holds fields, items, or both. In the property list a section
// with a listKey is a dictionary whose listKey entry is the items' array;
// one with only a titleKey is the array itself; any other, a dictionary.
struct Section {
  std::string name;
  std::string listKey;   // "Modules", or empty for a list of items only
  std::string titleKey;  // the key an item's title takes in the list
  std::vector<Field> fields;
  std::vector<Item> items;

  // Adds the field unless the value is empty; the value is made printable.
  void add(std::vector<Field>* to, std::string key, std::string_view value);
  void add(std::string key, std::string_view value) {
    add(&fields, std::move(key), value);
  }
};

// The text with every control character and every byte that is not part of
// well-formed UTF-8 replaced by '?', leading and trailing white space
// removed: what goes into a profile from files and names we do not own.
std::string printable(std::string_view bytes);

// "Hardware:" then "  Key: Value" lines, an item as "  title:" with its
// fields four spaces in; a blank line between sections.
std::string formatText(const std::vector<Section>& sections);

// The same content as a dictionary of sections (values all strings).
ValueRef toPropertyList(const std::vector<Section>& sections);

}  // namespace steward::machreport
