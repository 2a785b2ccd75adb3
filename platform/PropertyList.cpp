#include "platform/PropertyList.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/BinaryPropertyList.h"
#include "platform/ReadBudget.h"
#include "platform/TextPropertyList.h"
#include "platform/XmlPropertyList.h"

namespace steward {
namespace {

constexpr std::size_t kChunkSize = 64 * 1024;

bool isUTF16(std::string_view head) {
  return head.starts_with("\xFE\xFF") || head.starts_with("\xFF\xFE");
}

// The XML test looks at ASCII only, so UTF-16 text is narrowed to the ASCII
// of its first characters; a UTF-16 strings file then stays text.
bool looksLikeXML(std::string_view head) {
  if (!isUTF16(head)) return looksLikeXMLPropertyList(head);
  const bool bigEndian = head[0] == '\xFE';
  std::string narrow;
  for (std::size_t i = 2; i + 1 < head.size() && narrow.size() < 64; i += 2) {
    auto hi = static_cast<unsigned char>(head[bigEndian ? i : i + 1]);
    auto lo = static_cast<unsigned char>(head[bigEndian ? i + 1 : i]);
    narrow.push_back(hi == 0 && lo < 0x80 ? static_cast<char>(lo) : '?');
  }
  return looksLikeXMLPropertyList(narrow);
}

PropertyListFormat detect(std::string_view head) {
  if (head.starts_with("bplist")) return PropertyListFormat::kBinary;
  if (looksLikeXML(head)) return PropertyListFormat::kXML;
  return PropertyListFormat::kOpenStep;
}

// Reads up to `limit` bytes, fewer only at the end of the file.
bool readUpTo(int fd, std::size_t limit, std::string* out) {
  const std::size_t start = out->size();
  out->resize(start + limit);
  std::size_t got = 0;
  while (got < limit) {
    ssize_t n = ::read(fd, out->data() + start + got, limit - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  out->resize(start + got);
  return true;
}

bool readToEnd(int fd, std::string* out) {
  for (;;) {
    const std::size_t before = out->size();
    if (!readUpTo(fd, kChunkSize, out)) return false;
    if (out->size() - before < kChunkSize) return true;
  }
}

ValueRef readXMLStream(int fd, std::string head, Mutability mutability,
                       std::string* error) {
  XmlPropertyListReader reader(mutability);
  std::string chunk = std::move(head);
  while (!chunk.empty()) {
    if (!reader.feed(chunk, error)) return nullptr;
    chunk.clear();
    if (!readUpTo(fd, kChunkSize, &chunk)) {
      *error = std::strerror(errno);
      return nullptr;
    }
  }
  return reader.finish(error);
}

}  // namespace

ValueRef propertyListFromData(std::string_view bytes, Mutability mutability,
                              PropertyListFormat* format, std::string* error) {
  std::string reason;
  ValueRef root;
  const PropertyListFormat detected = detect(bytes);
  if (bytes.empty()) {
    reason = "empty input";
  } else if (detected == PropertyListFormat::kBinary) {
    root = readBinaryPropertyList(bytes, mutability, &reason);
  } else if (detected == PropertyListFormat::kXML) {
    root = readXMLPropertyList(bytes, mutability, &reason);
  } else {
    root = readOpenStepPropertyList(bytes, mutability, &reason);
  }
  if (root && format) *format = detected;
  if (!root && error) *error = reason;
  return root;
}

ValueRef propertyListFromFile(const std::string& path, Mutability mutability,
                              PropertyListFormat* format, std::string* error) {
  std::string reason;
  ValueRef root;
  PropertyListFormat detected = PropertyListFormat::kXML;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  std::string bytes;
  if (fd < 0 || !readUpTo(fd, kChunkSize, &bytes)) {
    reason = std::strerror(errno);
  } else if (looksLikeXML(bytes)) {
    root = readXMLStream(fd, std::move(bytes), mutability, &reason);
  } else {
    if (bytes.size() == kChunkSize && !readToEnd(fd, &bytes))
      reason = std::strerror(errno);
    else
      root = propertyListFromData(bytes, mutability, &detected, &reason);
  }
  if (fd >= 0) ::close(fd);
  if (root && format) *format = detected;
  if (!root && error) *error = path + ": " + reason;
  return root;
}

bool fitsReadBound(const ValueRef& root, std::uint64_t inputBytes) {
  ReadBudget budget(inputBytes);
  const char* reason;
  std::vector<const Value*> stack;
  if (root) stack.push_back(root.get());
  while (!stack.empty()) {
    const Value& value = *stack.back();
    stack.pop_back();
    if (!budget.spend(value, &reason)) return false;
    if (value.kind() == ValueKind::kArray) {
      for (const auto& v : static_cast<const Array&>(value).objects()) stack.push_back(v.get());
    } else if (value.kind() == ValueKind::kDictionary) {
      for (const auto& e : static_cast<const Dictionary&>(value).entries()) {
        if (!budget.spend(1, e.key.size(), &reason)) return false;
        stack.push_back(e.value.get());
      }
    }
  }
  return true;
}

bool propertyListToData(const ValueRef& root, PropertyListFormat format,
                        std::string* out, std::string* error) {
  switch (format) {
    case PropertyListFormat::kXML:
      return writeXMLPropertyList(root, out, error);
    case PropertyListFormat::kBinary:
      return writeBinaryPropertyList(root, out, error);
    case PropertyListFormat::kOpenStep:
      break;
  }
  if (error) *error = "the old text form can be read but not written";
  return false;
}

}  // namespace steward
