// The XML property lists exchanged with stewardd: what counts as a request,
// how a reply becomes bytes, and the fixed error envelope written when either
// fails. Nothing here raises or logs.
#pragma once

#include <string>
#include <string_view>

#include "platform/PropertyValue.h"

namespace steward {

// The fixed eight-line error envelope with `code` inserted verbatim; no line
// feed after the last line.
std::string error_envelope(std::string_view code);

// `input` none: failure. Zero bytes: an empty dictionary. Otherwise the root
// of the XML property list, which must be a dictionary; no other format is
// read. On failure *request is
// none and *errorBytes the "CANNOT_PARSE_XML_REQUEST_ERR" envelope.
[[nodiscard]] bool parse_xml_request(const std::string* input,
                                     DictionaryRef* request,
                                     std::string* errorBytes);

// Always leaves bytes to write in *out: the reply as an XML property list
// (true), or the "UNEXPECTED_COMMAND" envelope for no reply, or the
// "CANNOT_CREATE_XML_RESPONSE_ERR" envelope for one that cannot be written.
[[nodiscard]] bool build_xml_response(const DictionaryRef& reply,
                                      std::string* out);

// The value for `key` when it is a string; none otherwise.
StringRef string_for_key(const DictionaryRef& dictionary, std::string_view key);

// A copy of `dictionary` with `value` stored under `key` (replacing an entry
// of that key); the very `dictionary` passed in when it or `value` is none.
DictionaryRef dictionary_with_added_key(const DictionaryRef& dictionary,
                                        const ValueRef& value,
                                        std::string key);

}  // namespace steward
