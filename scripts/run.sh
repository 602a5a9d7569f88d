#!/usr/bin/env bash
# The product at work, end to end, in a Wine prefix of its own.
#
#   scripts/run.sh           install what is missing, build the package, prepare
#                            BUILD_DIR/run-prefix, install the package there (it registers and
#                            starts the service QlnVxCoreService), walk through the product's
#                            work step by step and uninstall it; each step ends with a PASS
#                            or FAIL line, a summary follows. Exit 0 only when every step passed.
#   scripts/run.sh --serve   the same preparation, then the service keeps running and the
#                            trace file is followed until Ctrl+C, which stops the service
#                            cleanly and uninstalls the package.
#
# The product comes from its package (scripts/package.sh), installed with Wine's msiexec as
# on a workstation. The test bed adds, apart from the product: the doubles of the outside
# components (the vault driver double runs as the kernel service QlnVSROV, the manager
# component and the COM+ event system, with the SENS events type library, are registered
# with regsvr32) and the locale-0 alias of the type library that Wine's marshaler needs.
# BUILD_DIR (default: build) is shared with scripts/test.sh; the prefix is not (the tests
# keep BUILD_DIR/wineprefix). A second run reuses the booted prefix. At the end the prefix's
# own Wine server is ended.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

usage() { sed -n '4,12s/^# \{0,1\}//p' "$0"; }
serve=0
case "${1:-}" in
  "") ;;
  --serve) serve=1 ;;
  -h|--help) usage; exit 0 ;;
  *) usage >&2; exit 2 ;;
esac

# ---------------------------------------------------------------------------------------
# Names the product and its doubles fix.
service=QlnVxCoreService
appid='{04755478-AF8D-438D-A8B4-235C0EEC2FBF}'
clsid='{3106EB92-9B4B-4D1C-8731-F46403BCAABF}'
progid=RxCoreService.RX_core_service_disp
install_dir='C:\Program Files\Quillon Cryvane'
driver_service=QlnVSROV
type_library='{E525C81A-0535-4FC4-B5DE-7F1FFA97266F}'
agent_key='HKLM\SOFTWARE\Halvern\Ostrand\Agent'
product_key='HKLM\SOFTWARE\Quillon\Vessaro'
logging_key='HKCU\Software\Quillon\Cryvane\Logging'
doubles_key='HKLM\Software\KvTestDoubles'
user=SYSTEM          # the account the logon events are fired for
user_sid=S-1-5-18    # ... and its SID, which the vault driver must receive

say() { printf '%s\n' "$*"; }
heading() { printf '\n== %s\n' "$*"; }
die() { say "run.sh: $*" >&2; exit 1; }
indent() { sed 's/^/   /'; }
# The trace file as UTF-8 lines, read with the installed rxctl (defined once it is installed).
trace_text() { rxctl trace show --file "$(win_path "$trace_file")" 2>&1 | tr -d '\r'; }
# The service reports SERVICE_STOPPED and then writes its last trace line: wait for it.
wait_for_stopped_line() {
  for _ in $(seq 1 50); do trace_text | grep -q 'LogEvent: Service stopped' && return 0; sleep 0.1; done
  return 1
}

# ---------------------------------------------------------------------------------------
# 1. Packages and build (the build folder is configured as scripts/test.sh configures it).
heading "Packages and build"
"$root/scripts/install-deps.sh" || die "installing the packages failed"
mkdir -p "$build"
build=$(cd "$build" && pwd)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null ||
  die "configuring $build failed"
start=$SECONDS
if ! cmake --build "$build" --target package_msi kv_manager_double kv_event_system_double kv_fire_event \
     vault_driver_double_sys >"$build/run-build.log" 2>&1; then
  tail -n 30 "$build/run-build.log" >&2
  die "the build failed (log: $build/run-build.log)"
fi
msi=$(ls "$build"/package/KvRxCoreService-*.msi 2>/dev/null | head -n 1)
say "built in $((SECONDS - start)) s: the package $(basename "${msi:-(none)}") and the doubles (log: $build/run-build.log)"

fire_exe=$build/doubles/kv_fire_event.exe
driver_sys=$build/tests/doubles/vault_driver_double.sys
for f in "$msi" "$fire_exe" "$driver_sys" \
         "$build/doubles/kv_manager_double.dll" "$build/doubles/kv_event_system_double.dll"; do
  [ -f "$f" ] || die "missing after the build: $f"
done

