#!/usr/bin/env bash
# Builds one workstation package from the built executables, repeatably:
#   1. splits each executable's debug information off into SYMBOLS/<name>.debug and ships a
#      stripped copy with a debug link to it (STAGE/<name>), sizes printed;
#   2. signs the stripped copies when a key is given (before they go into the cabinet);
#   3. runs wixl (with the custom-action DLL, already stripped, in the Binary table) with the
#      product code derived from the version, versions the files by their
#      version resource, and pins the package code (from the version and the content) and
#      the summary information's times;
#   4. signs the package when a key is given;
#   5. writes its bill of materials (CycloneDX JSON) when asked, with the shipped files' hashes.
# Every time written is EPOCH (the commit's time): the links' and strips' PE headers, the
# cabinet's file times (the staged files' times), the summary information, the signatures
# (when no timestamp server is named).
#
#   build_package.sh --version V --epoch E --wxs WXS --stage DIR --symbols DIR --out MSI
#                    SERVICE_EXE RXCTL_EXE ACTIONS_DLL
#                    [--sbom FILE] [--sign P12 [--password-file F] [--timestamp URL]]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
sign_key='' password_file='' timestamp_url='' sbom=''
while [ $# -gt 0 ]; do
  case $1 in
    --version) version=$2; shift 2 ;;
    --epoch) epoch=$2; shift 2 ;;
    --wxs) wxs=$2; shift 2 ;;
    --stage) stage=$2; shift 2 ;;
    --symbols) symbols=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --sbom) sbom=$2; shift 2 ;;
    --sign) sign_key=$2; shift 2 ;;
    --password-file) password_file=$2; shift 2 ;;
    --timestamp) timestamp_url=$2; shift 2 ;;
    -*) echo "build_package.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -eq 3 ] || { echo "build_package.sh: give the service and rxctl executables and the custom-action DLL" >&2; exit 2; }
export SOURCE_DATE_EPOCH=$epoch
tools=x86_64-w64-mingw32
mkdir -p "$stage" "$symbols" "$(dirname "$out")"
stage=$(cd "$stage" && pwd) symbols=$(cd "$symbols" && pwd)
wxs=$(realpath "$wxs") out=$(realpath "$out")
actions_dll=$(realpath "$3")
set -- "$(realpath "$1")" "$(realpath "$2")"

# 1. Symbols apart, stripped copies staged.
shipped=()
for built in "$@"; do
  name=$(basename "$built")
  "$tools-objcopy" --only-keep-debug "$built" "$symbols/$name.debug"
  "$tools-strip" --strip-all -o "$stage/$name.tmp" "$built"
  # The link names the symbol file by its base name and holds its CRC; a debugger finds it
  # beside the executable or in its debug folder.
  (cd "$symbols" && "$tools-objcopy" --add-gnu-debuglink="$name.debug" "$stage/$name.tmp" "$stage/$name")
  rm -f "$stage/$name.tmp"
  echo "$name: $(stat -c %s "$built") bytes built, $(stat -c %s "$stage/$name") bytes shipped, symbols $(stat -c %s "$symbols/$name.debug") bytes"
  shipped+=("$stage/$name")
done

# 2. Signing: SHA-256, the commit's time or an RFC 3161 timestamp.
sign() {  # sign FILE: replaces FILE with its signed copy
  local args=(sign -pkcs12 "$sign_key" -h sha256 -in "$1" -out "$1.signed")
  [ -n "$password_file" ] && args+=(-readpass "$password_file")
  if [ -n "$timestamp_url" ]; then args+=(-ts "$timestamp_url"); else args+=(-time "$epoch"); fi
  osslsigncode "${args[@]}" >/dev/null || { echo "build_package.sh: signing $1 failed" >&2; return 1; }
  mv "$1.signed" "$1"
}
# The custom-action DLL is linked stripped; the installer runs it, so it is signed too.
cp "$actions_dll" "$stage/$(basename "$actions_dll")"
actions_staged=$stage/$(basename "$actions_dll")
if [ -n "$sign_key" ]; then
  for f in "${shipped[@]}" "$actions_staged"; do sign "$f"; done
fi
# The cabinet takes each file's time from the file.
touch -d "@$epoch" "${shipped[@]}"

# 3. The package. A GUID from a name: the same name gives the same GUID (UUID version 5).
guid_of() { /usr/bin/python3 -c 'import sys, uuid; print("{%s}" % str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' "$@"; }
upgrade_code=$(sed -n 's/.*UpgradeCode="\([0-9A-Fa-f-]*\)".*/\1/p' "$wxs")
product_code=$(guid_of "$upgrade_code" "product $version")
content=$(cat "$wxs" "${shipped[@]}" "$actions_staged" | sha256sum | cut -d' ' -f1)
package_code=$(guid_of "$upgrade_code" "package $version $content")
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
# wixl looks sources up relative to its working folder only.
(cd "$stage" && wixl -a x64 -D Version="$version" -D ProductCode="$product_code" \
   -D ServiceExe="$(basename "$1")" -D RxctlExe="$(basename "$2")" \
   -D ActionsDll="$(basename "$actions_staged")" -o "$work/package.msi" "$wxs")
# wixl writes a CustomAction with Execute="rollback" or "commit" as an immediate one: each
# such action of the package (a DLL from the Binary table, run without impersonation) gets
# its type here, 3329 for a rollback action (1 + 256 + 1024 + 2048), 3585 for a commit one
# (1 + 512 + 1024 + 2048).
/usr/bin/python3 - "$wxs" <<'PY' | while read -r action type; do
import sys, xml.etree.ElementTree as tree
ns = '{http://schemas.microsoft.com/wix/2006/wi}'
for action in tree.parse(sys.argv[1]).iter(ns + 'CustomAction'):
    execute = action.get('Execute')
    if execute in ('rollback', 'commit'):
        if not action.get('BinaryKey') or action.get('Impersonate') != 'no':
            sys.exit('build_package.sh: %s: only DLL actions without impersonation are typed here' % action.get('Id'))
        print(action.get('Id'), 3329 if execute == 'rollback' else 3585)
PY
  msibuild "$work/package.msi" -q "UPDATE \`CustomAction\` SET \`Type\` = $type WHERE \`Action\` = '$action'"
done
for f in "${shipped[@]}"; do
  file_version=$("$tools-windres" -i "$f" -O rc | sed -n 's/^ *FILEVERSION *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\).*/\1.\2.\3.\4/p')
  [ -n "$file_version" ] || { echo "build_package.sh: $f has no version resource" >&2; exit 1; }
  msibuild "$work/package.msi" -q "UPDATE \`File\` SET \`Version\` = '$file_version', \`Language\` = '1033' WHERE \`FileName\` = '$(basename "$f")'"
done
"$here/pin_msi_summary.py" "$work/package.msi" "$package_code" "$epoch"
if [ -n "$sign_key" ]; then sign "$work/package.msi"; fi
mv "$work/package.msi" "$out"

# 5. What the package holds and what went into it.
if [ -n "$sbom" ]; then "$here/write_sbom.py" "$sbom" "$version" "$epoch" "$out" "${shipped[@]}"; fi
