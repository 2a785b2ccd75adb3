#include "machreport/Profile.h"

#include "platform/TextEncoding.h"

namespace steward::machreport {

namespace {

// Neither what XML 1.0 cannot carry nor what a reader would take for
// layout: no C0 or C1 control, no DEL, no U+FFFE or U+FFFF.
bool isPrintable(char32_t c) {
  return c >= 0x20 && !(c >= 0x7F && c < 0xA0) && c != 0xFFFE && c != 0xFFFF;
}

MutableDictionaryRef itemDictionary(const Section& section, const Item& item) {
  auto dictionary = makeMutableDictionary();
  if (!item.title.empty())
    dictionary->setObject(makeString(item.title), section.titleKey);
  for (const Field& field : item.fields)
    dictionary->setObject(makeString(field.value), field.key);
  return dictionary;
}

}  // namespace

std::string printable(std::string_view bytes) {
  std::string out = unicode::replacingCharacters(bytes, isPrintable, "?");
  std::size_t first = out.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

void Section::add(std::vector<Field>* to, std::string key,
                  std::string_view value) {
  std::string text = printable(value);
  if (!text.empty()) to->push_back({std::move(key), std::move(text)});
}

std::string formatText(const std::vector<Section>& sections) {
  std::string out;
  for (const Section& section : sections) {
    if (!out.empty()) out += '\n';
    out += section.name + ":\n";
    for (const Field& field : section.fields)
      out += "  " + field.key + ": " + field.value + '\n';
    for (const Item& item : section.items) {
      out += "  " + item.title + ":\n";
      for (const Field& field : item.fields)
        out += "    " + field.key + ": " + field.value + '\n';
    }
  }
  return out;
}

ValueRef toPropertyList(const std::vector<Section>& sections) {
  auto root = makeMutableDictionary();
  for (const Section& section : sections) {
    auto items = makeMutableArray();
    for (const Item& item : section.items)
      items->addObject(itemDictionary(section, item));
    if (section.listKey.empty() && !section.titleKey.empty()) {
      root->setObject(items, section.name);
      continue;
    }
    auto dictionary = makeMutableDictionary();
    for (const Field& field : section.fields)
      dictionary->setObject(makeString(field.value), field.key);
    if (!section.listKey.empty() && !section.items.empty())
      dictionary->setObject(items, section.listKey);
    root->setObject(dictionary, section.name);
  }
  return root;
}

}  // namespace steward::machreport
