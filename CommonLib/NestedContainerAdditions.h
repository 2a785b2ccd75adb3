// Key paths into trees of dictionaries and record arrays.
//
// A key path is a string of components separated by ':'; a backslash takes
// the next character literally ("a\:b" is one component, "a:b"). Empty
// components remain; the empty key path has none. In a dictionary a
// component is a key, in an array a record id (see KeyedContainer.h): array
// positions are addressed only by the plain store into an array that holds
// no records.
//
// Values are placed by reference, never copied, unless a new container is
// said to be made. Nothing here logs; failures are answered with none or
// false, and what a failing merge stored before the failure stays.
#pragma once

#include <string>
#include <string_view>

#include "platform/PropertyValue.h"

namespace steward {

// The separator of key paths.
inline constexpr char16_t kKeyPathSeparator = u':';

// ---- The keyed view of arrays.

// A non-empty array whose every element is a dictionary with an "_id_".
bool isArrayOfDictionaries(const ArrayRef& array);

// A new fixed array of the "_id_" values of the elements that are
// dictionaries with one, in array order, repeated ids each time.
ArrayRef allKeys(const ArrayRef& array);

// The receiver itself.
ArrayRef allValues(const ArrayRef& array);

// A new fixed dictionary from record id to record; a later record with the
// same id replaces an earlier one. Records whose id is not a string are left
// out, as a dictionary key is text.
DictionaryRef dictionaryRepresentation(const ArrayRef& array);

// The last record with that id; none when any element is not a record.
ValueRef objectForKey(const ArrayRef& array, std::string_view id);

// Only a mutable dictionary is stored: the record with that id is removed,
// the value's "_id_" becomes the id and the value goes to the end.
void setObject(const MutableArrayRef& array, const ValueRef& value,
               std::string_view id);

// Removes the first record with that id; nothing unless a record array.
void removeObjectForKey(const MutableArrayRef& array, std::string_view id);

// Whether an element of one equals (by value) an element of the other.
bool intersectsArray(const ArrayRef& array, const ArrayRef& other);

// The elements joined with the separator, each with a backslash before every
// backslash and separator in it, so that splitting gives them back. An
// element that is not a string is joined as its text form.
MutableStringRef componentsJoinedByCharacter(const ArrayRef& array,
                                             char16_t separator);

// The record update of a record array. "_obsoleteid_" true removes the
// record with that id; "_newid_" true adds a new mutable record (the entries
// without "_newid_") when none has the id; otherwise every entry of the
// record is stored into the existing record as by setNestedObject. A
// marker reads as true when it is a true boolean, a non-zero number, or the
// text YES, TRUE or 1 in any case. False when there is nothing to update, or
// the id is not a string.
[[nodiscard]] bool updateDictionary(const MutableArrayRef& array,
                                    const DictionaryRef& record,
                                    const ValueRef& id, bool replace);

// ---- Tree operations.

// The value at the key path; the receiver itself for the empty key path.
ValueRef nestedObjectForKey(const DictionaryRef& receiver,
                            std::string_view keyPath);

// Places into the target what the key path addresses, building a skeleton
// of new mutable containers that mirrors the receiver's nesting. "*" stands
// for every entry (or record) of the container at hand. Skeleton records
// carry their "_id_". True when something was placed; a skeleton built on
// the way stays even when nothing was found below it.
[[nodiscard]] bool objectForNestedKey(const DictionaryRef& receiver,
                                      std::string_view keyPath,
                                      const MutableDictionaryRef& target);
[[nodiscard]] bool objectForNestedKey(const ArrayRef& receiver,
                                      std::string_view keyPath,
                                      const MutableArrayRef& target);

// Every string key path of the array extracted into one new dictionary.
MutableDictionaryRef dictionaryForKeys(const DictionaryRef& receiver,
                                       const ArrayRef& keyPaths);

// Stores the value (none removes) at the key path. The parent of the place
// must exist; no container is created on the way. With replace false a
// dictionary value merges key by key into an existing dictionary, and a
// record array record by record (updateDictionary) into an existing array
// that is empty or holds records; the existing container must be mutable,
// else false, and a record array over any other value is false too.
// Anything else replaces. A parent array without records is
// addressed by the leading decimal number of the last component.
[[nodiscard]] bool setNestedObject(const MutableDictionaryRef& receiver,
                                   const ValueRef& value,
                                   std::string_view keyPath, bool replace);

// Each key path of the updates stored with its value, replace false; stops
// at the first failure. None gives true.
[[nodiscard]] bool updateWithDictionary(const MutableDictionaryRef& receiver,
                                        const DictionaryRef& updates);

// Removes the entry, or the first record, at the key path when its parent
// exists and is mutable.
void removeNestedObjectForKey(const MutableDictionaryRef& receiver,
                              std::string_view keyPath);

}  // namespace steward
