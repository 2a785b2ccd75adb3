#include "CommonLib/DeepMutableCopyAdditions.h"

namespace steward {

namespace {

// The containers of the tree rebuilt mutable, each leaf given to copyLeaf.
template <class CopyLeaf>
ValueRef copyContainers(const ValueRef& value, const CopyLeaf& copyLeaf) {
  if (auto array = as<Array>(value)) {
    auto copy = makeMutableArray();
    copy->reserve(array->count());
    for (const auto& element : array->objects())
      copy->addObject(copyContainers(element, copyLeaf));
    return copy;
  }
  if (auto dictionary = as<Dictionary>(value)) {
    auto copy = makeMutableDictionary();
    copy->reserve(dictionary->count());
    for (const auto& entry : dictionary->entries())
      copy->setObject(copyContainers(entry.value, copyLeaf), entry.key);
    return copy;
  }
  return copyLeaf(value);
}

}  // namespace

ValueRef deepMutableStructureCopy(const ValueRef& value) {
  return copyContainers(value, [](const ValueRef& leaf) { return leaf; });
}

ValueRef deepMutableCopy(const ValueRef& value) {
  return copyContainers(value, [](const ValueRef& leaf) -> ValueRef {
    if (!leaf) return nullptr;
    if (auto text = as<String>(leaf)) return text->mutableCopy();
    if (auto data = as<Data>(leaf)) return data->mutableCopy();
    return leaf->copy();
  });
}

}  // namespace steward
