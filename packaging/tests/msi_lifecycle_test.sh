#!/usr/bin/env bash
# The package's whole life on a workstation, under Wine's msiexec, in a prefix of its own:
# a fresh install of version N that fails on purpose (WIXFAILWHENDEFERRED=1) must leave the
# registry export and the file list as they were; then install N, an upgrade to N+1 that
# fails on purpose must leave N installed, registered, running and answering a call; then
# upgrade to N+1, repair, uninstall. After each step the test checks what the machine holds;
# at the end the registry export and the file list must be those from before the install,
# apart from the noise Wine itself makes (listed below).
#
#   msi_lifecycle_test.sh SOURCE_DIR MSI NEXT_MSI WORK_DIR MANAGER_DOUBLE_DLL
#
# The test bed adds what a call needs and Wine lacks, before the first snapshot: the manager
# component's double (regsvr32), the management agent's GUID, and, while the product is
# installed, the locale-0 alias of its type library that Wine's marshaler looks up.
#
# WORK_DIR keeps a booted template prefix (booted once, then reused) and, during a run, a
# copy of it that the run installs into; the tests' own prefix is never touched. Every
# msiexec leaves its /l*v log in WORK_DIR. The figures (seconds per step) are printed,
# never asserted.
set -uo pipefail
root=${1:?source folder} msi=${2:?package} next_msi=${3:?next package} work=${4:?work folder}
manager_double=$(realpath "${5:?manager double DLL}")
mkdir -p "$work"
work=$(cd "$work" && pwd)
msi=$(realpath "$msi") next_msi=$(realpath "$next_msi")
template=$work/template
prefix=$work/prefix

service=QlnVxCoreService
appid='{04755478-AF8D-438D-A8B4-235C0EEC2FBF}'
clsid='{3106EB92-9B4B-4D1C-8731-F46403BCAABF}'
typelib='{E525C81A-0535-4FC4-B5DE-7F1FFA97266F}'
interface='{34BC928E-3497-4439-AE5A-16690114EE51}'
progid=RxCoreService.RX_core_service_disp
install_dir='C:\Program Files\Quillon Cryvane'
install_dir_unix="$prefix/drive_c/Program Files/Quillon Cryvane"
logging_key='HKCU\Software\Quillon\Cryvane\Logging'
product_key='HKLM\SOFTWARE\Quillon\Vessaro'
agent_guid='{6F1C2D3E-0000-4000-8000-00000000A11C}'
agent_key='HKLM\SOFTWARE\Halvern\Ostrand\Agent'
msi_failure=1603  # ERROR_INSTALL_FAILURE, what msiexec returns for a rolled-back transaction

# The noise: what Wine leaves after any package's whole life, or changes by itself, here as
# exact lines, so that anything of the product under the same keys would still show:
# - the empty book-keeping keys Wine's installer creates at the first install and keeps
#   (a Windows machine has them from the start): HKLM\Software\Classes\Installer with its
#   Features, Products and UpgradeCodes, and under ...\CurrentVersion\Installer the keys
#   UpgradeCodes and UserData\S-1-5-18 with its Components and Products;
# - the control manager's counter of service starts (Control\ServiceCurrent);
# - the display entries Wine's desktop adds at each start of a process with a window station
#   (Control\Video\{...}\0000 GraphicsDriver = null);
# - the empty folder C:\windows\Installer, where Wine's installer caches packages;
# - after a rolled-back install, the keys of the package's three components under
#   UserData\S-1-5-18\Components: Wine's rollback takes the product's value out of them and
#   leaves the keys, empty (a value left in them would still show).
# - the source list of an installed version (its package folders and the last one used):
#   the repair that puts an older version back after Wine's rollback of a failed upgrade
#   (see docs/deployment.md) records the same folder once more and marks it last used.
installer_keys='HKEY_LOCAL_MACHINE\\Software\\(Classes\\Installer(\\(Features|Products|UpgradeCodes))?|Microsoft\\Windows\\CurrentVersion\\Installer\\(UpgradeCodes|UserData(\\S-1-5-18(\\(Components|Products))?)?))'
registry_noise="^\\[$installer_keys\\]\$"
registry_noise+='|^\[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ServiceCurrent\] @=dword:'
registry_noise+='|^\[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Video\\\{[0-9a-f-]+\}(\\0000)?\]( "GraphicsDriver"="null")?$'
registry_noise+='|^\[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\(BDA9EEC42CB271B458BFF984C6A8443D|BEBE13AB7F935064AB5AAF644A99B9AE|25C4F7B0E1D6A7C4E953A8D2160F3C4B)\]$'
registry_noise+='|^\[HKEY_LOCAL_MACHINE\\Software\\Classes\\Installer\\Products\\[0-9A-F]{32}\\SourceList(\\Net)?\] ("[0-9]+"=hex\(2\):|"LastUsedSource"=)'
file_noise='^d \./windows/Installer$'

