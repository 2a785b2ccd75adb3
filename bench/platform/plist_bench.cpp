// Property-list reading and writing, ours against libplist, and the XML
// reader against bare expat with handlers that do nothing. Three documents:
// a ~1 KB request, a ~200 KB and a ~20 MB array of records. After the runs a
// summary prints the throughput ratios (of the medians when repeated; on a
// busy machine use --benchmark_repetitions=5
// --benchmark_enable_random_interleaving=true).
//
//   plist_bench [benchmark flags]      the benchmarks and the ratios
//   plist_bench --write-large FILE     writes the ~20 MB XML document
//   plist_bench --cold FILE            reads an XML FILE once per fresh
//                                      process with each reader (ours in
//                                      64 KiB pieces): CPU time, throughput,
//                                      peak memory against the file's size
#include <benchmark/benchmark.h>
#include <expat.h>
#include <plist/plist.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/BinaryPropertyList.h"
#include "platform/XmlPropertyList.h"

namespace steward {
namespace {

constexpr std::size_t kPieceSize = 64 * 1024;

// A fixed pseudo-random sequence, so every run measures the same documents.
class Sequence {
 public:
  std::uint64_t next() {
    state_ = state_ * 6364136223846793005u + 1442695040888963407u;
    return state_ >> 33;
  }

 private:
  std::uint64_t state_ = 42;
};

ValueRef makeRecord(Sequence& random, int id) {
  static const char* const kWords[] = {"alpha", "bravo", "charlie", "delta", "echo",
                                       "foxtrot", "golf", "hotel", "india", "juliet"};
  auto word = [&] { return std::string(kWords[random.next() % 10]); };
  auto record = makeMutableDictionary();
  record->setObject(makeInteger(id), "identifier");
  record->setObject(makeString(word() + " " + word() + " service"), "name");
  record->setObject(makeString(word() + "-" + std::to_string(id) + ".example.com"), "hostName");
  record->setObject(makeString("10." + std::to_string(random.next() % 256) + "." +
                               std::to_string(random.next() % 256) + ".7"),
                    "address");
  record->setObject(makeInteger(static_cast<std::int64_t>(1024 + random.next() % 60000)), "port");
  record->setObject(makeReal(static_cast<double>(random.next() % 10000) / 128.0), "load");
  record->setObject(makeBoolean(random.next() % 2 == 0), "enabled");
  record->setObject(makeDate(static_cast<double>(700000000 + random.next() % 50000000)),
                    "lastSeen");
  std::string token;
  for (int i = 0; i < 16; ++i) token.push_back(static_cast<char>(random.next()));
  record->setObject(makeData(token), "token");
  auto tags = makeMutableArray();
  tags->addObject(makeString(word()));
  tags->addObject(makeString(word() + " & " + word()));
  record->setObject(tags, "tags");
  return record;
}

ValueRef makeRequest() {
  Sequence random;
  auto request = makeMutableDictionary();
  request->setObject(makeString("status"), "command");
  auto context = makeMutableDictionary();
  context->setObject(makeString("0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0"), "session");
  context->setObject(makeInteger(17), "sequence");
  request->setObject(context, "clientContext");
  auto records = makeMutableArray();
  for (int i = 0; i < 2; ++i) records->addObject(makeRecord(random, i));
  request->setObject(records, "records");
  return request;
}

ValueRef makeRecords(std::size_t count) {
  Sequence random;
  auto records = makeMutableArray();
  records->reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    records->addObject(makeRecord(random, static_cast<int>(i)));
  return records;
}

std::string xmlOf(const ValueRef& tree) {
  std::string out, error;
  if (!writeXMLPropertyList(tree, &out, &error)) std::fprintf(stderr, "%s\n", error.c_str());
  return out;
}

std::string binaryOf(const ValueRef& tree) {
  std::string out, error;
  if (!writeBinaryPropertyList(tree, &out, &error)) std::fprintf(stderr, "%s\n", error.c_str());
  return out;
}

// About 560 bytes of XML per record.
constexpr std::size_t kMediumRecords = 360;
constexpr std::size_t kLargeRecords = 36000;

struct Document {
  ValueRef tree;
  std::string xml;
  std::string binary;
  plist_t libplistTree = nullptr;
};

// Built on first use, so a filtered run does not pay for the large one.
const Document& document(int size) {
  static std::map<int, Document> documents;
  auto it = documents.find(size);
  if (it != documents.end()) return it->second;
  Document& d = documents[size];
  d.tree = size == 0 ? makeRequest() : makeRecords(size == 1 ? kMediumRecords : kLargeRecords);
  d.xml = xmlOf(d.tree);
  d.binary = binaryOf(d.tree);
  plist_from_xml(d.xml.data(), static_cast<std::uint32_t>(d.xml.size()), &d.libplistTree);
  return d;
}

const char* const kSizeNames[] = {"small", "medium", "large"};

// Freeing a tree is not reading it: outside the clock, except for the small
// request, whose run is too short to stop the clock around.
template <class Drop>
void dropUntimed(benchmark::State& state, int size, Drop drop) {
  if (size == 0) return drop();
  state.PauseTiming();
  drop();
  state.ResumeTiming();
}

void xmlReadOurs(benchmark::State& state, int size) {
  const std::string& xml = document(size).xml;
  std::string error;
  for (auto _ : state) {
    ValueRef tree = readXMLPropertyList(xml, Mutability::kImmutable, &error);
    if (!tree) state.SkipWithError(error.c_str());
    dropUntimed(state, size, [&] { tree.reset(); });
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * xml.size()));
}

void xmlReadLibplist(benchmark::State& state, int size) {
  const std::string& xml = document(size).xml;
  for (auto _ : state) {
    plist_t tree = nullptr;
    plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &tree);
    if (!tree) state.SkipWithError("libplist could not read the document");
    dropUntimed(state, size, [&] { plist_free(tree); });
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * xml.size()));
}

