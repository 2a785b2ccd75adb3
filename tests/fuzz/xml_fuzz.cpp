// Any bytes into the XML reader, whole and streamed in two pieces: both give
// the same answer, and whatever reads stays within the read bound, writes
// back and reads again as an equal tree, in XML and in the binary form.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/BinaryPropertyList.h"
#include "platform/XmlPropertyList.h"

using namespace steward;

static void check(bool ok, const std::string& what) {
  if (ok) return;
  std::fprintf(stderr, "%s\n", what.c_str());
  std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string error, streamError;
  ValueRef value = readXMLPropertyList(bytes, Mutability::kImmutable, &error);

  XmlPropertyListReader reader(Mutability::kMutableContainers);
  std::size_t cut = size == 0 ? 0 : data[0] % size;
  ValueRef streamed;
  if (reader.feed(bytes.substr(0, cut), &streamError) &&
      reader.feed(bytes.substr(cut), &streamError))
    streamed = reader.finish(&streamError);
  check(!value == !streamed, "whole: " + error + "; in pieces: " + streamError);
  if (!value) return 0;
  check(isEqual(value, streamed), "streaming changed the tree");
  check(fitsReadBound(value, size), "the tree outgrows its input");

  std::string text;
  check(writeXMLPropertyList(value, &text, &error), "read but not written: " + error);
  // Dates are written in whole seconds, so it is the text that must come
  // back unchanged, not the tree a fraction was read into.
  ValueRef again = readXMLPropertyList(text, Mutability::kMutableContainersAndLeaves, &error);
  std::string textAgain;
  check(again && writeXMLPropertyList(again, &textAgain, &error) && textAgain == text,
        "round trip differs: " + error + "\n" + text);
  std::string binary;
  check(writeBinaryPropertyList(value, &binary, &error), "no binary form: " + error);
  again = readBinaryPropertyList(binary, Mutability::kImmutable, &error);
  check(again && isEqual(value, again), "binary round trip differs: " + error + "\n" + text);
  return 0;
}
