#!/usr/bin/env bash
# Starts or stops the vault driver double by hand, in the tests' prefix of a build folder,
# for trying `rxctl vault ...` or the service's logoff against it.
#   driver-double.sh start [BUILD_DIR]   boot the prefix, install QlnVSROV, start it
#   driver-double.sh stop [BUILD_DIR]    stop the driver and end the prefix's Wine server
# While it runs, the driver answers every request with status 0 and appends each request
# frame to C:\windows\temp\vault_double_requests.bin of the prefix
# (scripts/vault-records.py prints them). BUILD_DIR defaults to build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cmd=${1:-}
build=$(cd "${2:-$root/build}" && pwd)
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
service=QlnVSROV
w() { timeout 60 wine "$@" </dev/null; }

case "$cmd" in
  start)
    sys=$build/tests/doubles/vault_driver_double.sys
    [ -f "$sys" ] || cmake --build "$build" --target vault_driver_double_sys >/dev/null
    "$root/scripts/wine-prefix.sh" up "$build"
    # A running driver holds its file: stop it before replacing it with this build's.
    w net stop "$service" >/dev/null 2>&1 || true
    cp "$sys" "$WINEPREFIX/drive_c/windows/system32/drivers/"
    if ! w sc query "$service" >/dev/null 2>&1; then
      w sc create "$service" type= kernel start= demand \
        binPath= 'C:\windows\system32\drivers\vault_driver_double.sys' >/dev/null
    fi
    w net start "$service" >/dev/null
    echo "vault driver double running as $service in $WINEPREFIX"
    echo "requests are recorded in $WINEPREFIX/drive_c/windows/temp/vault_double_requests.bin"
    ;;
  stop)
    [ -d "$WINEPREFIX" ] || exit 0
    w net stop "$service" >/dev/null 2>&1 || true
    "$root/scripts/wine-prefix.sh" down "$build"
    echo "vault driver double stopped, Wine server of $WINEPREFIX ended"
    ;;
  *) echo "usage: $0 start|stop [BUILD_DIR]" >&2; exit 2 ;;
esac
