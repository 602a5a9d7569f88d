#!/usr/bin/env bash
# Checks a package's bill of materials:
#   - valid CycloneDX, by the CycloneDX library's strict schema validator (npm packages pinned in
#     packaging/sbom-validator/, installed once into the build folder with npm ci);
#   - every file it lists has the SHA-256 it gives: the package in PACKAGE_DIR, the shipped
#     executables in PACKAGE_DIR/bin (the copies that went into the package);
#   - it names the product, both executables, the package and each runtime library linked in,
#     with the Debian package it came from and a licence expression (the GCC runtime library
#     exception for GCC's).
#
#   check-sbom.sh BOM.json PACKAGE_DIR
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bom=$(realpath "${1:?bill of materials}") dir=$(realpath "${2:?package folder}")
validator=$dir/../sbom-validator
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then echo "ok    $what"; else echo "FAIL  $what"; failures=$((failures + 1)); fi
}

# The validator, installed again only when its pinned list changed.
if ! cmp -s "$root/packaging/sbom-validator/package-lock.json" "$validator/package-lock.json" ||
   [ ! -d "$validator/node_modules" ]; then
  mkdir -p "$validator"
  cp "$root/packaging/sbom-validator/package.json" "$root/packaging/sbom-validator/package-lock.json" "$validator/"
  (cd "$validator" && npm ci --no-audit --no-fund >/dev/null) || { echo "FAIL  npm ci of the validator in $validator"; exit 1; }
fi
check "$(basename "$bom"): $(NODE_PATH=$validator/node_modules node "$root/packaging/sbom-validator/validate.js" "$bom" | tail -n 1)" \
  eval 'NODE_PATH=$validator/node_modules node "$root/packaging/sbom-validator/validate.js" "$bom" >/dev/null'

# "type name sha256 purl licence" a component.
components=$(/usr/bin/python3 -c '
import json, sys
bom = json.load(open(sys.argv[1]))
for c in [bom["metadata"]["component"]] + bom["components"]:
    digest = next((h["content"] for h in c.get("hashes", []) if h["alg"] == "SHA-256"), "-")
    licence = " ".join(l.get("expression", "-") for l in c.get("licenses", [])) or "-"
    print(c["type"], c["name"], digest, c.get("purl", "-"), licence, sep="\t")' "$bom") ||
  { echo "FAIL  $bom cannot be read"; exit 1; }

while IFS=$'\t' read -r type name digest _ _; do
  [ "$digest" = - ] && continue
  file=$dir/$name
  [ -f "$file" ] || file=$dir/bin/$name
  check "$name: SHA-256 is that of $file" test "$(sha256sum "$file" 2>/dev/null | cut -d' ' -f1)" = "$digest"
done <<<"$components"

named() { awk -F'\t' -v t="$1" -v n="$2" '$1 == t && $2 == n' <<<"$components" | grep -q .; }
check "names the product" named application "Quillon Cryvane Core Service"
for exe in KvRxCoreService.exe rxctl.exe; do check "names $exe" named application "$exe"; done
check "names the package" eval 'awk -F"\t" "\$1 == \"file\" && \$2 ~ /\\.msi\$/" <<<"$components" | grep -q .'
for library in mingw-w64-crt mingw-w64-headers winpthreads libstdc++ libgcc libssp; do
  row=$(awk -F'\t' -v n="$library" '$1 == "library" && $2 == n' <<<"$components")
  check "$library: from a Debian package with its version, with a licence ($(cut -f4,5 <<<"$row" | tr '\t' ' '))" \
    eval '[[ $(cut -f4 <<<"$row") == pkg:deb/debian/*@* && $(cut -f5 <<<"$row") != - ]]'
done
for library in libstdc++ libgcc libssp; do
  check "$library: the GCC runtime library exception" eval \
    'awk -F"\t" -v n="$library" "\$2 == n" <<<"$components" | grep -q "WITH GCC-exception-3.1"'
done
echo "$failures check(s) failed"
[ "$failures" -eq 0 ]