# ---------------------------------------------------------------------------------------
# 2. The run prefix and its persistent Wine server.
export WINEPREFIX=$build/run-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
w() { timeout 60 wine "$@" </dev/null; }
win_path() { printf 'Z:%s' "${1//\//\\}"; }
install_dir_unix="$WINEPREFIX/drive_c/Program Files/Quillon Cryvane"
service_exe=$install_dir_unix/KvRxCoreService.exe
rxctl_exe=$install_dir_unix/rxctl.exe
rxctl() { w "$rxctl_exe" "$@"; }
msiexec() {  # msiexec LOG ARGUMENTS...: silent, with the installer's own log
  local log=$1; shift
  WINEPREFIX=$WINEPREFIX timeout 300 wine msiexec "$@" /qn /l*v "$(win_path "$log")" </dev/null
}
# The test bed's locale-0 alias of the type library goes first, so that what the uninstall
# leaves is the product's alone.
uninstall_package() {  # uninstall_package [PRODUCT]: by default the package file's product
  w reg delete "HKCR\\TypeLib\\$type_library\\1.0\\0" /f >/dev/null 2>&1
  msiexec "$build/run-uninstall.log" /x "${1:-$(win_path "$msi")}"
}
# The product codes of every installed version (each version of the package has its own).
installed_products() {
  w reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/ { key = $0 } /DisplayName.*Quillon Cryvane Core Service/ { n = split(key, p, "\\"); print p[n] }'
}

server_started=0
cleanup() {
  [ "$server_started" = 1 ] || return 0
  server_started=0
  heading "Cleaning up"
  if w sc query "$service" 2>/dev/null | grep -q RUNNING; then w net stop "$service" >/dev/null 2>&1; fi
  # An interrupted run leaves no product behind either.
  for product in $(installed_products); do uninstall_package "$product" && say "package $product uninstalled"; done
  w net stop "$driver_service" >/dev/null 2>&1
  # Only the server of our own prefix (WINEPREFIX is set).
  timeout 30 wineserver -k 2>/dev/null
  say "Wine server of $WINEPREFIX ended"
}
trap cleanup EXIT

heading "Wine prefix $WINEPREFIX"
# A server left behind by an interrupted run holds that run's services: start afresh.
[ -d "$WINEPREFIX" ] && timeout 30 wineserver -k 2>/dev/null
start=$SECONDS
"$root/scripts/wine-prefix.sh" up "$build" "$WINEPREFIX" || die "the prefix did not come up"
server_started=1
say "ready in $((SECONDS - start)) s"

# ---------------------------------------------------------------------------------------
# 3. The outside components: the doubles, with their records cleared.
heading "Outside components (test doubles)"
drivers_dir=$WINEPREFIX/drive_c/windows/system32/drivers
cp "$driver_sys" "$drivers_dir/" || die "cannot copy the vault driver double"
if ! w sc query "$driver_service" >/dev/null 2>&1; then
  w sc create "$driver_service" type= kernel start= demand \
    binPath= 'C:\windows\system32\drivers\vault_driver_double.sys' >/dev/null ||
    die "cannot create the kernel service $driver_service"
fi
w reg delete "HKLM\\SYSTEM\\CurrentControlSet\\Services\\$driver_service\\Parameters" /v Replies /f >/dev/null 2>&1
records=$WINEPREFIX/drive_c/windows/temp/vault_double_requests.bin
rm -f "$records"
w net start "$driver_service" >/dev/null 2>&1 || die "the vault driver double did not start"
say "vault driver double: kernel service $driver_service running (answers every request with status 0)"
for dll in kv_manager_double.dll kv_event_system_double.dll; do
  w regsvr32 /s "$(win_path "$build/doubles/$dll")" || die "regsvr32 $dll failed"
  say "registered $dll"
done
w reg delete "$doubles_key" /f >/dev/null 2>&1   # the doubles' records

# ---------------------------------------------------------------------------------------
# 4. What the walk starts from: this user's trace switch on (the service reads it at its
#    start) and a known agent GUID with nothing recorded yet.
heading "Tracing and agent GUID"
trace_file=$WINEPREFIX/drive_c/users/$(id -un)/Temp/TraceFile.kv
rm -f "$trace_file"
w reg add "$logging_key" /v EnableUserModeTrace /t REG_DWORD /d 1 /f >/dev/null || die "cannot switch tracing on"
say "tracing on: $logging_key EnableUserModeTrace = 1"

first_guid='{6F1C2D3E-0000-4000-8000-00000000A11C}'
second_guid='{6F1C2D3E-0000-4000-8000-00000000B0B0}'
w reg add "$agent_key" /v AgentGUID /d "$first_guid" /f /reg:64 >/dev/null || die "cannot set the agent GUID"
w reg delete "$product_key" /v CurrentAgentGUID /f /reg:64 >/dev/null 2>&1
say "agent GUID: $first_guid (nothing recorded yet)"

