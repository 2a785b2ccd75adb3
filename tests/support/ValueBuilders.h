// Short ways for tests to write trees of property values, and to turn them
// into XML and back.
#pragma once

#include <initializer_list>
#include <memory>
#include <utility>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/PropertyList.h"
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

// The XML property list of a tree; a failure to write fails the test.
inline std::string xmlOf(const ValueRef& value) {
  std::string bytes, error;
  EXPECT_TRUE(propertyListToData(value, PropertyListFormat::kXML, &bytes, &error)) << error;
  return bytes;
}

// The tree in bytes of any property-list format, fixed; none when they hold
// none.
inline ValueRef parsed(const std::string& bytes) {
  std::string error;
  return propertyListFromData(bytes, Mutability::kImmutable, nullptr, &error);
}

}  // namespace steward
