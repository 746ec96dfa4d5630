#!/bin/sh
# Makes sure the Debian packages the build and its tests need are installed,
# before make configures anything: as root it installs the missing ones
# (apt-get update first); otherwise it stops with the one apt-get line to
# run. Never passes while something is missing.
#   sh tools/check_packages.sh [PACKAGE...]
# PACKAGE... are needed as well (e.g. .ci/run's cross compilers).
#
# Add a package here when a test comes to need it, one a line.
packages="
cmake
make
g++
libgtest-dev
libgmock-dev
python3
python3-pil
libspng-dev
libcpp-httplib-dev
libjs-leaflet
chromium
chromium-driver
python3-selenium
"
set -eu

# The Debian tools, and root, can be stood in for by tests/packages_test.py.
DPKG_QUERY=${BSBCHART_DPKG_QUERY:-dpkg-query}
APT_GET=${BSBCHART_APT_GET:-apt-get}
USER_ID=${BSBCHART_USER_ID:-$(id -u)}

if ! command -v "$DPKG_QUERY" >/dev/null 2>&1; then
  # CMake then refuses a missing GoogleTest, and the Python tests fail
  # without Pillow: nothing is skipped quietly.
  echo "check_packages: not a Debian system (no dpkg-query); the build needs the equivalents of:" \
    $packages "$@" >&2
  exit 0
fi

missing=""
for package in $packages "$@"; do
  status=$("$DPKG_QUERY" -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null || true)
  case $status in
    ii*) ;;
    *) missing="$missing $package" ;;
  esac
done
[ -z "$missing" ] && exit 0

if [ "$USER_ID" -ne 0 ]; then
  echo "check_packages: missing Debian packages; install them (as root) and run make again:" >&2
  echo "apt-get install$missing" >&2
  exit 1
fi
echo "check_packages: installing$missing" >&2
export DEBIAN_FRONTEND=noninteractive
"$APT_GET" update
# shellcheck disable=SC2086
"$APT_GET" install -y $missing
