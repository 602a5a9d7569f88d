#!/usr/bin/env bash
# Builds the package of one commit twice, from two clean clones in different folders, and
# compares what ships: both executables, the package, its bill of materials and the symbol
# files. Prints the SHA-256 of each artifact side by side and exits 0 only when all agree.
#
#   scripts/reproduce.sh [COMMIT] [--keep]     (COMMIT: default HEAD; --keep keeps the clones)
#
# The clones go to REPRO_DIR (default: a folder tmp-repro beside this work tree), as
# REPRO_DIR/one/KvRxCoreService and REPRO_DIR/second-clone/src: different names and depths,
# so a build path that leaks into an artifact shows. A compiler cache that the environment
# configures (CMAKE_CXX_COMPILER_LAUNCHER=ccache) serves the first build; the second compiles
# everything for real (CCACHE_RECACHE), so a cached object cannot hide a compile that depends
# on its folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
commit=HEAD keep=no
for arg in "$@"; do
  case $arg in --keep) keep=yes ;; *) commit=$arg ;; esac
done
commit=$(git -C "$root" rev-parse --verify "$commit^{commit}")
repro=${REPRO_DIR:-$(dirname "$root")/tmp-repro}
clones=("$repro/one/KvRxCoreService" "$repro/second-clone/src")
rm -rf "$repro"
[ "$keep" = yes ] || trap 'rm -rf "$repro"' EXIT

for i in 0 1; do
  clone=${clones[$i]}
  mkdir -p "$(dirname "$clone")"
  git clone -q --no-checkout "$root" "$clone"
  git -C "$clone" -c advice.detachedHead=false checkout -q --detach "$commit"
  start=$SECONDS
  recache=()
  [ "$i" -eq 1 ] && recache=(CCACHE_RECACHE=1)
  if ! env "${recache[@]}" BUILD_DIR="$clone/build" nice -n 5 "$clone/scripts/package.sh" >"$repro/build-$i.log" 2>&1; then
    echo "reproduce.sh: the build in $clone failed (log: $repro/build-$i.log)" >&2
    tail -n 20 "$repro/build-$i.log" >&2
    exit 1
  fi
  echo "built $commit in $clone in $((SECONDS - start)) s"
done

status=0
printf '%-64s  %-64s  %s\n' "SHA-256 in ${clones[0]}" "SHA-256 in ${clones[1]}" artifact
for artifact in $(cd "${clones[0]}/build/package" && find . -type f | sed 's|^\./||' | LC_ALL=C sort); do
  a=$(sha256sum "${clones[0]}/build/package/$artifact" | cut -d' ' -f1)
  b=$(sha256sum "${clones[1]}/build/package/$artifact" 2>/dev/null | cut -d' ' -f1)
  mark=same
  [ "$a" = "$b" ] || { mark=DIFFERENT; status=1; }
  printf '%-64s  %-64s  %s %s\n' "$a" "${b:-(missing)}" "$artifact" "$mark"
done
if [ "$status" -eq 0 ]; then echo "reproducible: every artifact is byte-identical"; else echo "NOT reproducible"; fi
exit $status
