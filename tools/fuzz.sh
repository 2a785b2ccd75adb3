#!/bin/bash
# Runs one fuzzer for longer than the test run does, from its seed corpus and
# dictionary, and keeps what it finds:
#
#   tools/fuzz.sh TARGET MINUTES    TARGET: xml, binary, text, messageport, request, smbios, nvram
#                                   or fastcgi
#
# New inputs go to build-fuzz/corpus/TARGET_fuzz (later runs, tools/run-tests.sh
# included, start from them too); crashes and failed checks are written to
# build-fuzz/findings/TARGET_fuzz/ as crash-*, leak-*, timeout-* or oom-* files.
# Rerun one with: tests/fuzz/sandboxed.sh build-fuzz/bin/TARGET_fuzz FILE
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -ne 2 ] || [ ! -f "tests/fuzz/${1%_fuzz}_fuzz.cpp" ]; then
  echo "usage: tools/fuzz.sh xml|binary|text|messageport|request|smbios|nvram|fastcgi MINUTES" >&2
  exit 2
fi
target=${1%_fuzz}_fuzz
if [ ! -f build-fuzz/build.ninja ]; then
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DSTEWARD_FUZZ=ON -DSTEWARD_BENCH=OFF >/dev/null
fi
ninja -C build-fuzz "$target"

corpus=build-fuzz/corpus/$target findings=build-fuzz/findings/$target
log=build-fuzz/$target.log
mkdir -p "$corpus" "$findings"
echo "fuzzing with $target for $2 min; log in $log"
status=0
tests/fuzz/sandboxed.sh "build-fuzz/bin/$target" -max_total_time=$(($2 * 60)) \
  -rss_limit_mb=2048 -timeout=10 \
  -dict="tests/fuzz/$target.dict" -artifact_prefix="$findings/" -print_final_stats=1 \
  "$corpus" "tests/fuzz/corpus/$target" >"$log" 2>&1 || status=$?
grep -a -E '^#[0-9]+.*(DONE|cov:)' "$log" | tail -n 1
echo "new inputs: $corpus ($(ls "$corpus" | wc -l) files)"
if [ "$status" -ne 0 ]; then
  tail -n 40 "$log"
  echo "finding kept in $findings/:"
  ls -t "$findings" | head -n 5
  exit 1
fi
