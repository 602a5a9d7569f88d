#!/usr/bin/env bash
# Builds the workstation package: installs what is missing (wixl and msitools among the
# build's packages), builds KvRxCoreService.exe and rxctl.exe, and writes
# BUILD_DIR/package/KvRxCoreService-<version>.msi (BUILD_DIR: default build) from
# packaging/KvRxCoreService.wxs. Prints the package's path; a second run is incremental.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build" --target package_msi >/dev/null
msi=$(ls "$build"/package/KvRxCoreService-*.msi)
[ "$(wc -l <<<"$msi")" -eq 1 ] || { echo "package.sh: more than one package in $build/package" >&2; exit 1; }
echo "$msi"
