// Checks records (dictionaries) against a template of their expected shape,
// and filters arrays of records. A dictionary template gives, per key, the
// template of the record's value there; an array template holds one element,
// the template of every element; any other template stands for its kind
// only (arrays, data, dates, numbers with booleans, strings, dictionaries;
// fixed and mutable alike). Keys a record lacks are allowed, keys the
// template lacks are not looked at. A kind mismatch is logged (user
// facility, informational) and fails the check.
#pragma once

#include <string>

#include "platform/PropertyValue.h"

namespace steward {

class SchemaVerifier {
 public:
  SchemaVerifier() = delete;

  // The dictionary elements of `records` that verify, in order. Elements
  // that are no dictionary are dropped. When `outFailSet` is given it
  // receives the dictionaries that did not verify, or none when all did.
  static MutableArrayRef removeBadRecords(const ArrayRef& records,
                                          const DictionaryRef& tRecord,
                                          ArrayRef* outFailSet = nullptr);

  // Every key of the template that the record holds verifies.
  static bool verifyDictRecord(const DictionaryRef& record,
                               const DictionaryRef& tRecord);
  // Every element verifies against the template's single element. A
  // template of any other count is a broken schema: false.
  static bool verifyArrayRecord(const ArrayRef& array, const ArrayRef& tRecord);
  // The kinds match, and containers verify element by element.
  static bool verifyObject(const ValueRef& object, const ValueRef& tObject);
  static bool classesMatch(const ValueRef& object, const ValueRef& tObject);

  // The property list in the file, in any format, fixed; none when it cannot
  // be read or parsed.
  static ValueRef deserializePlistAtPath(const std::string& path);

  // Runs the cases N = 1, 2, ... of base + "in.N.plist", "template.N.plist"
  // and "out.N.plist" until one of the three is missing, and prints a
  // report on standard output.
  static void testFromPath(const std::string& basePath);
};

}  // namespace steward
