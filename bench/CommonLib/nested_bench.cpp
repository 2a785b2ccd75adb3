// Key paths on a tree of 100,000 records: the walk, the store and the
// extraction. A record lookup scans its array (records are found by id), so
// those figures grow with the record count; everything else should grow only
// with the path length and the containers touched.
#include <benchmark/benchmark.h>

#include <string>

#include "CommonLib/NestedContainerAdditions.h"

namespace steward {
namespace {

constexpr int kRecords = 100000;

std::string hostName(int i) { return "host" + std::to_string(i); }

// {"hosts": [records], "byName": {name: record}}: the same 100,000 records
// once as a record array and once keyed by a dictionary.
MutableDictionaryRef makeTree() {
  auto hosts = makeMutableArray();
  auto byName = makeMutableDictionary();
  hosts->reserve(kRecords);
  byName->reserve(kRecords);
  for (int i = 0; i < kRecords; ++i) {
    auto config = makeMutableDictionary();
    config->setObject(makeInteger(8000 + i % 1000), "port");
    config->setObject(makeString("on"), "state");
    auto record = makeMutableDictionary();
    record->setObject(makeString(hostName(i)), "_id_");
    record->setObject(makeString("Host number " + std::to_string(i)), "name");
    record->setObject(config, "config");
    hosts->addObject(record);
    byName->setObject(record, hostName(i));
  }
  auto tree = makeMutableDictionary();
  tree->setObject(hosts, "hosts");
  tree->setObject(byName, "byName");
  return tree;
}

const MutableDictionaryRef& tree() {
  static const MutableDictionaryRef shared = makeTree();
  return shared;
}

// Built before any timing starts.
[[maybe_unused]] const bool kTreeBuilt = tree() != nullptr;

// A chain of `depth` dictionaries "k0:k1:...", with its key path.
std::pair<MutableDictionaryRef, std::string> makeChain(int depth) {
  auto root = makeMutableDictionary();
  auto current = root;
  std::string path;
  for (int i = 0; i < depth; ++i) {
    auto next = makeMutableDictionary();
    current->setObject(next, "k" + std::to_string(i));
    path += (i ? ":k" : "k") + std::to_string(i);
    current = next;
  }
  current->setObject(makeString("leaf"), "leaf");
  return {root, path + ":leaf"};
}

void BM_WalkThroughRecordArray(benchmark::State& state) {
  std::string path =
      "hosts:" + hostName(static_cast<int>(state.range(0))) + ":config:port";
  for (auto _ : state)
    benchmark::DoNotOptimize(nestedObjectForKey(tree(), path));
}
BENCHMARK(BM_WalkThroughRecordArray)
    ->Arg(0)
    ->Arg(kRecords / 2)
    ->Arg(kRecords - 1);

void BM_WalkThroughDictionaries(benchmark::State& state) {
  std::string path = "byName:" + hostName(kRecords - 1) + ":config:port";
  for (auto _ : state)
    benchmark::DoNotOptimize(nestedObjectForKey(tree(), path));
}
BENCHMARK(BM_WalkThroughDictionaries);

void BM_WalkDepth(benchmark::State& state) {
  auto [root, path] = makeChain(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(nestedObjectForKey(root, path));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_WalkDepth)->RangeMultiplier(4)->Range(4, 1024)->Complexity();

void BM_StoreIntoDictionaries(benchmark::State& state) {
  std::string path = "byName:" + hostName(kRecords / 2) + ":config:port";
  auto value = makeInteger(9999);
  for (auto _ : state)
    benchmark::DoNotOptimize(setNestedObject(tree(), value, path, true));
}
BENCHMARK(BM_StoreIntoDictionaries);

void BM_StoreIntoRecord(benchmark::State& state) {
  std::string path = "hosts:" + hostName(kRecords - 1) + ":config:port";
  auto value = makeInteger(9999);
  for (auto _ : state)
    benchmark::DoNotOptimize(setNestedObject(tree(), value, path, true));
}
BENCHMARK(BM_StoreIntoRecord);

// A merge (replace false) of one record update into the record array.
void BM_MergeRecordUpdate(benchmark::State& state) {
  auto config = makeMutableDictionary();
  config->setObject(makeString("off"), "state");
  auto update = makeMutableDictionary();
  update->setObject(makeString(hostName(kRecords - 1)), "_id_");
  update->setObject(config, "config");
  auto updates = makeMutableArray();
  updates->addObject(update);
  for (auto _ : state)
    benchmark::DoNotOptimize(setNestedObject(tree(), updates, "hosts", false));
}
BENCHMARK(BM_MergeRecordUpdate);

void BM_StoreDepth(benchmark::State& state) {
  auto [root, path] = makeChain(static_cast<int>(state.range(0)));
  auto value = makeString("new");
  for (auto _ : state)
    benchmark::DoNotOptimize(setNestedObject(root, value, path, false));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_StoreDepth)->RangeMultiplier(4)->Range(4, 1024)->Complexity();

void BM_ExtractOneRecord(benchmark::State& state) {
  auto keyPaths = std::make_shared<Array>(std::vector<ValueRef>{
      makeString("hosts:" + hostName(kRecords - 1) + ":config:port")});
  for (auto _ : state)
    benchmark::DoNotOptimize(dictionaryForKeys(tree(), keyPaths));
}
BENCHMARK(BM_ExtractOneRecord);

// "*" over every record builds a skeleton record for each of them.
void BM_ExtractStarOverRecords(benchmark::State& state) {
  auto keyPaths = std::make_shared<Array>(
      std::vector<ValueRef>{makeString("hosts:*:config:port")});
  for (auto _ : state)
    benchmark::DoNotOptimize(dictionaryForKeys(tree(), keyPaths));
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_ExtractStarOverRecords)->Unit(benchmark::kMillisecond);

void BM_ExtractStarOverDictionary(benchmark::State& state) {
  auto keyPaths = std::make_shared<Array>(
      std::vector<ValueRef>{makeString("byName:*:config:port")});
  for (auto _ : state)
    benchmark::DoNotOptimize(dictionaryForKeys(tree(), keyPaths));
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_ExtractStarOverDictionary)->Unit(benchmark::kMillisecond);

void BM_ExtractDepth(benchmark::State& state) {
  auto [root, path] = makeChain(static_cast<int>(state.range(0)));
  auto keyPaths =
      std::make_shared<Array>(std::vector<ValueRef>{makeString(path)});
  for (auto _ : state)
    benchmark::DoNotOptimize(dictionaryForKeys(root, keyPaths));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ExtractDepth)->RangeMultiplier(4)->Range(4, 1024)->Complexity();

}  // namespace
}  // namespace steward
