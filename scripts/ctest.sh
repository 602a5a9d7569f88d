#!/usr/bin/env bash
# Runs CTest under Wine in a build folder that scripts/test.sh has built, with the
# prefix's server up for the run and ended afterwards; the arguments go to ctest.
#   scripts/ctest.sh -R '^KvString\.'          the KvString cases
#   scripts/ctest.sh -N                        list every test
# BUILD_DIR (default: build) selects the build folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
[ -f "$build/CTestTestfile.cmake" ] || { echo "no tests in $build: run scripts/test.sh first" >&2; exit 2; }
cmake --build "$build"
"$root/scripts/wine-prefix.sh" up "$build"
trap '"$root/scripts/wine-prefix.sh" down "$build"' EXIT
cd "$build" && ctest --output-on-failure --timeout 300 "$@"
