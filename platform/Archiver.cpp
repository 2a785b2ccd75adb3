#include "platform/Archiver.h"

#include <stdexcept>

#include "platform/BinaryPropertyList.h"

namespace steward {

bool archivedDataWithRootObject(const ValueRef& root, std::string* out) {
  std::string error;
  return writeBinaryPropertyList(root, out, &error);
}

ValueRef unarchiveObjectWithData(std::string_view bytes) {
  std::string error;
  ValueRef root =
      readBinaryPropertyList(bytes, Mutability::kMutableContainers, &error);
  if (!root) throw std::runtime_error("not an archive: " + error);
  return root;
}

}  // namespace steward
