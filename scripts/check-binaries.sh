#!/usr/bin/env bash
# Reads what a package ships and fails naming the file and the property that is missing.
#
#   check-binaries.sh PACKAGE.msi
#
# For every executable in the package (extracted with msiextract):
#   - hardening: DYNAMIC_BASE, HIGH_ENTROPY_VA, NX_COMPAT, relocations kept (a .reloc section,
#     relocations not stripped), an image base above 4 GB, no section both writable and
#     executable nor shared and writable, libssp's stack cookie and checked-function handlers
#     linked in (their texts: the binary is stripped, so no symbol names them);
#   - release form: no debug sections, a .gnu_debuglink naming <name>.debug, found in the
#     symbols folder beside the package (PACKAGE_DIR/symbols);
#   - identity: a version resource (company "Quillon", product "Quillon Cryvane", the original
#     file name, a description and a copyright) whose file version the installer's File table
#     carries, and an application manifest (asInvoker, Windows 10 and 11).
# For every DLL in the package's Binary table (its custom actions): the hardening above.
# For the package: every file versioned, the event-log source's two registry values.
# Prints one line a check; exits 1 when any fails.
set -uo pipefail
msi=$(realpath "${1:?package}")
symbols=$(dirname "$msi")/symbols
tools=x86_64-w64-mingw32
readobj=$(command -v llvm-readobj-14 || command -v llvm-readobj) || { echo "check-binaries: llvm-readobj missing (scripts/install-deps.sh)"; exit 1; }
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check FILE PROPERTY COMMAND...
  local file=$1 what=$2; shift 2
  if "$@"; then echo "ok    $file: $what"; else echo "FAIL  $file: $what"; failures=$((failures + 1)); fi
}
has() { grep -qE -- "$1" "$2"; }
lacks() { ! grep -qE -- "$1" "$2"; }

(cd "$work" && msiextract "$msi" >/dev/null) || { echo "FAIL  $msi: msiextract cannot read it"; exit 1; }
msiinfo export "$msi" File >"$work/File.idt"
msiinfo export "$msi" Registry >"$work/Registry.idt"
mapfile -t exes < <(find "$work" -iname '*.exe' -o -iname '*.dll' | sort)
[ ${#exes[@]} -gt 0 ] || { echo "FAIL  $msi: no executable in the package"; exit 1; }

# The hardening every shipped PE carries: EXE NAME.
hardening() {
  local exe=$1 name=$2 info=$work/$2 base wx sw
  "$readobj" --file-headers --sections "$exe" >"$info.headers"
  # One line a section: its name and its characteristics' flags.
  awk '/^ *Name: / { if (n) print n, f; n = $2; f = "" } /IMAGE_SCN_MEM_/ { f = f " " $1 } END { if (n) print n, f }' \
    "$info.headers" >"$info.sections"
  "$tools-objdump" -h "$exe" >"$info.sectionlist"
  "$tools-windres" -i "$exe" -O rc >"$info.rc" 2>/dev/null
  strings -a "$exe" >"$info.strings"

  check "$name" DYNAMIC_BASE has IMAGE_DLL_CHARACTERISTICS_DYNAMIC_BASE "$info.headers"
  check "$name" HIGH_ENTROPY_VA has IMAGE_DLL_CHARACTERISTICS_HIGH_ENTROPY_VA "$info.headers"
  check "$name" NX_COMPAT has IMAGE_DLL_CHARACTERISTICS_NX_COMPAT "$info.headers"
  check "$name" "relocations kept" eval 'has "^ *Name: \.reloc " "$info.headers" && lacks IMAGE_FILE_RELOCS_STRIPPED "$info.headers"'
  base=$(awk '/ImageBase:/ { print $2; exit }' "$info.headers")
  check "$name" "image base above 4 GB ($base)" test $((base)) -gt $((0xFFFFFFFF))
  wx=$(awk '/MEM_WRITE/ && /MEM_EXECUTE/ { print $1 }' "$info.sections" | tr '\n' ' ')
  check "$name" "no writable and executable section${wx:+ ($wx)}" test -z "$wx"
  sw=$(awk '/MEM_WRITE/ && /MEM_SHARED/ { print $1 }' "$info.sections" | tr '\n' ' ')
  check "$name" "no shared and writable section${sw:+ ($sw)}" test -z "$sw"
  check "$name" "stack protector (libssp)" has 'stack smashing detected' "$info.strings"
  check "$name" "checked functions (_FORTIFY_SOURCE)" has 'buffer overflow detected' "$info.strings"
}

for exe in "${exes[@]}"; do
  name=$(basename "$exe") info=$work/$name
  hardening "$exe" "$name"
  check "$name" "no debug sections" lacks ' \.debug_' "$info.sectionlist"
  link=$({ "$tools-objcopy" --dump-section .gnu_debuglink="$info.link" "$exe" "$work/scratch" &&
          tr '\0' '\n' <"$info.link" | head -n 1; } 2>/dev/null)
  check "$name" "debug link to $name.debug" test "$link" = "$name.debug"
  check "$name" "symbols beside the package ($symbols/$name.debug)" test -s "$symbols/$name.debug"

  file_version=$(sed -n 's/^ *FILEVERSION *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\).*/\1.\2.\3.\4/p' "$info.rc")
  check "$name" "version resource ($file_version)" test -n "$file_version"
  for value in '"CompanyName", "Quillon"' '"ProductName", "Quillon Cryvane"' "\"OriginalFilename\", \"$name\"" \
               '"FileDescription", "[^"]+"' '"LegalCopyright", "Copyright[^"]+Quillon' '"ProductVersion", "[0-9.]+"'; do
    check "$name" "version resource: $value" has "VALUE $value" "$info.rc"
  done
  msi_version=$(awk -F'\t' -v n="$name" '$3 == n || $3 ~ ("\\|" n "$") { print $5 }' "$work/File.idt")
  check "$name" "the installer versions it by its resource (File table: ${msi_version:-none})" \
    test -n "$file_version" -a "$msi_version" = "$file_version"
  check "$name" "manifest: asInvoker" has 'requestedExecutionLevel level=""asInvoker""' "$info.rc"
  check "$name" "manifest: supports Windows 10 and 11" has 'supportedOS Id=""\{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a\}""' "$info.rc"
done

# The package's custom-action DLLs (Binary table) run in the installer's own account: they
# are hardened too (linked stripped, unversioned, they carry no symbols of their own).
mapfile -t binaries < <(msiinfo streams "$msi" | grep '^Binary\.')
for stream in "${binaries[@]}"; do
  msiinfo extract "$msi" "$stream" >"$work/$stream"
  if [ "$(head -c 2 "$work/$stream")" = MZ ]; then hardening "$work/$stream" "$stream"; fi
done

event_key='SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\QlnVxCoreService\\?'
check "$(basename "$msi")" "event-log source: EventMessageFile is the installed service" \
  grep -qP "^[^\t]+\t2\t$event_key\tEventMessageFile\t\[#ServiceExe\]\t" "$work/Registry.idt"
check "$(basename "$msi")" "event-log source: TypesSupported 7" \
  grep -qP "^[^\t]+\t2\t$event_key\tTypesSupported\t#7\t" "$work/Registry.idt"
echo "$failures check(s) failed"
[ "$failures" -eq 0 ]
