// nvram's round trip on a fake variable store of 16 entries, through
// libefivar, the lock and the registry publication: "boot-device=X" (which
// rewrites BootOrder and the registry value), the same followed by
// "boot-device", and "-p" alone. libefivar reads EFIVARFS_PATH only as it
// loads, so the benchmark first makes its store in a temporary directory and
// runs itself again with EFIVARFS_PATH naming it; the machine's own
// variables are never touched. The directory is removed at the end.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "nvram/Nvram.h"
#include "platform/BootDevice.h"
#include "platform/FirmwareVariables.h"

namespace steward::nvram {
namespace {

constexpr const char* kDirectoryVariable = "NVRAM_BENCH_DIRECTORY";
constexpr int kEntries = 16;

void writeVariable(const std::string& directory, const std::string& name,
                   const std::string& data) {
  std::ofstream(directory + "/" + name + "-8be4df61-93ca-11d2-aa0d-00e098032b8c",
                std::ios::binary)
      << std::string("\7\0\0\0", 4) << data;
}

// Entries 0 to 15 with the descriptions "entry N", BootOrder 0 to 15.
void makeStore(const std::string& directory) {
  std::string order;
  for (int n = 0; n < kEntries; ++n) {
    std::string option("\1\0\0\0\4\0", 6);
    for (char c : "entry " + std::to_string(n)) option += {c, '\0'};
    writeVariable(directory, bootEntryName(static_cast<std::uint16_t>(n)),
                  option + std::string("\0\0\x7f\xff\x04\x00", 6));
    order += {static_cast<char>(n), '\0'};
  }
  writeVariable(directory, "BootOrder", order);
}

struct Bench {
  std::string directory = std::getenv(kDirectoryVariable);
  std::unique_ptr<FirmwareVariables> variables = openFirmwareVariables();
  Nvram nvram{*variables, directory + "/registry/", directory + "/lock"};

  void run(const std::vector<std::string>& arguments, benchmark::State& state) {
    std::string out, err;
    if (nvram.run(arguments, &out, &err) != 0) state.SkipWithError(err.c_str());
    benchmark::DoNotOptimize(out);
  }
};

// Alternates between two entries, so that every run moves one to the front.
void BM_SetBootDevice(benchmark::State& state) {
  Bench bench;
  int i = 0;
  for (auto _ : state) bench.run({++i % 2 ? "boot-device=Boot0001" : "boot-device=entry 2"}, state);
}
BENCHMARK(BM_SetBootDevice);

void BM_SetAndReadBootDevice(benchmark::State& state) {
  Bench bench;
  int i = 0;
  for (auto _ : state) {
    bench.run({++i % 2 ? "boot-device=Boot0001" : "boot-device=entry 2", "boot-device"}, state);
  }
}
BENCHMARK(BM_SetAndReadBootDevice);

void BM_PrintAll(benchmark::State& state) {
  Bench bench;
  for (auto _ : state) bench.run({"-p"}, state);
}
BENCHMARK(BM_PrintAll);

}  // namespace
}  // namespace steward::nvram

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  using steward::nvram::kDirectoryVariable;
  if (!std::getenv(kDirectoryVariable)) {
    std::string directory = (fs::temp_directory_path() / "nvram-bench-XXXXXX").string();
    if (!mkdtemp(directory.data())) return std::perror("mkdtemp"), 1;
    fs::create_directories(directory + "/vars");
    steward::nvram::makeStore(directory + "/vars");
    setenv(kDirectoryVariable, directory.c_str(), 1);
    setenv("EFIVARFS_PATH", (directory + "/vars/").c_str(), 1);
    execv("/proc/self/exe", argv);
    return std::perror("execv"), 1;
  }
  // The store must be ours alone, never a machine's.
  if (steward::openFirmwareVariables()->names().size() != steward::nvram::kEntries + 1) {
    std::fprintf(stderr, "nvram_bench: EFIVARFS_PATH is not honoured\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(std::getenv(kDirectoryVariable));
  return 0;
}
