// Where a full profile of this machine spends its time: each section read
// on its own, and the PCI name database opened and asked once.
#include <benchmark/benchmark.h>

#include "machreport/PciNames.h"
#include "machreport/Sources.h"

namespace steward::machreport {
namespace {

template <Section (*source)(const FileTree&, Detail)>
void BM_Section(benchmark::State& state) {
  FileTree tree("/");
  for (auto _ : state) benchmark::DoNotOptimize(source(tree, Detail::kFull));
}
BENCHMARK(BM_Section<hardwareSection>);
BENCHMARK(BM_Section<firmwareSection>);
BENCHMARK(BM_Section<processorsSection>);
BENCHMARK(BM_Section<memorySection>);
BENCHMARK(BM_Section<storageSection>);
BENCHMARK(BM_Section<networkSection>);
BENCHMARK(BM_Section<softwareSection>);

void BM_PciNameLookup(benchmark::State& state) {
  for (auto _ : state) {
    PciNames names;
    benchmark::DoNotOptimize(names.device(0x8086, 0x2922));
  }
}
BENCHMARK(BM_PciNameLookup);

void BM_WholeProfile(benchmark::State& state) {
  FileTree tree("/");
  for (auto _ : state)
    benchmark::DoNotOptimize(collectProfile(tree, Detail::kFull));
}
BENCHMARK(BM_WholeProfile);

}  // namespace
}  // namespace steward::machreport