failures=0
say() { printf '%s\n' "$*"; }
ok() { say "ok    $*"; }
fail() { say "FAIL  $*"; failures=$((failures + 1)); }
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}
absent() { ! "$@"; }

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
w() { WINEPREFIX=$prefix timeout 120 wine "$@" </dev/null; }
win_path() { printf 'Z:%s' "${1//\//\\}"; }
now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

# The template prefix: booted once; the run copies it (cp -a of a booted prefix is quick).
if [ ! -f "$template/.kv-ready" ]; then
  say "booting the template prefix $template"
  "$root/scripts/wine-prefix.sh" up "$work" "$template" || { say "FAIL  the template did not boot"; exit 1; }
  "$root/scripts/wine-prefix.sh" down "$work" "$template"
fi
rm -rf "$prefix"
cp -a "$template" "$prefix" || { say "FAIL  cannot copy the template"; exit 1; }
"$root/scripts/wine-prefix.sh" up "$work" "$prefix" || { say "FAIL  the prefix did not come up"; exit 1; }
finish() {
  WINEPREFIX=$prefix timeout 30 wineserver -k 2>/dev/null
  # A passing run leaves only the template and the logs; a failing one keeps its prefix.
  [ "$failures" -eq 0 ] && rm -rf "$prefix"
}
trap finish EXIT

# A registry export as sorted lines "[key]" and "[key] name=value" (continuations joined),
# and the prefix's drive C as sorted lines "type path"; NAME.registry and NAME.files hold
# them without Wine's noise, NAME.registry.all and NAME.files.all with it.
registry_lines() {  # registry_lines FILE.reg
  iconv -f UTF-16 -t UTF-8 "$1" | tr -d '\r' | sed -e ':a' -e '/\\$/N; s/\\\n *//; ta' |
    awk '/^\[/ { key = $0; print key; next } NF && key != "" { print key " " $0 }' | LC_ALL=C sort
}
file_lines() { (cd "$prefix/drive_c" && find . -mindepth 1 -printf '%y %p\n') | LC_ALL=C sort; }
snapshot() {  # snapshot NAME
  # Test bed: what the manager double records of its starts and stops is not the product's.
  w reg delete 'HKLM\Software\KvTestDoubles' /f >/dev/null 2>&1
  w regedit /E "$(win_path "$work/$1.reg")" || { fail "regedit /E for $1"; return; }
  registry_lines "$work/$1.reg" >"$work/$1.registry.all"
  file_lines >"$work/$1.files.all"
  grep -Ev -- "$registry_noise" "$work/$1.registry.all" >"$work/$1.registry"
  grep -Ev -- "$file_noise" "$work/$1.files.all" >"$work/$1.files"
  rm -f "$work/$1.reg"
}
msiexec_step() {  # msiexec_step NAME [EXPECTED_EXIT] ARGUMENTS...: msiexec silently with its log, timed
  local name=$1 expected=0 start code; shift
  [[ $1 =~ ^[0-9]+$ ]] && { expected=$1; shift; }
  start=$(now)
  w msiexec "$@" /qn /l*v "$(win_path "$work/$name.log")"; code=$?
  say "      $name: msiexec $* took $(seconds "$start" "$(now)") s, exit $code (log: $work/$name.log)"
  # The shell keeps the low 8 bits of a Windows exit code (1603 arrives as 67).
  [ "$code" -eq $((expected & 255)) ] || fail "$name: msiexec exit $code, expected $expected"
}
section_start=$(now)
section() {  # section TITLE: closes the previous step with its time, opens the next
  say "      (step took $(seconds "$section_start" "$(now)") s)"
  section_start=$(now)
  say "== $*"
}
log_has() { grep -aqF -- "$2" "$work/$1.log"; }  # log_has NAME TEXT: the installer's log says TEXT
# The order of two lines in an installer's log: the first line matching A comes before the
# first line matching B after it, both in the execution of the script (after InstallInitialize).
log_order() {  # log_order NAME A B
  awk -v a="$2" -v b="$3" '/Action start .*InstallInitialize\./ { script = 1 }
    script && !at && index($0, a) { at = NR } at && index($0, b) { found = 1; exit } END { exit !found }' "$work/$1.log"
}