void XMLCALL ignoreStart(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL ignoreEnd(void*, const XML_Char*) {}
void XMLCALL ignoreText(void*, const XML_Char*, int) {}

void xmlReadExpat(benchmark::State& state, int size) {
  const std::string& xml = document(size).xml;
  for (auto _ : state) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetElementHandler(parser, ignoreStart, ignoreEnd);
    XML_SetCharacterDataHandler(parser, ignoreText);
    std::string_view rest = xml;
    bool ok = true;
    while (ok && !rest.empty()) {
      std::size_t piece = std::min(rest.size(), kPieceSize);
      ok = XML_Parse(parser, rest.data(), static_cast<int>(piece), XML_FALSE) == XML_STATUS_OK;
      rest.remove_prefix(piece);
    }
    ok = ok && XML_Parse(parser, "", 0, XML_TRUE) == XML_STATUS_OK;
    if (!ok) state.SkipWithError("expat could not read the document");
    XML_ParserFree(parser);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * xml.size()));
}

void xmlWriteOurs(benchmark::State& state, int size) {
  const Document& d = document(size);
  std::string out, error;
  for (auto _ : state) {
    if (!writeXMLPropertyList(d.tree, &out, &error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * d.xml.size()));
}

void xmlWriteLibplist(benchmark::State& state, int size) {
  const Document& d = document(size);
  for (auto _ : state) {
    char* out = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(d.libplistTree, &out, &length);
    benchmark::DoNotOptimize(out);
    plist_to_xml_free(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * d.xml.size()));
}

void binaryReadOurs(benchmark::State& state, int size) {
  const std::string& binary = document(size).binary;
  std::string error;
  for (auto _ : state) {
    ValueRef tree = readBinaryPropertyList(binary, Mutability::kImmutable, &error);
    if (!tree) state.SkipWithError(error.c_str());
    dropUntimed(state, size, [&] { tree.reset(); });
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * binary.size()));
}

void binaryReadLibplist(benchmark::State& state, int size) {
  const std::string& binary = document(size).binary;
  for (auto _ : state) {
    plist_t tree = nullptr;
    plist_from_bin(binary.data(), static_cast<std::uint32_t>(binary.size()), &tree);
    if (!tree) state.SkipWithError("libplist could not read the document");
    dropUntimed(state, size, [&] { plist_free(tree); });
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * binary.size()));
}

