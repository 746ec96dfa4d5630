#!/bin/sh
# Installs a built tree into a temporary prefix and uses it as an outside
# project would: the example host through find_package and through
# pkg-config, and the installed command, each on a sample chart.
#   sh examples/check_installed.sh BUILD
set -eu

build=$(cd "${1:?usage: check_installed.sh BUILD}" && pwd)
source=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name libbsbchart.so.1 | head -n 1)")
for link in libbsbchart.so libbsbchart.so.1; do
  [ -L "$libdir/$link" ] || { echo "check_installed: $libdir/$link is not a symbolic link" >&2; exit 1; }
done
readelf -d "$libdir/libbsbchart.so" | grep -q 'SONAME.*libbsbchart\.so\.1' ||
  { echo "check_installed: the library's SONAME is not libbsbchart.so.1" >&2; exit 1; }
cmp -s "$source/LICENSE" "$prefix/share/doc/bsbchart/LICENSE" ||
  { echo "check_installed: share/doc/bsbchart/LICENSE is not the project's LICENSE" >&2; exit 1; }
for header in bsbchart.h bsbchart_host.h bsbchart_c.h; do
  [ -f "$prefix/include/$header" ] || { echo "check_installed: include/$header is missing" >&2; exit 1; }
done

"$build/tools/samples/bsbchart-samples" "$work/charts" >/dev/null

echo "== find_package(bsbchart)"
cmake -S "$source/examples" -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/example" >/dev/null
"$work/example/host" "$work/charts/harbour-4.kap"
"$work/example/host" "$work/charts/harbour-skew-7.kap"

echo "== pkg-config bsbchart"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
echo "version $(pkg-config --modversion bsbchart)"
# The README's command: the rpath lets the program find libbsbchart.so.1.
# shellcheck disable=SC2046
c++ -std=c++17 -o "$work/host-pc" "$source/examples/host.cpp" $(pkg-config --cflags --libs bsbchart) \
  -Wl,-rpath,$(pkg-config --variable=libdir bsbchart)
"$work/host-pc" "$work/charts/harbour-skew-4.kap"
# Without it the program only runs with LD_LIBRARY_PATH, as the README says.
# shellcheck disable=SC2046
c++ -std=c++17 -o "$work/host-plain" "$source/examples/host.cpp" $(pkg-config --cflags --libs bsbchart)
if "$work/host-plain" "$work/charts/harbour-4.kap" >/dev/null 2>&1; then
  echo "check_installed: a program built without the rpath found the library on its own" >&2
  exit 1
fi
LD_LIBRARY_PATH="$(pkg-config --variable=libdir bsbchart)" "$work/host-plain" "$work/charts/harbour-4.kap"

echo "== installed command"
"$prefix/bin/bsbchart" --version
"$prefix/bin/bsbchart" info "$work/charts/harbour-7.kap" --json
echo "check_installed: ok"
