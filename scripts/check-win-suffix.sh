#!/usr/bin/env bash
# Checks the naming rule for Windows code: a tracked source file (.h, .c, .cpp) that uses the
# Windows API ends in _win (foo_win.cpp, foo_win.h, foo_win_test.cpp). A file uses the
# Windows API when it includes a header of the Windows SDK (or the COM interface header our
# IDL compiles to, dispatcher/rx_core_service.h), or a header of ours ending in _win.h.
# Prints the files that break the rule and exits 1 when there is one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# Headers of the Windows SDK and of the mingw-w64 runtime that exist only on Windows.
sdk='windows|winbase|winnt|winuser|winreg|winsvc|winerror|winternl|winioctl|wincrypt|wtsapi32|sddl|aclapi|'
sdk+='psapi|tlhelp32|shlobj|shlwapi|userenv|lmcons|processthreadsapi|synchapi|handleapi|process|'
sdk+='ole2|objbase|oleauto|oaidl|ocidl|objidl|unknwn|combaseapi|rpc|rpcndr|wtypes|comdef|atlbase|'
sdk+='eventsys|sensevts|msxml2|xmllite|evntprov|ntddk|wdm|ntifs'
uses_windows="^[[:space:]]*#[[:space:]]*include[[:space:]]*(<($sdk)\\.h>|\"[^\"]*_win\\.h\"|\"dispatcher/rx_core_service\\.h\")"

# Excused files, each with its reason in a comment above it. Keep this empty where possible.
excused=()

broken=()
while IFS= read -r file; do
  stem=${file%.*}
  case "$stem" in *_win|*_win_test) continue ;; esac
  grep -qE "$uses_windows" "$file" || continue
  for e in "${excused[@]}"; do [ "$file" = "$e" ] && continue 2; done
  broken+=("$file")
done < <(git ls-files -- '*.h' '*.c' '*.cpp')

if [ ${#broken[@]} -gt 0 ]; then
  echo "check-win-suffix: these files use the Windows API but their names do not end in _win:" >&2
  printf '  %s\n' "${broken[@]}" >&2
  exit 1
fi
echo "check-win-suffix: every file that uses the Windows API ends in _win"