void binaryWriteOurs(benchmark::State& state, int size) {
  const Document& d = document(size);
  std::string out, error;
  for (auto _ : state) {
    if (!writeBinaryPropertyList(d.tree, &out, &error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * d.binary.size()));
}

void binaryWriteLibplist(benchmark::State& state, int size) {
  const Document& d = document(size);
  for (auto _ : state) {
    char* out = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(d.libplistTree, &out, &length);
    benchmark::DoNotOptimize(out);
    plist_to_bin_free(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * d.binary.size()));
}

void registerAll() {
  struct Case {
    const char* name;
    void (*run)(benchmark::State&, int);
  };
  const Case cases[] = {
      {"xml_read/ours", xmlReadOurs},         {"xml_read/libplist", xmlReadLibplist},
      {"xml_read/expat", xmlReadExpat},       {"xml_write/ours", xmlWriteOurs},
      {"xml_write/libplist", xmlWriteLibplist}, {"binary_read/ours", binaryReadOurs},
      {"binary_read/libplist", binaryReadLibplist}, {"binary_write/ours", binaryWriteOurs},
      {"binary_write/libplist", binaryWriteLibplist},
  };
  for (const Case& c : cases)
    for (int size = 0; size < 3; ++size) {
      std::string name = std::string(c.name) + "/" + kSizeNames[size];
      auto* b = benchmark::RegisterBenchmark(name.c_str(), c.run, size);
      b->Unit(size == 0 ? benchmark::kMicrosecond : benchmark::kMillisecond);
    }
}

// The console output, and the throughput of every run kept for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // With repetitions the median stands for the benchmark.
    for (const Run& run : runs) {
      auto it = run.counters.find("bytes_per_second");
      if (run.error_occurred || it == run.counters.end()) continue;
      if (run.run_type == Run::RT_Iteration && run.repetitions <= 1)
        throughput_[run.benchmark_name()] = it->second;
      else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        throughput_[run.run_name.str()] = it->second;
    }
  }

  void printRatios() const {
    const char* const comparisons[][3] = {
        {"xml_read", "ours", "libplist"},    {"xml_read", "ours", "expat"},
        {"xml_write", "ours", "libplist"},   {"binary_read", "ours", "libplist"},
        {"binary_write", "ours", "libplist"},
    };
    std::printf("\nThroughput ratios\n");
    for (const auto& c : comparisons)
      for (const char* size : kSizeNames) {
        auto ours = throughput_.find(std::string(c[0]) + "/" + c[1] + "/" + size);
        auto theirs = throughput_.find(std::string(c[0]) + "/" + c[2] + "/" + size);
        if (ours == throughput_.end() || theirs == throughput_.end()) continue;
        std::printf("  %-13s %-7s ours/%-9s %6.2fx  (%.1f vs %.1f MB/s)\n", c[0], size, c[2],
                    ours->second / theirs->second, ours->second / 1e6, theirs->second / 1e6);
      }
  }

 private:
  std::map<std::string, double> throughput_;
};

int writeLarge(const char* path) {
  std::string xml = xmlOf(makeRecords(kLargeRecords));
  std::FILE* file = std::fopen(path, "wb");
  if (!file || std::fwrite(xml.data(), 1, xml.size(), file) != xml.size() || std::fclose(file)) {
    std::perror(path);
    return 1;
  }
  std::printf("%s: %zu bytes\n", path, xml.size());
  return 0;
}

long peakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double cpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// One read of a file in a fresh process, as a request's process pays it:
// the heap is new, so every page of the tree is touched for the first time.
struct ColdRun {
  double seconds = 0;
  long grownKilobytes = 0;
};

// Feeds the file to `consume` in 64 KiB pieces.
template <class Consume>
bool streamFile(const char* path, Consume consume) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return false;
  std::vector<char> piece(kPieceSize);
  std::size_t got;
  bool ok = true;
  while (ok && (got = std::fread(piece.data(), 1, piece.size(), file)) > 0)
    ok = consume(std::string_view(piece.data(), got));
  std::fclose(file);
  return ok;
}

