#!/bin/sh
# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan, every report fatal), then the concurrency test and the C
# interface's threads test under ThreadSanitizer (build-tsan). Uses the
# system's C++ compiler (Debian's g++, whose sanitizer runtimes are the
# packages libasan8, libubsan1 and libtsan2).
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
JOBS=${JOBS:-2}
CXX=${CXX:-c++}

# Fails clearly when a sanitizer runtime is missing.
probe() {
  flags=$1
  packages=$2
  dir=$(mktemp -d)
  printf 'int main() { return 0; }\n' >"$dir/probe.cpp"
  if ! "$CXX" $flags "$dir/probe.cpp" -o "$dir/probe" >"$dir/log" 2>&1 || ! "$dir/probe"; then
    cat "$dir/log" >&2
    rm -rf "$dir"
    echo "check-sanitize: $CXX cannot build with $flags; install the Debian packages: $packages" >&2
    exit 1
  fi
  rm -rf "$dir"
}

ASAN_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
TSAN_FLAGS="-fsanitize=thread -fno-omit-frame-pointer"
probe "$ASAN_FLAGS" "libasan8 libubsan1"
probe "$TSAN_FLAGS" "libtsan2"

# ThreadSanitizer cannot map its shadow memory under the kernel's widest
# address randomization; setarch -R turns randomization off for the run.
NORANDOM=""
if command -v setarch >/dev/null 2>&1 && setarch "$(uname -m)" -R true 2>/dev/null; then
  NORANDOM="setarch $(uname -m) -R"
fi

export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

echo "check-sanitize: address and undefined behaviour (build-asan)"
cmake -S "$ROOT" -B "$ROOT/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBSBCHART_WERROR=ON \
  -DCMAKE_CXX_COMPILER="$CXX" \
  -DCMAKE_CXX_FLAGS="$ASAN_FLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$ASAN_FLAGS" \
  -DCMAKE_SHARED_LINKER_FLAGS="$ASAN_FLAGS" >/dev/null
cmake --build "$ROOT/build-asan" -j "$JOBS"
(cd "$ROOT/build-asan" && ctest --output-on-failure -j "$JOBS")

echo "check-sanitize: threads (build-tsan, concurrency test and one C interface handle on many threads)"
cmake -S "$ROOT" -B "$ROOT/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBSBCHART_WERROR=ON \
  -DCMAKE_CXX_COMPILER="$CXX" \
  -DCMAKE_CXX_FLAGS="$TSAN_FLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$TSAN_FLAGS" \
  -DCMAKE_SHARED_LINKER_FLAGS="$TSAN_FLAGS" -DBSBCHART_TOOLS=OFF >/dev/null
cmake --build "$ROOT/build-tsan" -j "$JOBS" --target concurrency_test c_interface_threads_test
$NORANDOM "$ROOT/build-tsan/tests/concurrency_test"
$NORANDOM "$ROOT/build-tsan/tests/c_interface_threads_test"
echo "check-sanitize: passed"
