#!/usr/bin/env bash
# Peer check: every document that XmlPeer.SavedDocumentsReadBack saves must be accepted
# by xmllint (libxml2). Usage: xmllint_peer.sh SOURCE_DIR TEST_EXE OUT_DIR
set -euo pipefail
source_dir=$1 exe=$2 out=$3
rm -rf "$out" && mkdir -p "$out"
KV_XML_PEER_DIR="Z:$out" "$source_dir/scripts/wine-run.sh" "$exe" \
  --gtest_filter=XmlPeer.SavedDocumentsReadBack
shopt -s nullglob
files=("$out"/kvxml_peer_*.xml)
[ ${#files[@]} -ge 4 ] || { echo "expected at least 4 saved documents, found ${#files[@]}" >&2; exit 1; }
for f in "${files[@]}"; do
  xmllint --noout "$f"
  echo "xmllint accepts $(basename "$f")"
done
