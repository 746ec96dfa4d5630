#!/bin/sh
# make check's test run: every test of BUILD through CTest. A test that was
# skipped (its program said it could not check what it is for) fails the
# run like a failed one: make check never reports success while skipping.
#   sh tools/run_ctest.sh BUILD [JOBS]
set -eu
build=${1:?usage: run_ctest.sh BUILD [JOBS]}
jobs=${2:-2}
log="$build/ctest.log"
{ status=0
  (cd "$build" && ctest --output-on-failure --no-tests=error -j "$jobs") 2>&1 || status=$?
  echo "$status" >"$build/ctest.status"; } | tee "$log"
status=$(cat "$build/ctest.status")
[ "$status" -eq 0 ] || exit "$status"
# The one skip that says nothing about this machine's packages: as root
# every file is readable, so a refused read cannot be shown.
allowed=""
[ "$(id -u)" -eq 0 ] && allowed="CInterface.UnreadableFileIsPermissionDenied"
skipped=""
for name in $(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$log"); do
  case " $allowed " in
    *" $name "*) echo "make check: $name skipped (running as root)" >&2 ;;
    *) skipped="$skipped $name" ;;
  esac
done
if [ -n "$skipped" ]; then
  echo "make check: these tests were skipped, which counts as failing:$skipped" >&2
  echo "make check: install what they need (sh tools/check_packages.sh lists it) and run make check again" >&2
  exit 1
fi