key_exists() { w reg query "$1" >/dev/null 2>&1; }
value_is() {  # value_is KEY NAME EXPECTED (NAME "" is the default value)
  local got
  if [ -z "$2" ]; then got=$(w reg query "$1" /ve 2>/dev/null); else got=$(w reg query "$1" /v "$2" 2>/dev/null); fi
  got=$(tr -d '\r' <<<"$got" | awk -F'    ' 'NF >= 4 { print $4 }')
  [ "$got" = "$3" ] || { say "      $1 ${2:-(default)}: \"$got\", expected \"$3\""; return 1; }
}
service_exists() { key_exists "HKLM\\System\\CurrentControlSet\\Services\\$service"; }
# The service reports running only once it has read its registration and opened its trace,
# so a start through the installer is complete when the control manager says RUNNING.
service_running() {
  local i
  for i in $(seq 1 150); do
    w sc query "$service" 2>/dev/null | grep -q 'RUNNING' && return 0
    sleep 0.2
  done
  return 1
}
product_version() {  # the DisplayVersion of every installed version, one a line
  w reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk '/DisplayName.*Quillon Cryvane Core Service/ { ours = 1 } /^HKEY/ { ours = 0 } ours && /DisplayVersion/ { print $3 }'
}
rxctl() { w "$install_dir\\rxctl.exe" "$@"; }
answers_call() {  # the service answers core_has_agent_GUID_changed with success
  local out; out=$(rxctl call core_has_agent_GUID_changed | tr -d '\r')
  say "      rxctl call core_has_agent_GUID_changed: $(head -n 1 <<<"$out") $(grep -o '<value>.*</value>' <<<"$out")"
  [ "$(head -n 1 <<<"$out")" = 00000000 ]
}
# Test bed: Wine's marshaler looks the type library up under locale 0; the product registers
# 1033. The alias goes again before the product's own unregistration.
alias_key="HKCR\\TypeLib\\$typelib\\1.0\\0"
add_alias() { w reg add "$alias_key\\win64" /ve /d "$install_dir\\KvRxCoreService.exe" /f >/dev/null; }
remove_alias() { w reg delete "$alias_key" /f >/dev/null 2>&1; }
installed_files() { [ -f "$install_dir_unix/KvRxCoreService.exe" ] && [ -f "$install_dir_unix/rxctl.exe" ]; }

registered() {  # what a working install holds: the program's own registration and the service
  local exe="$install_dir\\KvRxCoreService.exe"
  check "$1: both programs in $install_dir" installed_files
  check "$1: service $service, own process, demand start, LocalSystem, quoted path" eval \
    'value_is "HKLM\\System\\CurrentControlSet\\Services\\$service" Type 0x10 &&
     value_is "HKLM\\System\\CurrentControlSet\\Services\\$service" Start 0x3 &&
     value_is "HKLM\\System\\CurrentControlSet\\Services\\$service" ObjectName LocalSystem &&
     value_is "HKLM\\System\\CurrentControlSet\\Services\\$service" ImagePath "\"$exe\""'
  check "$1: AppID with LocalService = $service" value_is "HKCR\\AppID\\$appid" LocalService "$service"
  check "$1: class LocalServer32 is the installed program" value_is "HKCR\\CLSID\\$clsid\\LocalServer32" "" "\"$exe\""
  check "$1: ProgIDs" eval 'value_is "HKCR\\$progid.1\\CLSID" "" "$clsid" && value_is "HKCR\\$progid\\CurVer" "" "$progid.1"'
  check "$1: type library 1.0, locale 1033, the installed program" \
    value_is "HKCR\\TypeLib\\$typelib\\1.0\\409\\win64" "" "$exe"
  check "$1: the service is running" service_running
}
# The event viewer's view: message 0 of the message file registered for the service's
# source, read by KV_EVENT_MESSAGE_PROBE (packaging/tests/event_message_probe_win.cpp).
event_log_text() {
  hex() { od -An -tx1 | tr -d ' \n'; }
  check "$1: the event-log source shows \"Service started.\\r\\n\"" test \
    "$(w "$KV_EVENT_MESSAGE_PROBE" "$service" "Service started" | hex)" = "$(printf 'Service started.\r\n' | hex)"
}
user_data_kept() {
  check "$1: the per-user trace switch is kept" value_is "$logging_key" EnableUserModeTrace 0x1
  check "$1: the recorded agent GUID is kept" value_is "$product_key" CurrentAgentGUID "$agent_guid"
}

