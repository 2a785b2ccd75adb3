#include "deploy/FastCgi.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace steward {
namespace {

constexpr unsigned char kVersion = 1;
enum Type : unsigned char {
  kBeginRequest = 1,
  kEndRequest = 3,
  kParams = 4,
  kStdin = 5,
  kStdout = 6,
};
constexpr unsigned kResponder = 1;
constexpr std::size_t kMaxContent = 65535;
// Input is dropped, yet not without end.
constexpr std::size_t kInputLimit = 65536;
constexpr int kMaxSkipped = 8;

struct Record {
  unsigned char type = 0;
  std::uint16_t id = 0;
  std::string content;
};

bool readAll(int fd, char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = read(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The next record of the request, a few records of the connection itself
// (id 0) skipped.
std::optional<Record> readRecord(int fd) {
  for (int skipped = 0; skipped <= kMaxSkipped; ++skipped) {
    unsigned char header[8];
    if (!readAll(fd, reinterpret_cast<char*>(header), sizeof header) || header[0] != kVersion)
      return std::nullopt;
    Record record;
    record.type = header[1];
    record.id = static_cast<std::uint16_t>(header[2] << 8 | header[3]);
    record.content.resize(static_cast<std::size_t>(header[4] << 8 | header[5]) + header[6]);
    if (!readAll(fd, record.content.data(), record.content.size())) return std::nullopt;
    record.content.resize(record.content.size() - header[6]);
    if (record.id != 0) return record;
  }
  return std::nullopt;
}

// A name's or value's length: one byte below 128, else four with the top bit set.
bool readLength(const std::string& data, std::size_t& at, std::size_t& length) {
  if (at >= data.size()) return false;
  auto byte = [&](std::size_t i) {
    return static_cast<std::size_t>(static_cast<unsigned char>(data[i]));
  };
  if (byte(at) < 0x80) {
    length = byte(at++);
    return true;
  }
  if (data.size() - at < 4) return false;
  length = (byte(at) & 0x7f) << 24 | byte(at + 1) << 16 | byte(at + 2) << 8 | byte(at + 3);
  at += 4;
  return true;
}

bool parseParams(const std::string& data, std::map<std::string, std::string>& params) {
  std::size_t at = 0;
  while (at < data.size()) {
    std::size_t nameLength = 0, valueLength = 0;
    if (!readLength(data, at, nameLength) || !readLength(data, at, valueLength) ||
        nameLength > data.size() - at || valueLength > data.size() - at - nameLength)
      return false;
    params[data.substr(at, nameLength)] = data.substr(at + nameLength, valueLength);
    at += nameLength + valueLength;
  }
  return true;
}

std::string header(unsigned char type, std::uint16_t id, std::size_t length) {
  const char bytes[8] = {static_cast<char>(kVersion),
                         static_cast<char>(type),
                         static_cast<char>(id >> 8),
                         static_cast<char>(id & 0xff),
                         static_cast<char>(length >> 8),
                         static_cast<char>(length & 0xff),
                         0,
                         0};
  return std::string(bytes, sizeof bytes);
}

}  // namespace

std::optional<FastCgiRequest> readFastCgiRequest(int fd) {
  std::optional<Record> record = readRecord(fd);
  if (!record || record->type != kBeginRequest || record->content.size() != 8 ||
      (static_cast<unsigned char>(record->content[0]) << 8 |
       static_cast<unsigned char>(record->content[1])) != kResponder)
    return std::nullopt;
  FastCgiRequest request;
  request.id = record->id;
  std::string params;
  bool paramsDone = false;
  std::size_t input = 0;
  while ((record = readRecord(fd)) && record->id == request.id) {
    if (!paramsDone && record->type == kParams) {
      paramsDone = record->content.empty();
      params += record->content;
      if (params.size() > kFastCgiParamsLimit) return std::nullopt;
    } else if (paramsDone && record->type == kStdin) {
      if (record->content.empty())
        return parseParams(params, request.params) ? std::optional(request) : std::nullopt;
      if ((input += record->content.size()) > kInputLimit) return std::nullopt;
    } else {
      return std::nullopt;  // an abort, a second begin, or out of order
    }
  }
  return std::nullopt;
}

bool writeFastCgiResponse(int fd, std::uint16_t id, const std::string& output) {
  std::string records;
  for (std::size_t at = 0; at < output.size(); at += kMaxContent) {
    const std::size_t length = std::min(kMaxContent, output.size() - at);
    records += header(kStdout, id, length) + output.substr(at, length);
  }
  records += header(kStdout, id, 0);
  records += header(kEndRequest, id, 8) + std::string(8, '\0');  // status 0, request complete
  return writeAll(fd, records.data(), records.size());
}

}  // namespace steward
