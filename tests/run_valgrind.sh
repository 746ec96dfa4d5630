#!/bin/sh
# Runs every test program of a normal build (BUILD_DIR) under valgrind
# memcheck: no errors and no definite or indirect leaks in any of them. The
# Python-driven checks are left out; their programs run here on their own
# where they are gtest programs.
set -eu

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
BUILD=$(cd "$1" && pwd)
if ! command -v valgrind >/dev/null 2>&1; then
  echo "check-valgrind: valgrind not found; install the Debian package valgrind" >&2
  exit 1
fi

# The gtest programs the build registered with ctest.
programs=$(find "$BUILD/tests" -maxdepth 1 -type f -perm -u+x -name '*_test' | sort)
if [ -z "$programs" ]; then
  echo "check-valgrind: no test programs under $BUILD/tests" >&2
  exit 1
fi

failed=""
count=0
for program in $programs; do
  name=$(basename "$program")
  log="$BUILD/valgrind-$name.log"
  count=$((count + 1))
  echo "check-valgrind: $name"
  if ! valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
      --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
      --track-fds=no --log-file="$log" "$program" --gtest_brief=1 >"$log.out" 2>&1; then
    tail -n 40 "$log" >&2
    tail -n 20 "$log.out" >&2
    failed="$failed $name"
  fi
done

if [ -n "$failed" ]; then
  echo "check-valgrind: failed:$failed (logs in $BUILD/valgrind-*.log)" >&2
  exit 1
fi
echo "check-valgrind: $count programs, no errors, no leaks"