# A product left installed by an interrupted run (of this build or an earlier one) goes first.
for product in $(installed_products); do
  uninstall_package "$product" >/dev/null 2>&1
  say "removed the product $product an earlier run left installed"
done

results=()
verdict() {  # verdict NAME CONDITION-RESULT
  if [ "$2" -eq 0 ]; then results+=("PASS  $1"); say "PASS  $1"; else results+=("FAIL  $1"); say "FAIL  $1"; fi
}
has() { grep -qF -- "$2" <<<"$1"; }
value_of() {  # value_of KEY NAME|"": the value's data as reg query shows it
  local out
  if [ -z "$2" ]; then out=$(w reg query "$1" /ve 2>/dev/null); else out=$(w reg query "$1" /v "$2" 2>/dev/null); fi
  tr -d '\r' <<<"$out" | awk -F'    ' 'NF >= 4 { print $4 }'
}

# ---------------------------------------------------------------------------------------
# 5. The product, from its package: msiexec registers the service with the program's own
#    -Service verb and starts it.
heading "Step 1: installing the package"
start=$(date +%s.%N)
msiexec "$build/run-install.log" /i "$(win_path "$msi")"; code=$?
install_seconds=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
say "msiexec /i $(basename "$msi") /qn: exit $code after $install_seconds s (log: $build/run-install.log)"
for f in "$install_dir_unix"/*; do [ -f "$f" ] && say "   $install_dir\\${f##*/}"; done
exe_win="$install_dir\\KvRxCoreService.exe"
image_path=$(value_of "HKLM\\System\\CurrentControlSet\\Services\\$service" ImagePath)
say "service $service: ImagePath $image_path"
[ "$code" -eq 0 ] && [ -f "$service_exe" ] && [ -f "$rxctl_exe" ] && [ "$image_path" = "\"$exe_win\"" ]
verdict "install: both programs in $install_dir, the service registered there" $?
[ -f "$rxctl_exe" ] || die "nothing installed: the walk cannot go on"

# Test bed: Wine's marshaler looks the type library up under locale 0; the product registers
# 1033. Removed again before the uninstall.
w reg add "HKCR\\TypeLib\\$type_library\\1.0\\0\\win64" /ve /d "$exe_win" /f >/dev/null ||
  die "cannot add the type library alias"
say "test bed: the locale-0 type library alias added"

start=$SECONDS
ready=0
for _ in $(seq 1 150); do
  if rxctl status >/dev/null 2>&1; then ready=1; break; fi
  sleep 0.2
done
[ "$ready" = 1 ] || { rxctl status | indent; die "the start event was not signalled within 30 s"; }
say "the service started by the installer; start event signalled after $((SECONDS - start)) s more"

# ---------------------------------------------------------------------------------------
# --serve: keep the service running and follow the trace file until interrupted.
if [ "$serve" = 1 ]; then
  heading "Serving"
  rxctl status | indent
  say "Calls from another shell, for example:"
  say "  WINEPREFIX=$WINEPREFIX wine '$install_dir\\rxctl.exe' call core_has_agent_GUID_changed"
  say "Following $trace_file (Ctrl+C stops the service)"
  # A trap, not an ignore: the follower must still receive the interrupt.
  trap 'true' INT TERM
  # No time limit here, unlike w(): the follower runs until the interrupt.
  wine "$rxctl_exe" trace show --follow --file "$(win_path "$trace_file")" </dev/null
  trap - INT TERM
  heading "Stopping $service"
  w net stop "$service" >/dev/null 2>&1
  rxctl status | head -n 1 | indent
  wait_for_stopped_line
  trace_text | sed -n '/CRxCoreServiceModule::PostMessageLoop\[/,$p' | indent
  heading "Uninstalling the package"
  uninstall_package; say "msiexec /x: exit $? (log: $build/run-uninstall.log)"
  exit 0
fi

# ---------------------------------------------------------------------------------------
# The walk through the product's work. Each step prints what happened and its verdict.

heading "Step 2: rxctl status and rxctl doctor"
out=$(rxctl status); code=$?
say "$out" | indent
ok=1
[ "$code" -eq 0 ] && has "$out" "$service: running, process" && has "$out" ": signalled" &&
  has "$out" "LocalService = $service" && has "$out" "server \"$exe_win\"" && has "$out" "tracing: on" && ok=0
verdict "status: service running, start event signalled, registered, tracing on" $ok
service_pid=$(sed -n "s/.*$service: running, process \([0-9]*\).*/\1/p" <<<"$out" | head -n 1)

