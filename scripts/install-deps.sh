#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing when all are there.
set -euo pipefail
packages=(g++ g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 wine libwine-dev googletest
          cmake ninja-build libxml2-utils libxml2-dev libpugixml-dev valgrind protobuf-compiler python3-protobuf
          clang libclang-rt-dev lld wixl msitools
          llvm osslsigncode openssl python3-olefile)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# The bill of materials' validator runs on Node.js with npm; a Node.js of another origin
# that carries its own npm is kept.
command -v npm >/dev/null || missing+=(nodejs npm)
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
