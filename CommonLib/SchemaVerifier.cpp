#include "CommonLib/SchemaVerifier.h"

#include <sys/stat.h>
#include <syslog.h>

#include <cstdio>

#include "platform/Format.h"
#include "platform/PropertyList.h"

namespace steward {

namespace {

// The kinds a template can stand for, in the order they are tried.
enum class Kind { kArray, kData, kDate, kNumber, kString, kDictionary, kOther };

Kind kindOf(const Value& value) {
  switch (value.kind()) {
    case ValueKind::kArray: return Kind::kArray;
    case ValueKind::kData: return Kind::kData;
    case ValueKind::kDate: return Kind::kDate;
    case ValueKind::kInteger:
    case ValueKind::kReal:
    case ValueKind::kBoolean: return Kind::kNumber;
    case ValueKind::kString: return Kind::kString;
    case ValueKind::kDictionary: return Kind::kDictionary;
    case ValueKind::kForeign: return Kind::kOther;
  }
  return Kind::kOther;
}

std::string typeName(const ValueRef& value) {
  if (!value) return "(null)";
  const char* name = "Foreign";
  switch (value->kind()) {
    case ValueKind::kDictionary: name = "Dictionary"; break;
    case ValueKind::kArray: name = "Array"; break;
    case ValueKind::kString: name = "String"; break;
    case ValueKind::kInteger: name = "Integer"; break;
    case ValueKind::kReal: name = "Real"; break;
    case ValueKind::kBoolean: name = "Boolean"; break;
    case ValueKind::kData: name = "Data"; break;
    case ValueKind::kDate: name = "Date"; break;
    case ValueKind::kForeign: break;
  }
  return value->isMutable() ? std::string("Mutable") + name : name;
}

bool fileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

std::string caseFile(const std::string& base, const char* part, int number) {
  return base + part + "." + std::to_string(number) + ".plist";
}

}  // namespace

MutableArrayRef SchemaVerifier::removeBadRecords(const ArrayRef& records,
                                                 const DictionaryRef& tRecord,
                                                 ArrayRef* outFailSet) {
  MutableArrayRef good = makeMutableArray();
  MutableArrayRef bad = makeMutableArray();
  if (records) {
    for (const ValueRef& element : records->objects()) {
      DictionaryRef record = as<Dictionary>(element);
      if (!record) continue;
      (verifyDictRecord(record, tRecord) ? good : bad)->addObject(record);
    }
  }
  if (outFailSet) *outFailSet = bad->count() > 0 ? bad : nullptr;
  return good;
}

bool SchemaVerifier::verifyDictRecord(const DictionaryRef& record,
                                      const DictionaryRef& tRecord) {
  if (!record || !tRecord) return false;
  for (const auto& [key, tValue] : tRecord->entries()) {
    ValueRef value = record->objectForKey(key);
    if (value && !verifyObject(value, tValue)) return false;
  }
  return true;
}

bool SchemaVerifier::verifyArrayRecord(const ArrayRef& array,
                                       const ArrayRef& tRecord) {
  if (!array || !tRecord || tRecord->count() != 1) return false;
  const ValueRef& tElement = tRecord->objects()[0];
  for (const ValueRef& element : array->objects()) {
    if (!verifyObject(element, tElement)) return false;
  }
  return true;
}

bool SchemaVerifier::verifyObject(const ValueRef& object,
                                  const ValueRef& tObject) {
  if (!classesMatch(object, tObject)) {
    syslog(LOG_USER | LOG_INFO, "%s",
           stringWithFormat("Object does not match schema. Class is %s. Expected %s.\n",
                            typeName(object), typeName(tObject))
               .c_str());
    return false;
  }
  if (auto array = as<Array>(object)) return verifyArrayRecord(array, as<Array>(tObject));
  if (auto dictionary = as<Dictionary>(object)) {
    return verifyDictRecord(dictionary, as<Dictionary>(tObject));
  }
  return true;
}

bool SchemaVerifier::classesMatch(const ValueRef& object, const ValueRef& tObject) {
  if (!object || !tObject) return false;
  if (kindOf(*tObject) != Kind::kOther) return kindOf(*object) == kindOf(*tObject);
  return object->kind() == tObject->kind();
}

ValueRef SchemaVerifier::deserializePlistAtPath(const std::string& path) {
  std::string error;
  return propertyListFromFile(path, Mutability::kImmutable, nullptr, &error);
}

void SchemaVerifier::testFromPath(const std::string& basePath) {
  for (int number = 1;; ++number) {
    std::string in = caseFile(basePath, "in", number);
    std::string tmpl = caseFile(basePath, "template", number);
    std::string out = caseFile(basePath, "out", number);
    if (!fileExists(in) || !fileExists(tmpl) || !fileExists(out)) return;
    ArrayRef output = removeBadRecords(as<Array>(deserializePlistAtPath(in)),
                                       as<Dictionary>(deserializePlistAtPath(tmpl)));
    ValueRef expected = deserializePlistAtPath(out);
    std::string rendered = describe(output);
    if (describe(expected) == rendered) {
      std::printf("=#=#=#=#=#=#=#=#=#=Test %i passed=#=#=#=#=#=#=#=#=#=\n", number);
      continue;
    }
    std::printf("=#=#=#=#=#=#=#=#=#=Test %i FAILED=#=#=#=#=#=#=#=#=#=\n", number);
    std::printf("Input    was %s\n\n", describe(deserializePlistAtPath(in)).c_str());
    std::printf("Template Was %s\n\n", describe(deserializePlistAtPath(tmpl)).c_str());
    std::printf("Output   Was %s\n\n", rendered.c_str());
    std::printf("Expected     %s\n\n", describe(expected).c_str());
  }
}

}  // namespace steward
