#!/usr/bin/env bash
# Runs a Windows program under Wine in the test prefix of the build folder.
# The prefix is found from KV_WINEPREFIX, else from the build folder holding the program.
set -u
if [ -z "${KV_WINEPREFIX:-}" ]; then
  dir=$(cd "$(dirname "$1")" && pwd)
  while [ "$dir" != "/" ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  KV_WINEPREFIX="$dir/wineprefix"
fi
export WINEPREFIX="$KV_WINEPREFIX" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