say "prefix $prefix"
# Windows carries the page-file clearing flag from the start (0); Wine's registry lacks it.
# The service resets it to 0 at each start (its volatile key is absent here), so the
# prefix is given the value a workstation has.
w reg add 'HKLM\System\CurrentControlSet\Control\Session Manager\Memory Management' \
  /v ClearPageFileAtShutdown /t REG_DWORD /d 0 /f >/dev/null
# Test bed: the manager component's double and the management agent's identity.
w regsvr32 /s "$(win_path "$manager_double")" || fail "regsvr32 of the manager double"
w reg add "$agent_key" /v AgentGUID /d "$agent_guid" /f /reg:64 >/dev/null
# A workstation's Application log holds sources of the system's; Wine's is an empty key,
# which its installer deletes along with the product's source. One of them stands in.
w reg add 'HKLM\System\CurrentControlSet\Services\Eventlog\Application\Application Error' /f >/dev/null
check "before: nothing of the product in the prefix" eval \
  'absent service_exists && absent key_exists "HKCR\\AppID\\$appid" && absent key_exists "HKCR\\CLSID\\$clsid" &&
   absent key_exists "HKCU\\Software\\Quillon" && absent key_exists "HKLM\\SOFTWARE\\Quillon"'
snapshot before

# A failed transaction and what it leaves: the registry export and the file list of before.
compare_snapshots() {  # compare_snapshots BEFORE AFTER WHAT: AFTER's snapshot must be BEFORE's
  local registry_diff files_diff
  registry_diff=$(diff "$work/$1.registry" "$work/$2.registry")
  files_diff=$(diff "$work/$1.files" "$work/$2.files")
  say "      registry: $(wc -l <"$work/$1.registry") lines before, $(wc -l <"$work/$2.registry") after"
  say "      files:    $(wc -l <"$work/$1.files") entries before, $(wc -l <"$work/$2.files") after"
  [ -n "$registry_diff" ] && say "$registry_diff" | head -n 60
  [ -n "$files_diff" ] && say "$files_diff" | head -n 60
  say "      filtered as Wine's noise (the whole difference of the unfiltered lists):"
  diff "$work/$1.registry.all" "$work/$2.registry.all" | grep '^[<>]' | sed 's/^/        /'
  diff "$work/$1.files.all" "$work/$2.files.all" | grep '^[<>]' | sed 's/^/        /'
  check "$2: the registry export is the one from before $3" test -z "$registry_diff"
  check "$2: the file list is the one from before $3" test -z "$files_diff"
}

section "fresh install of $(basename "$msi") with WIXFAILWHENDEFERRED=1"
msiexec_step failed-install $msi_failure /i "$(win_path "$msi")" WIXFAILWHENDEFERRED=1
check "failed-install: the log shows the registration, the failure and the registration's rollback" eval \
  'log_order failed-install "-Service succeeded" "fails here on purpose" &&
   log_order failed-install "fails here on purpose" "-UnregServer succeeded"'
check "failed-install: no service" absent service_exists
check "failed-install: no product installed" test -z "$(product_version)"
snapshot failed-install
compare_snapshots before failed-install "the failed install"

section "install $(basename "$msi")"
msiexec_step install /i "$(win_path "$msi")"
registered install
event_log_text install
add_alias
check "install: the service answers a call" answers_call
version_installed=$(product_version)
snapshot installed

section "major upgrade to $(basename "$next_msi") with WIXFAILWHENDEFERRED=1"
msiexec_step failed-upgrade $msi_failure /i "$(win_path "$next_msi")" WIXFAILWHENDEFERRED=1
check "failed-upgrade: the older version is still the one installed ($(product_version | tr '\n' ' '))" \
  test "$(product_version)" = "$version_installed"
registered failed-upgrade
check "failed-upgrade: the restored service answers a call" answers_call
check "failed-upgrade: the log shows the failure, then the older version restored or found intact" eval \
  'log_order failed-upgrade "fails here on purpose" "KvRxCoreService rollback: the earlier version" &&
   ! log_has failed-upgrade "repair failed"'
snapshot failed-upgrade
compare_snapshots installed failed-upgrade "the failed upgrade"

# What the users and the service have recorded meanwhile: the trace switch of this user
# (on) and the agent GUID the service records.
w reg add "$logging_key" /v EnableUserModeTrace /t REG_DWORD /d 1 /f >/dev/null
w reg add "$product_key" /v CurrentAgentGUID /d "$agent_guid" /f >/dev/null