bool readOurs(const char* path, ColdRun*) {
  XmlPropertyListReader reader(Mutability::kImmutable);
  std::string error;
  bool ok = streamFile(path, [&](std::string_view piece) { return reader.feed(piece, &error); });
  ValueRef tree = ok ? reader.finish(&error) : nullptr;
  if (!tree) std::fprintf(stderr, "%s: %s\n", path, error.c_str());
  return tree != nullptr;
}

bool readExpat(const char* path, ColdRun*) {
  XML_Parser parser = XML_ParserCreate(nullptr);
  XML_SetElementHandler(parser, ignoreStart, ignoreEnd);
  XML_SetCharacterDataHandler(parser, ignoreText);
  bool ok = streamFile(path, [&](std::string_view piece) {
    return XML_Parse(parser, piece.data(), static_cast<int>(piece.size()), XML_FALSE) ==
           XML_STATUS_OK;
  });
  ok = ok && XML_Parse(parser, "", 0, XML_TRUE) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return ok;
}

// libplist wants the whole text: it is loaded before the clock starts.
bool readLibplist(const char* path, ColdRun* run) {
  std::string xml;
  if (!streamFile(path, [&](std::string_view piece) {
        xml.append(piece);
        return true;
      }))
    return false;
  run->grownKilobytes = -peakKilobytes();
  run->seconds = -cpuSeconds();
  plist_t tree = nullptr;
  plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &tree);
  return tree != nullptr;
}

// Runs one reader in a child process and reports its CPU time and how far
// its peak memory rose.
bool coldRun(const char* path, bool (*read)(const char*, ColdRun*), ColdRun* result) {
  int channel[2];
  if (pipe(channel) != 0) return false;
  std::fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    ColdRun run;
    run.grownKilobytes = -peakKilobytes();
    run.seconds = -cpuSeconds();
    bool ok = read(path, &run);
    run.seconds += cpuSeconds();
    run.grownKilobytes += peakKilobytes();
    ok = ok && write(channel[1], &run, sizeof run) == sizeof run;
    _exit(ok ? 0 : 1);
  }
  close(channel[1]);
  ssize_t got = child > 0 ? ::read(channel[0], result, sizeof *result) : -1;
  close(channel[0]);
  int status = 0;
  if (child > 0) waitpid(child, &status, 0);
  return got == sizeof *result && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int measureCold(const char* path) {
  struct stat info{};
  if (stat(path, &info) != 0) {
    std::perror(path);
    return 1;
  }
  const double size = static_cast<double>(info.st_size);
  struct Reader {
    const char* name;
    bool (*read)(const char*, ColdRun*);
    ColdRun run;
  } readers[] = {{"ours", readOurs, {}}, {"libplist", readLibplist, {}}, {"expat", readExpat, {}}};
  std::printf("one read of %s (%.0f bytes), each in a fresh process\n", path, size);
  for (Reader& r : readers) {
    if (!coldRun(path, r.read, &r.run)) {
      std::fprintf(stderr, "%s could not read %s\n", r.name, path);
      return 1;
    }
    std::printf("  %-9s %8.1f ms CPU %7.1f MB/s   peak memory +%ld KiB, %.2fx the file\n", r.name,
                r.run.seconds * 1e3, size / r.run.seconds / 1e6, r.run.grownKilobytes,
                static_cast<double>(r.run.grownKilobytes) * 1024 / size);
  }
  std::printf("  throughput ours/libplist %.2fx, ours/expat %.2fx\n",
              readers[1].run.seconds / readers[0].run.seconds,
              readers[2].run.seconds / readers[0].run.seconds);
  return 0;
}

}  // namespace
}  // namespace steward

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--write-large") == 0)
    return steward::writeLarge(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "--cold") == 0)
    return steward::measureCold(argv[2]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  steward::registerAll();
  steward::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  benchmark::Shutdown();
  return 0;
}
