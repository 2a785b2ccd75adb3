// Bytes as an SMBIOS memory-device record, as machreport reads them from the
// firmware's tables: the parser never reads past them, and every string it
// returns comes from them.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "machreport/MemoryDevice.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view raw(reinterpret_cast<const char*>(data), size);
  auto device = steward::machreport::parseMemoryDevice(raw);
  if (!device) return 0;
  for (const auto* text : {&device->locator, &device->bankLocator, &device->manufacturer,
                           &device->partNumber}) {
    if (text->size() > size || (!text->empty() && raw.find(*text) == std::string_view::npos))
      std::abort();
  }
  return 0;
}