section "major upgrade to $(basename "$next_msi")"
msiexec_step upgrade /i "$(win_path "$next_msi")"
registered upgrade
user_data_kept upgrade
products=$(w reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
           grep -c 'DisplayName.*Quillon Cryvane Core Service')
check "upgrade: one product installed (the older one removed), found $products" test "$products" -eq 1
check "upgrade: the newer version's registration and service answer a call" answers_call
check "upgrade: the restarted service reads the kept switch (it writes its trace file)" \
  test -s "$prefix/drive_c/users/$(id -un)/Temp/TraceFile.kv"

section "repair, after rxctl.exe and the class key were lost"
rm -f "$install_dir_unix/rxctl.exe"
w reg delete "HKCR\\CLSID\\$clsid" /f >/dev/null 2>&1
# The property form of msiexec /fa (Wine's msiexec /f does not find the installed product).
msiexec_step repair /i "$(win_path "$next_msi")" REINSTALL=ALL REINSTALLMODE=amus
registered repair
user_data_kept repair

# An unregistration that fails (the type library registered from a file that is gone, so
# removing it fails) does not hold the uninstall: the log names it with its status, and
# installing and uninstalling again is the administrator's mend.
section "uninstall whose unregistration fails, then installed again"
remove_alias
w reg add "HKCR\\TypeLib\\$typelib\\1.0\\409\\win64" /ve /d 'C:\nowhere\KvRxCoreService.exe' /f >/dev/null
msiexec_step failed-unregistration /x "$(win_path "$next_msi")"
check "failed-unregistration: the uninstall went on, its log names the failure with its status" eval \
  'test -z "$(product_version)" && log_has failed-unregistration "-UnregServer failed with status 0x"'
msiexec_step reinstall /i "$(win_path "$next_msi")"
registered reinstall

section "uninstall"
remove_alias
msiexec_step uninstall /x "$(win_path "$next_msi")"
check "uninstall: no service" absent service_exists
check "uninstall: no folder $install_dir" test ! -e "$install_dir_unix"
for key in "HKCR\\AppID\\$appid" "HKCR\\AppID\\KvRxCoreService.EXE" "HKCR\\CLSID\\$clsid" "HKCR\\$progid" \
           "HKCR\\$progid.1" "HKCR\\TypeLib\\$typelib" "HKCR\\Interface\\$interface"; do
  check "uninstall: no key $key" absent key_exists "$key"
done
# The users' settings and the agent's recorded identity outlive the product, as the trace
# file does (a reinstall goes on from them); this test wrote them, so it removes them.
user_data_kept uninstall
trace_file="$prefix/drive_c/users/$(id -un)/Temp/TraceFile.kv"
stopped_cleanly() {  # the service's last run ended with its own stop sequence, not a kill
  iconv -f UTF-16 -t UTF-8 "$trace_file" | awk '/PreMessageLoop\[/ { start = NR } /LogEvent: Service stopped/ { stop = NR }
    END { exit !(start && stop > start) }'
}
check "uninstall: the service was stopped first (\"Service stopped\" ends its last run)" stopped_cleanly
check "uninstall: the installer's log stops the service, then unregisters, then removes its files" eval \
  'log_order uninstall "Service: $service" "-UnregServer succeeded" &&
   log_order uninstall "-UnregServer succeeded" "File: KvRxCoreService.exe"'
# Under the product's two keys only those two values may be left; they are listed, then removed.
values_under() {  # values_under KEY: "NAME TYPE DATA" of every value in the key's subtree
  w reg query "$1" /s 2>/dev/null | tr -d '\r' | awk -F'    ' 'NF >= 4 { print $2 " " $3 " " $4 }'
}
kept_user=$(values_under 'HKCU\Software\Quillon')
kept_machine=$(values_under 'HKLM\SOFTWARE\Quillon')
say "      kept for a reinstall: HKCU\Software\Quillon: ${kept_user:-nothing}; HKLM\SOFTWARE\Quillon: ${kept_machine:-nothing}"
check "uninstall: nothing else under the product's keys" test \
  "$kept_user|$kept_machine" = "EnableUserModeTrace REG_DWORD 0x1|CurrentAgentGUID REG_SZ $agent_guid"
w reg delete 'HKCU\Software\Quillon' /f >/dev/null 2>&1
w reg delete 'HKLM\SOFTWARE\Quillon' /f >/dev/null 2>&1
rm -f "$trace_file"

snapshot after
section "before the install against after the uninstall (registry export, file list)"
compare_snapshots before after "the install"

say "      (step took $(seconds "$section_start" "$(now)") s)"
say "$failures check(s) failed"
[ "$failures" -eq 0 ]
