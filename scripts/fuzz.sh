#!/usr/bin/env bash
# Fuzzes the platform-free cores: builds the libFuzzer targets of tests/fuzz natively with
# clang, AddressSanitizer and UndefinedBehaviorSanitizer, runs each target in turn for
# SECONDS (default 60) and prints its executions, speed, coverage and findings.
#
#   scripts/fuzz.sh [--check] [SECONDS] [TARGET...]
#
# TARGET names a target without its fuzz_ prefix (xml_text, scrambling, ...); all by
# default. Each target starts from its checked-in seeds (tests/fuzz/corpus/TARGET) and
# the corpus it grew before (BUILD/fuzz/corpus/TARGET), which new inputs join. Findings
# (crash-*, timeout-*, oom-*, leak-*) go to BUILD/fuzz/findings/TARGET. FUZZ_RUNS=N stops
# each target after N executions if that comes first. --check starts every target from
# its seeds alone (nothing is kept): the brief run of scripts/test.sh.
# Exits 1 when any target has a finding.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
check=0
if [ "${1:-}" = "--check" ]; then check=1; shift; fi
seconds=${1:-60}
[ $# -gt 0 ] && shift
"$root/scripts/install-deps.sh"

CC=clang CXX=clang++ cmake -S "$root/tests/fuzz" -B "$build/fuzz" -G Ninja >/dev/null
cmake --build "$build/fuzz"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for exe in "$build"/fuzz/fuzz_*; do
    [ -x "$exe" ] && [ -f "$exe" ] && targets+=("${exe##*/fuzz_}")
  done
fi

runs=()
[ -n "${FUZZ_RUNS:-}" ] && runs=(-runs="$FUZZ_RUNS")
summary=()
failed=0
for t in "${targets[@]}"; do
  seeds=$root/tests/fuzz/corpus/$t
  if [ $check -eq 1 ]; then corpus=$build/fuzz/check/$t; rm -rf "$corpus"; else corpus=$build/fuzz/corpus/$t; fi
  findings=$build/fuzz/findings/$t
  log=$build/fuzz/logs/$t.log
  mkdir -p "$corpus" "$seeds" "$findings" "${log%/*}"
  before=$(find "$findings" -type f | wc -l)
  status=0
  "$build/fuzz/fuzz_$t" "$corpus" "$seeds" -max_total_time="$seconds" "${runs[@]}" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" >"$log" 2>&1 || status=$?
  found=$(( $(find "$findings" -type f | wc -l) - before ))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 || true)
  line=$(printf '%-18s %12s execs %8s/s  %-22s findings %s' "$t" "${execs:-?}" "${speed:-?}" "${cov:-cov: ?}" "$found")
  if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
    failed=1
    line+="  (exit $status, see $log)"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|Property broken|artifact_prefix|Test unit written)' "$log" | head -5 >&2 || true
  fi
  echo "$line"
  summary+=("$line")
done
if [ $check -eq 0 ] && [ ${#targets[@]} -gt 1 ]; then
  echo "--- fuzzing summary (${seconds}s per target) ---"
  printf '%s\n' "${summary[@]}"
fi
exit $failed
