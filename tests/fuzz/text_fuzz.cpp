// Arbitrary bytes as the old text form or a strings file: reading never
// crashes, and whatever reads stays within the read bound and survives a
// binary round trip unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/BinaryPropertyList.h"
#include "platform/PropertyList.h"
#include "platform/TextPropertyList.h"

using namespace steward;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error, written;
  ValueRef tree =
      readOpenStepPropertyList(text, Mutability::kImmutable, &error);
  if (!tree) return 0;
  if (!fitsReadBound(tree, size)) std::abort();
  if (!writeBinaryPropertyList(tree, &written, &error)) std::abort();
  ValueRef back =
      readBinaryPropertyList(written, Mutability::kImmutable, &error);
  if (!back || !isEqual(tree, back)) std::abort();
  return 0;
}
