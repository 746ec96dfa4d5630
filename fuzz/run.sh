#!/bin/sh
# Builds the libFuzzer targets with clang in build-fuzz, writes their seed
# corpora and runs every target for FUZZ_SECONDS seconds (default 60). Fails
# on any finding: crash, sanitizer report, leak, timeout or memory blow-up.
# Inputs that found something land in build-fuzz/fuzz/findings/<run>/.
#
# whole_file_wide runs the whole-file target once more with heaps sized for
# the chart's raster (BSBCHART_FUZZ_WIDE_ROWS, see fuzz/whole_file_entry.cpp)
# instead of 1 MB, so that rows of up to 2^31 - 1 pixels are reached. A row
# buffer may then be 2 GB but only its window's columns may be written:
# a window that writes whole rows, or spends more than the rows' bytes, runs
# into the tighter -timeout and -rss_limit_mb as a finding.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${FUZZ_BUILD:-$ROOT/build-fuzz}
SECONDS_EACH=${FUZZ_SECONDS:-60}
JOBS=${JOBS:-2}
TARGETS="row_decoder header_readers whole_file"
RUNS="$TARGETS whole_file_wide"

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
for run in $RUNS; do
  target=$run
  limits="-timeout=25 -rss_limit_mb=2048 -max_len=8192"
  wide=""
  if [ "$run" = whole_file_wide ]; then
    # Blocks of up to 2 GB; AddressSanitizer marks each freed one in its
    # shadow (an eighth of its size), which gives such an input some
    # seconds and some 300 MB. Writing one 8-bit or 4-bit row whole passes
    # the resident limit; writing every row of a tall window, the timeout.
    # The 1000-row seeds are 13 KB.
    target=whole_file
    limits="-timeout=25 -rss_limit_mb=1024 -malloc_limit_mb=4608 -max_len=16384"
    wide=1
  fi
  corpus=$BUILD/fuzz/corpus/$run
  findings=$BUILD/fuzz/findings/$run
  mkdir -p "$corpus" "$findings"
  set -- "$corpus" "$SEEDS/$target"
  regressions=$ROOT/fuzz/regressions/$target
  if [ -d "$regressions" ]; then set -- "$@" "$regressions"; fi
  regressions=$ROOT/fuzz/regressions/$run
  if [ "$run" != "$target" ] && [ -d "$regressions" ]; then set -- "$@" "$regressions"; fi
  echo "fuzz: $run for ${SECONDS_EACH}s"
  if ! env ${wide:+BSBCHART_FUZZ_WIDE_ROWS=1} "$BUILD/fuzz/fuzz_$target" -max_total_time="$SECONDS_EACH" \
      $limits -print_final_stats=1 -artifact_prefix="$findings/" \
      "$@" >"$BUILD/fuzz/$run.log" 2>&1; then
    tail -n 60 "$BUILD/fuzz/$run.log" >&2
    failed="$failed $run"
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$BUILD/fuzz/$run.log" | sed "s/^/fuzz: $run /"
done

if [ -n "$failed" ]; then
  echo "fuzz: findings in:$failed (inputs under $BUILD/fuzz/findings/)" >&2
  exit 1
fi
echo "fuzz: no findings"
