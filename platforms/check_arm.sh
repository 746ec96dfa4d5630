#!/bin/sh
# Cross-builds the library and the whole test suite for ARM Linux with the
# soft-float EABI and runs it under qemu-arm: every double is computed by the
# compiler's software floating point and must match the x86-64 results bit
# for bit.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BUILD_ARM:-build-arm}
started=$(date +%s)

cmake -S . -B "$build" -DBSBCHART_WERROR=ON -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/arm-linux-gnueabi.cmake"
cmake --build "$build" -j2

library=$(ls "$build"/libbsbchart.so.*.*.* | head -n 1)
flags=$(arm-linux-gnueabi-readelf -h "$library" | sed -n 's/^ *Flags: *//p')
echo "$library: $flags"
case $flags in
  *soft-float*) ;;
  *) echo "$library is not built for the soft-float ABI" >&2; exit 1 ;;
esac

(cd "$build" && ctest --output-on-failure -j2)
echo "check-arm passed in $(($(date +%s) - started)) s"
