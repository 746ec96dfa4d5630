#!/bin/sh
# make bench-serve: the viewer under load. Builds the bsbchart command in
# Release under build-bench-serve and the load client beside it, then runs
# 16 clients on loopback against bsbchart serve on a 10800 x 8400 chart for
# 20 s, with the tile cache and without (bench/serve_load.cpp). Arguments go
# to the client, e.g. --seconds 5 or --skewed.
set -eu
cd "$(dirname "$0")/.."
BUILD=${BENCH_SERVE_BUILD:-build-bench-serve}
mkdir -p "$BUILD/serve-load"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBSBCHART_TESTS=OFF -DBSBCHART_TOOLS=ON \
      -DBSBCHART_BENCH=OFF -DBSBCHART_FUZZ=OFF > "$BUILD/configure.log" 2>&1 ||
    { cat "$BUILD/configure.log"; exit 1; }
cmake --build "$BUILD" -j "${JOBS:-2}" --target bsbchart_command > "$BUILD/build.log" 2>&1 ||
    { cat "$BUILD/build.log"; exit 1; }
if ! grep -q '^BSBCHART_HTTPLIB_FOUND:INTERNAL=1' "$BUILD/CMakeCache.txt"; then
  echo "bench-serve: the viewer is not built; install the Debian packages libspng-dev libcpp-httplib-dev libjs-leaflet" >&2
  exit 1
fi
${CXX:-c++} -std=c++17 -O2 -Wall -Wextra -o "$BUILD/serve_load" bench/serve_load.cpp bench/bench_charts.cpp \
    tools/chartwriter/chart_writer.cpp -Ibench -Itools/chartwriter \
    $(pkg-config --cflags --libs cpp-httplib) -pthread
"$BUILD/serve_load" "$BUILD/tools/bsbchart/bsbchart" "$BUILD/serve-load" "$@"
