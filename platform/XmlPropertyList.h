// The XML property-list format: a strict reader (whole bytes, or streamed in
// chunks) and a writer.
//
// The reader accepts exactly the eight value kinds under one <plist> root and
// fails, with a one-line reason, on anything else: malformed XML, unknown
// elements, a key without a value, numbers or dates or base64 that do not
// parse, a duplicate key in one dictionary, text between elements. DTDs may
// name the plist type but never declare anything, so no entity expansion and
// no external fetches happen. Containers nest at most kMaxXmlNestingDepth
// levels, which keeps building, writing and destroying a tree off the edge
// of the stack.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/PropertyList.h"
#include "platform/PropertyValue.h"

namespace steward {

// Dictionaries and arrays nested deeper than this are refused, by the reader
// and the writer alike (for the writer this also catches a container that
// holds itself).
constexpr std::size_t kMaxXmlNestingDepth = 512;

// The first two lines of every XML property list this system writes: the
// XML declaration and the format's document type, each ending in a newline.
constexpr std::string_view kXmlPropertyListProlog =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";

// Reads a property list that arrives in pieces, e.g. a file in 64 KiB reads;
// the text is never held whole. Not copyable; one document per reader.
class XmlPropertyListReader {
 public:
  explicit XmlPropertyListReader(Mutability mutability);
  ~XmlPropertyListReader();
  XmlPropertyListReader(const XmlPropertyListReader&) = delete;
  XmlPropertyListReader& operator=(const XmlPropertyListReader&) = delete;

  // Parses the next piece. After a failure every later call fails with the
  // same reason.
  [[nodiscard]] bool feed(std::string_view chunk, std::string* error);
  // Ends the document; the root value, or none with the reason in *error.
  [[nodiscard]] ValueRef finish(std::string* error);

 private:
  class Parser;
  std::unique_ptr<Parser> parser_;
};

[[nodiscard]] ValueRef readXMLPropertyList(std::string_view bytes,
                                           Mutability mutability,
                                           std::string* error);

// Whether the start of a file looks like XML: "<?xml", "<!" or "<plist",
// optionally after a UTF-8 byte-order mark and whitespace. It tells the
// formats apart (old-style data "<0a0b>" is not XML); it validates nothing.
bool looksLikeXMLPropertyList(std::string_view head);

// Replaces *out with the XML text of the tree: UTF-8, tab-indented,
// dictionary keys in the dictionary's own order. Fails, leaving *out alone,
// on none, a foreign value, text that is not UTF-8 or holds characters XML
// 1.0 cannot carry, a date outside the years 0000 to 9999, or nesting
// deeper than kMaxXmlNestingDepth (an empty container is a level too).
// Dates are written in whole seconds, a fraction dropped toward the earlier
// second, as other writers and readers of the format expect.
[[nodiscard]] bool writeXMLPropertyList(const ValueRef& root, std::string* out,
                                        std::string* error);

}  // namespace steward
