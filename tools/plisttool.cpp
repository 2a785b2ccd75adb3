// plisttool: converts, checks and prints property lists of every format the
// platform layer reads.
//
//   plisttool -c xml|binary -o OUT IN   convert IN to OUT ("-": stdin/stdout)
//   plisttool -l FILE...                check files, stopping at the first bad
//   one plisttool -p FILE                   print the readable text form
//
// Exit status: 0 success, 1 a file failed, 2 a usage error.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/PropertyList.h"
#include "platform/PropertyValue.h"

namespace steward {
namespace {

constexpr char kUsage[] =
    "usage: plisttool -c xml|binary -o OUT IN\n"
    "       plisttool -l FILE...\n"
    "       plisttool -p FILE\n";

int usageError(const std::string& message) {
  std::fprintf(stderr, "plisttool: %s\n%s", message.c_str(), kUsage);
  return 2;
}

int failure(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return 1;
}

// Reads a file, or standard input for "-"; errors name the argument given.
ValueRef load(const std::string& path, std::string* error) {
  if (path != "-")
    return propertyListFromFile(path, Mutability::kImmutable, nullptr, error);
  std::string bytes(std::istreambuf_iterator<char>(std::cin), {});
  std::string reason;
  ValueRef root = std::cin.bad()
                      ? nullptr
                      : propertyListFromData(bytes, Mutability::kImmutable,
                                             nullptr, &reason);
  if (!root) *error = "-: " + (std::cin.bad() ? "read error" : reason);
  return root;
}

// Writes standard output for "-", otherwise replaces the file atomically so
// a failed write never leaves it half written.
bool save(const std::string& path, const std::string& bytes,
          std::string* error) {
  if (path == "-") {
    if (writeAll(STDOUT_FILENO, bytes)) return true;
    *error = "-: " + std::string(std::strerror(errno));
    return false;
  }
  // A new file gets the mode an ordinary creation would give it.
  return writeFileAtomically(path, bytes, error, 0666);
}

int convert(const std::vector<std::string>& args) {
  if (args.empty()) return usageError("-c needs a format");
  PropertyListFormat format;
  if (args[0] == "xml") {
    format = PropertyListFormat::kXML;
  } else if (args[0] == "binary") {
    format = PropertyListFormat::kBinary;
  } else {
    return usageError("unknown format '" + args[0] + "'");
  }
  std::string in, out;
  bool haveIn = false, haveOut = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "-o" && !haveOut && i + 1 < args.size()) {
      out = args[++i], haveOut = true;
    } else if (!haveIn && (args[i] == "-" || args[i][0] != '-')) {
      in = args[i], haveIn = true;
    } else {
      return usageError("unexpected argument '" + args[i] + "'");
    }
  }
  if (!haveIn || !haveOut) return usageError("-c needs -o OUT and IN");

  std::string error, bytes;
  ValueRef root = load(in, &error);
  if (!root) return failure(error);
  if (!propertyListToData(root, format, &bytes, &error))
    return failure(in + ": " + error);
  if (!save(out, bytes, &error)) return failure(error);
  return 0;
}

int check(const std::vector<std::string>& files) {
  if (files.empty()) return usageError("-l needs at least one file");
  for (const std::string& file : files) {
    std::string error;
    if (!load(file, &error)) return failure(error);
    std::printf("%s: OK\n", file.c_str());
  }
  return 0;
}

int print(const std::vector<std::string>& files) {
  if (files.size() != 1) return usageError("-p needs exactly one file");
  std::string error;
  ValueRef root = load(files[0], &error);
  if (!root) return failure(error);
  std::string text = describe(root) + "\n";
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}

int run(int argc, char** argv) {
  if (argc < 2) return usageError("missing command");
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "-c") return convert(args);
  if (command == "-l") return check(args);
  if (command == "-p") return print(args);
  return usageError("unknown command '" + command + "'");
}

}  // namespace
}  // namespace steward

int main(int argc, char** argv) {
  int status = steward::run(argc, argv);
  if (std::fflush(stdout) != 0 && status == 0) {
    std::perror("plisttool: stdout");
    status = 1;
  }
  return status;
}
