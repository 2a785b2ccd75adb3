// Copies of a tree of property values in which every container is a new,
// mutable one, as the key-path store operations need. The source must be a
// tree: no container may hold itself.
#pragma once

#include "platform/PropertyValue.h"

namespace steward {

// New mutable arrays and dictionaries, in the source's order, holding the
// very same leaves; a leaf receiver is itself the result.
ValueRef deepMutableStructureCopy(const ValueRef& value);

// New mutable containers and new leaves: text and data come out mutable,
// numbers, booleans and dates as equal fixed copies.
ValueRef deepMutableCopy(const ValueRef& value);

}  // namespace steward