say "rxctl doctor (the installed tool, against the installed product):"
out=$(rxctl doctor); code=$?
tr -d '\r' <<<"$out" | cut -c1-150 | indent
ok=1
# Ten checks of the registration and what it relies on; more once the package registers the
# event-log source (the signatures of an unsigned build are information only).
ok_count=$(grep -c '^OK ' <<<"$out")
[ "$code" -eq 0 ] && ! has "$out" "FAIL" && [ "$ok_count" -ge 10 ] && ok=0
verdict "doctor: all $ok_count checks OK, exit 0" $ok

heading "Step 3: core_has_agent_GUID_changed"
answer() {  # prints the call and returns the text of its <value> element in $value
  local label=$1 out code
  out=$(rxctl call core_has_agent_GUID_changed); code=$?
  value=$(sed -n 's:.*<value>\(.*\)</value>.*:\1:p' <<<"$out" | tr -d '\r')
  say "$label: exit $code, ret_code $(head -n 1 <<<"$out"), value \"$value\""
}
answers=""
answer "agent GUID $first_guid, first question"; answers+="$value "
w reg add "$agent_key" /v AgentGUID /d "$second_guid" /f /reg:64 >/dev/null
answer "agent GUID changed to $second_guid"; answers+="$value "
answer "asked again"; answers+="$value"
recorded=$(w reg query "$product_key" /v CurrentAgentGUID /reg:64 2>/dev/null | tr -d '\r' | awk '/CurrentAgentGUID/ {print $3}')
say "recorded: $product_key CurrentAgentGUID = $recorded"
[ "$answers" = "false true false" ] && [ "$recorded" = "$second_guid" ]
verdict "agent GUID: false, true after the change, then false" $?

heading "Step 4: a call forwarded to the manager component"
envelope=$build/run-envelope.xml
printf '%s\n' '<?xml version="1.0" encoding="UTF-8"?>' \
  '<function name="manager_echo"><argument name="greeting">hello from run.sh &amp; friends</argument></function>' \
  >"$envelope"
say "envelope $(win_path "$envelope"):"
indent <"$envelope"
out=$(rxctl call manager_echo --envelope "$(win_path "$envelope")"); code=$?
say "rxctl call manager_echo --envelope ...: exit $code"
tr -d '\r' <<<"$out" | indent
calls=$(w reg query "$doubles_key\\Manager" /v LastCall 2>/dev/null | tr -d '\r' | awk '/LastCall/ {print $3}')
say "the manager double's last call: $calls"
[ "$code" -eq 0 ] && [ "$(head -n 1 <<<"$out")" = 00000000 ] &&
  has "$out" '<argument name="greeting">hello from run.sh &amp; friends</argument>' && [ "$calls" = manager_echo ]
verdict "manager call: forwarded, ret_code 00000000, the argument echoed" $?

heading "Step 5: screen lock and logoff through the event system"
watch_out=$build/run-watch.out
watch_err=$build/run-watch.err
rxctl watch "$user" screen_lock user_logoff --count 2 --timeout 20000 >"$watch_out" 2>"$watch_err" &
watch_pid=$!
for _ in $(seq 1 100); do grep -q waiting "$watch_err" 2>/dev/null && break; sleep 0.1; done
sed 's/^/   /' "$watch_err"
fired_ok=0
for method in DisplayLock Logoff; do
  out=$(w "$fire_exe" "$method" "$user"); code=$?
  say "kv_fire_event $method $user: $out"
  [ "$code" -eq 0 ] || fired_ok=1
done
wait "$watch_pid"; watch_code=$?
say "rxctl watch ended with exit $watch_code; signals received:"
indent <"$watch_out"
say "requests the vault driver double recorded:"
decoded=$(python3 "$root/scripts/vault-records.py" "$records" 2>&1)
say "$decoded" | indent
# Two requests: unload_user_bkeys (op 9), then remove_sso_data (op 15), each naming the SID
# in field 9.
expected=$(printf '1: 9\n9: "%s"\n1: 15\n9: "%s"' "$user_sid" "$user_sid")
got=$(grep -E '^  [0-9]+: ' <<<"$decoded" | sed 's/^  //')
say "operations: $(grep -c '^request' <<<"$decoded") request(s); op 9 = unload_user_bkeys, op 15 = remove_sso_data"
[ "$fired_ok" -eq 0 ] && [ "$watch_code" -eq 0 ] && grep -q " $user $user_sid screen_lock$" "$watch_out" &&
  grep -q " $user $user_sid user_logoff$" "$watch_out" && [ "$got" = "$expected" ]
