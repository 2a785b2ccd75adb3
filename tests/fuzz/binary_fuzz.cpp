// Arbitrary bytes as a binary property list: reading never crashes, and
// whatever reads stays within the read bound, writes back, reads again to
// an equal tree and writes again to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/BinaryPropertyList.h"
#include "platform/PropertyList.h"

using namespace steward;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (Mutability m :
       {Mutability::kImmutable, Mutability::kMutableContainers}) {
    std::string error, written, again;
    ValueRef tree = readBinaryPropertyList(bytes, m, &error);
    if (!tree) continue;
    if (!fitsReadBound(tree, size)) std::abort();
    if (!writeBinaryPropertyList(tree, &written, &error)) std::abort();
    ValueRef back =
        readBinaryPropertyList(written, Mutability::kImmutable, &error);
    if (!back || !isEqual(tree, back)) std::abort();
    if (!writeBinaryPropertyList(back, &again, &error) || again != written)
      std::abort();
  }
  return 0;
}
