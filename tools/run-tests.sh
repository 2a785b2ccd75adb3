#!/bin/sh
# Installs what is missing, builds, and runs every test: the sanitizer
# build, a short run of each fuzzer, then the whole suite (its summary last).
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
jobs=$(nproc)
# CI and developers set STEWARD_WERROR=ON: warnings then fail the build.
werror="-DSTEWARD_WERROR=${STEWARD_WERROR:-OFF}"

cmake -S . -B build-asan -G Ninja -DSTEWARD_SANITIZE=ON -DSTEWARD_BENCH=OFF "$werror" >/dev/null
ninja -C build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest -j"$jobs" --output-on-failure)

cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DSTEWARD_FUZZ=ON -DSTEWARD_BENCH=OFF "$werror" >/dev/null
ninja -C build-fuzz -j"$jobs"
# Each fuzzer gets its share of FUZZ_SECONDS, starting from its seeds and
# from what earlier runs found (build-fuzz/corpus, the only one written),
# on a private root: the request path's commands must not reach the machine.
fuzzers=$(ls build-fuzz/bin/*_fuzz)
share=$(( ${FUZZ_SECONDS:-150} / $(echo "$fuzzers" | wc -w) ))
for fuzzer in $fuzzers; do
  name=$(basename "$fuzzer")
  echo "fuzzing with $name for $share s"
  mkdir -p "build-fuzz/corpus/$name" "build-fuzz/findings/$name"
  tests/fuzz/sandboxed.sh "$fuzzer" -max_total_time="$share" -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=0 -dict="tests/fuzz/$name.dict" \
    -artifact_prefix="build-fuzz/findings/$name/" \
    "build-fuzz/corpus/$name" "tests/fuzz/corpus/$name" >"build-fuzz/$name.log" 2>&1 ||
    { tail -n 40 "build-fuzz/$name.log"; exit 1; }
done

cmake -S . -B build -G Ninja "$werror" >/dev/null
ninja -C build -j"$jobs"
cd build && ctest -j"$jobs" --output-on-failure
