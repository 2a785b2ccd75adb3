// Any bytes into the XML reader; whatever it accepts must write back and
// read again as an equal tree.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/XmlPropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace steward;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string error;
  ValueRef value = readXMLPropertyList(bytes, Mutability::kImmutable, &error);
  if (!value) return 0;
  std::string text;
  if (!writeXMLPropertyList(value, &text, &error)) {
    std::fprintf(stderr, "read but not written: %s\n", error.c_str());
    std::abort();
  }
  ValueRef again = readXMLPropertyList(text, Mutability::kMutableContainersAndLeaves, &error);
  if (!again || !isEqual(value, again)) {
    std::fprintf(stderr, "round trip differs: %s\n%s\n", error.c_str(), text.c_str());
    std::abort();
  }
  return 0;
}
