// The object archiver of context files: one tree to bytes and back. An
// archive is a binary property list (bplist00) of the root object, so any
// tool that reads that format can inspect a context file.
#pragma once

#include <string>
#include <string_view>

#include "platform/PropertyValue.h"

namespace steward {

// The archived bytes of a tree; false when it holds something that is not a
// property value.
[[nodiscard]] bool archivedDataWithRootObject(const ValueRef& root,
                                              std::string* out);

// The tree stored in the bytes, every container mutable. Throws
// std::runtime_error when the bytes are not an archive.
ValueRef unarchiveObjectWithData(std::string_view bytes);

}  // namespace steward
