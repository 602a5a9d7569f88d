#!/usr/bin/env bash
# Builds the workstation package: installs what is missing (wixl and msitools among the
# build's packages), builds KvRxCoreService.exe and rxctl.exe, and writes into
# BUILD_DIR/package (BUILD_DIR: default build):
#   KvRxCoreService-<version>.msi       the package, of stripped copies of both executables (bin/)
#   KvRxCoreService-<version>.cdx.json  its bill of materials (CycloneDX 1.5)
#   symbols/<name>.debug                the executables' debug information, linked from them
# Every time in them is the current commit's (two builds of one commit are byte-identical:
# scripts/reproduce.sh). A second run is incremental.
#
#   package.sh [--sign FILE.p12 [--password-file F] [--timestamp URL]]
#
# --sign signs both executables (before they go into the package) and then the package,
# SHA-256, with osslsigncode; --timestamp adds an RFC 3161 timestamp from URL (otherwise the
# signatures carry the commit's time). The last line says whether the package is signed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
sign=()
while [ $# -gt 0 ]; do
  case $1 in
    --sign) [ -f "${2:-}" ] || { echo "package.sh: --sign needs a PKCS#12 file" >&2; exit 2; }
            sign+=(--sign "$(realpath "$2")"); shift 2 ;;
    --password-file) [ -f "${2:-}" ] || { echo "package.sh: --password-file needs a file" >&2; exit 2; }
                     sign+=(--password-file "$(realpath "$2")"); shift 2 ;;
    --timestamp) [ -n "${2:-}" ] || { echo "package.sh: --timestamp needs a URL" >&2; exit 2; }
                 sign+=(--timestamp "$2"); shift 2 ;;
    *) echo "usage: package.sh [--sign FILE.p12 [--password-file F] [--timestamp URL]]" >&2; exit 2 ;;
  esac
done
if [ ${#sign[@]} -gt 0 ] && [ "${sign[0]}" != --sign ]; then
  echo "package.sh: --password-file and --timestamp go with --sign" >&2; exit 2
fi
"$root/scripts/install-deps.sh"
epoch=$(git -C "$root" log -1 --format=%ct)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DKV_SOURCE_DATE_EPOCH="$epoch" >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
package=$build/package
msi=$package/KvRxCoreService-$version.msi sbom=$package/KvRxCoreService-$version.cdx.json
# A package signed by an earlier run is built again, unsigned.
if [ ${#sign[@]} -eq 0 ] && [ -f "$msi" ] && msiinfo streams "$msi" | grep -q DigitalSignature; then rm -f "$msi"; fi
cmake --build "$build" --target package_msi >/dev/null
if [ ${#sign[@]} -gt 0 ]; then
  "$root/packaging/tools/build_package.sh" --version "$version" --epoch "$epoch" \
    --wxs "$root/packaging/KvRxCoreService.wxs" --stage "$package/bin" --symbols "$package/symbols" \
    --out "$msi" --sbom "$sbom" "${sign[@]}" \
    "$build/service/app/KvRxCoreService.exe" "$build/tools/rxctl.exe" \
    "$build/packaging/KvRxPackageActions.dll" >/dev/null
fi
echo "$msi"
echo "$sbom"
echo "$package/symbols"
if [ ${#sign[@]} -gt 0 ]; then
  echo "signed: both executables, the custom-action DLL and the package (SHA-256)"
else
  echo "unsigned: give --sign FILE.p12 to sign"
fi
