#include "machreport/Profile.h"

#include "platform/TextEncoding.h"

namespace steward::machreport {

namespace {

// The length of the UTF-8 sequence that lead byte starts, 0 for a byte
// that cannot start one.
std::size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Code points XML 1.0 cannot carry or that a reader would take for layout.
bool isControl(std::string_view sequence) {
  unsigned char c = static_cast<unsigned char>(sequence[0]);
  if (sequence.size() == 1) return c < 0x20 || c == 0x7F;
  if (sequence == "\xEF\xBF\xBE" || sequence == "\xEF\xBF\xBF") return true;
  return c == 0xC2 && static_cast<unsigned char>(sequence[1]) < 0xA0;  // C1
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
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t length = sequenceLength(static_cast<unsigned char>(bytes[i]));
    std::string_view sequence = bytes.substr(i, length);
    if (length == 0 || sequence.size() < length ||
        !unicode::isValidUTF8(sequence)) {
      out += '?';
      ++i;
      continue;
    }
    if (isControl(sequence)) {
      out += '?';
    } else {
      out.append(sequence);
    }
    i += length;
  }
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