verdict "events: screen_lock and user_logoff signalled, the driver told to forget $user_sid" $?

heading "Step 6: the trace file (excerpt)"
trace=$(trace_text)
say "$trace_file: $(wc -l <<<"$trace") lines; excerpt:"
grep -E 'PreMessageLoop\[|Service started|About to start subscriptions|call_function\[|core_perform_operation\[|forward_call|::Logoff\[|unload_user_bkeys|remove_sso_data|::notify\[' \
  <<<"$trace" | head -n 24 | cut -c1-150 | indent
# The service's own lines, as rxctl trace show --process picks them, against the same lines
# picked out of the whole file by their prefix "HH:MM:SS [PID] ".
own=$(rxctl trace show --process "${service_pid:-0}" --file "$(win_path "$trace_file")" | tr -d '\r')
own_count=$(grep -c . <<<"$own")
prefixed_count=$(grep -cE "^[0-9]{2}:[0-9]{2}:[0-9]{2} \[${service_pid:-0}\] " <<<"$trace")
say "rxctl trace show --process ${service_pid:-?}: $own_count lines; lines of the whole file with that prefix: $prefixed_count"
has "$trace" "CRxCoreServiceModule::PreMessageLoop" && has "$trace" "RX_core_service_disp::core_perform_operation" &&
  has "$trace" "RX_core_service_disp::Logoff" && has "$trace" "VX_vault_driver_com::unload_user_bkeys" &&
  [ -n "$service_pid" ] && [ "$own_count" -gt 0 ] && [ "$own_count" -eq "$prefixed_count" ] &&
  ! grep -qvE "^[0-9]{2}:[0-9]{2}:[0-9]{2} \[$service_pid\] " <<<"$own"
verdict "trace: start, calls, logoff and driver requests written; --process shows the service's lines alone" $?

heading "Step 7: stopping $service"
w net stop "$service" >/dev/null 2>&1; code=$?
status_line=$(rxctl status 2>/dev/null | head -n 1)
say "net stop: exit $code; $status_line"
wait_for_stopped_line
trace=$(trace_text)
post=$(grep -n 'CRxCoreServiceModule::PostMessageLoop\[' <<<"$trace" | head -n 1 | cut -d: -f1)
stopped=$(grep -n 'LogEvent: Service stopped' <<<"$trace" | tail -n 1 | cut -d: -f1)
say "trace: PostMessageLoop scope at line ${post:-none}, \"Service stopped\" at line ${stopped:-none}"
sed -n '/CRxCoreServiceModule::PostMessageLoop\[/,$p' <<<"$trace" | cut -c1-150 | indent
done_count=$(w reg query "$doubles_key\\Manager" /v DoneCount 2>/dev/null | tr -d '\r' | awk '/DoneCount/ {print $3}')
say "the manager double's DoneCount: ${done_count:-none}"
[ "$code" -eq 0 ] && has "$status_line" "$service: stopped" && [ -n "$post" ] && [ -n "$stopped" ] &&
  [ "$post" -lt "$stopped" ] && [ "$((done_count))" -eq 1 ]
verdict "stop: PostMessageLoop before \"Service stopped\", the manager done once" $?

heading "Step 8: uninstalling the package"
start=$(date +%s.%N)
uninstall_package; code=$?
uninstall_seconds=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
say "test bed: the locale-0 type library alias removed; msiexec /x $(basename "$msi") /qn: exit $code after $uninstall_seconds s (log: $build/run-uninstall.log)"
left=()
w reg query "HKLM\\System\\CurrentControlSet\\Services\\$service" >/dev/null 2>&1 && left+=("service $service")
[ -e "$install_dir_unix" ] && left+=("folder $install_dir")
for key in "AppID\\$appid" "AppID\\KvRxCoreService.EXE" "CLSID\\$clsid" "$progid" "$progid.1" "TypeLib\\$type_library"; do
  w reg query "HKCR\\$key" >/dev/null 2>&1 && left+=("key HKCR\\$key")
done
say "left behind: ${left[*]:-nothing of the product}"
[ "$code" -eq 0 ] && [ ${#left[@]} -eq 0 ]
verdict "uninstall: no file, folder, service, AppID, class, ProgID or type library left" $?

# ---------------------------------------------------------------------------------------
heading "Summary"
failed=0
for r in "${results[@]}"; do
  say "$r"
  case "$r" in FAIL*) failed=$((failed + 1)) ;; esac
done
say "$(( ${#results[@]} - failed )) of ${#results[@]} steps passed"
cleanup
[ "$failed" -eq 0 ]
