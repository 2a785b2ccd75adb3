// The binary property-list format, "bplist00": a header, the objects, a
// table of their offsets and a 32-byte trailer. Interoperates with other
// readers and writers of the format.
#pragma once

#include <string>
#include <string_view>

#include "platform/PropertyList.h"
#include "platform/PropertyValue.h"

namespace steward {

// Reads a whole binary property list. Strict: every offset, count and
// reference is checked against the file, cycles and nesting deeper than
// kMaxBinaryDepth fail, and so do kinds this tree cannot hold (null, sets,
// integers beyond 64 bits). An object referenced from several places decodes
// to a shared object when the result is immutable, and to separate objects
// otherwise; either way every place it takes counts toward the nesting
// limit and toward the read bound of PropertyList.h.
[[nodiscard]] ValueRef readBinaryPropertyList(std::string_view bytes,
                                              Mutability mutability,
                                              std::string* error);

// Writes a tree in linear time: equal leaves and dictionary keys are stored
// once, and a container placed in several spots is written once. Fails on a
// foreign value, text that is not UTF-8, a date that is not a finite number,
// a container holding itself, and whatever the reader would refuse: nesting
// deeper than kMaxBinaryDepth, or so much sharing that the file would pass
// the read bound.
// *out is changed only on success.
[[nodiscard]] bool writeBinaryPropertyList(const ValueRef& root,
                                           std::string* out,
                                           std::string* error);

inline constexpr int kMaxBinaryDepth = 512;

}  // namespace steward
