#include "host/RequestEnvelope.h"

#include "platform/PropertyList.h"
#include "platform/XmlPropertyList.h"

namespace steward {

std::string error_envelope(std::string_view code) {
  std::string envelope(kXmlPropertyListProlog);
  envelope.append(
      "<plist version=\"0.9\">\n"
      "<dict>\n"
      "<key>error</key>\n"
      "<string>");
  envelope.append(code);
  envelope.append(
      "</string>\n"
      "</dict>\n"
      "</plist>");
  return envelope;
}

bool parse_xml_request(const std::string* input, DictionaryRef* request,
                       std::string* errorBytes) {
  *request = nullptr;
  errorBytes->clear();
  if (input && input->empty()) {
    *request = std::make_shared<Dictionary>();
    return true;
  }
  if (input) {
    // Only the XML reader ever sees what a caller sends.
    std::string error;
    *request = as<Dictionary>(
        readXMLPropertyList(*input, Mutability::kImmutable, &error));
    if (*request) return true;
  }
  *errorBytes = error_envelope("CANNOT_PARSE_XML_REQUEST_ERR");
  return false;
}

bool build_xml_response(const DictionaryRef& reply, std::string* out) {
  out->clear();
  if (!reply) {
    *out = error_envelope("UNEXPECTED_COMMAND");
    return false;
  }
  std::string error;
  if (propertyListToData(reply, PropertyListFormat::kXML, out, &error)) {
    return true;
  }
  *out = error_envelope("CANNOT_CREATE_XML_RESPONSE_ERR");
  return false;
}

StringRef string_for_key(const DictionaryRef& dictionary,
                         std::string_view key) {
  if (!dictionary) return nullptr;
  return as<String>(dictionary->objectForKey(key));
}

DictionaryRef dictionary_with_added_key(const DictionaryRef& dictionary,
                                        const ValueRef& value,
                                        std::string key) {
  if (!dictionary || !value) return dictionary;
  MutableDictionaryRef copy = dictionary->mutableCopy();
  copy->setObject(value, std::move(key));
  return as<Dictionary>(copy->copy());
}

}  // namespace steward
