#!/bin/sh
# Builds the libFuzzer targets with clang in build-fuzz, writes their seed
# corpora and runs every target for FUZZ_SECONDS seconds (default 60). Fails
# on any finding: crash, sanitizer report, leak, timeout or memory blow-up.
# Inputs that found something land in build-fuzz/fuzz/findings/<target>/.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${FUZZ_BUILD:-$ROOT/build-fuzz}
SECONDS_EACH=${FUZZ_SECONDS:-60}
JOBS=${JOBS:-2}
TARGETS="row_decoder header_readers whole_file"

CLANG=$(command -v clang++ || true)
if [ -z "$CLANG" ]; then
  echo "fuzz: clang++ not found; install the Debian packages clang and libclang-rt-14-dev" >&2
  exit 1
fi

mkdir -p "$BUILD"
cmake -S "$ROOT" -B "$BUILD" -DBSBCHART_WERROR=ON -DCMAKE_CXX_COMPILER="$CLANG" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBSBCHART_FUZZ=ON -DBSBCHART_TESTS=OFF -DBSBCHART_TOOLS=OFF >"$BUILD/configure.log" 2>&1 || {
  cat "$BUILD/configure.log" >&2
  echo "fuzz: configuring the clang build failed (is libclang-rt-14-dev installed?)" >&2
  exit 1
}
cmake --build "$BUILD" -j "$JOBS" --target fuzz_seeds $(for t in $TARGETS; do printf 'fuzz_%s ' "$t"; done)

SEEDS=$BUILD/fuzz/seeds
rm -rf "$SEEDS"
"$BUILD/fuzz/fuzz_seeds" "$SEEDS"

failed=""
for target in $TARGETS; do
  corpus=$BUILD/fuzz/corpus/$target
  findings=$BUILD/fuzz/findings/$target
  regressions=$ROOT/fuzz/regressions/$target
  mkdir -p "$corpus" "$findings"
  set -- "$corpus" "$SEEDS/$target"
  if [ -d "$regressions" ]; then set -- "$@" "$regressions"; fi
  echo "fuzz: $target for ${SECONDS_EACH}s"
  if ! "$BUILD/fuzz/fuzz_$target" -max_total_time="$SECONDS_EACH" -timeout=25 -rss_limit_mb=2048 \
      -max_len=8192 -print_final_stats=1 -artifact_prefix="$findings/" \
      "$@" >"$BUILD/fuzz/$target.log" 2>&1; then
    tail -n 60 "$BUILD/fuzz/$target.log" >&2
    failed="$failed $target"
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$BUILD/fuzz/$target.log" | sed "s/^/fuzz: $target /"
done

if [ -n "$failed" ]; then
  echo "fuzz: findings in:$failed (inputs under $BUILD/fuzz/findings/)" >&2
  exit 1
fi
echo "fuzz: no findings"
