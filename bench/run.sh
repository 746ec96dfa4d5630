#!/bin/sh
# Builds the benchmarks in Release under build-bench and prints their tables:
# each figure beside its baseline, measured in the same run. Arguments go to
# the exported calls' benchmark; the handle's table follows it.
set -e
cd "$(dirname "$0")/.."
BUILD=${BENCH_BUILD:-build-bench}
mkdir -p "$BUILD"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBSBCHART_BENCH=ON -DBSBCHART_TESTS=OFF \
      -DBSBCHART_TOOLS=OFF -DBSBCHART_FUZZ=OFF > "$BUILD/configure.log" 2>&1 ||
    { cat "$BUILD/configure.log"; exit 1; }
cmake --build "$BUILD" -j "${JOBS:-2}" --target bsbchart_bench bsbchart_handle_bench > "$BUILD/build.log" 2>&1 ||
    { cat "$BUILD/build.log"; exit 1; }
"$BUILD/bench/bsbchart_bench" "$@"
echo
"$BUILD/bench/bsbchart_handle_bench"
