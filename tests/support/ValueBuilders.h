// Short ways for tests to write trees of property values.
#pragma once

#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "platform/PropertyValue.h"

namespace steward {

inline MutableDictionaryRef dictionaryOf(
    std::initializer_list<std::pair<const char*, ValueRef>> entries) {
  auto dictionary = makeMutableDictionary();
  for (const auto& [key, value] : entries) dictionary->setObject(value, key);
  return dictionary;
}

inline ArrayRef arrayOf(std::initializer_list<ValueRef> values) {
  return std::make_shared<Array>(std::vector<ValueRef>(values));
}

}  // namespace steward
