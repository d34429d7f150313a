#!/usr/bin/env bash
# Builds the fuzz targets (clang's libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer) in their own build folder and runs each on its
# seed corpus for the given number of seconds, one after another.  Prints
# per target the executions, executions per second, coverage (edges) and the
# result; inputs that crashed, hung, leaked or tripped a sanitizer are kept
# in <build>/fuzz-findings.  Exit status 1 when any target found something.
#
#   bash tests/fuzz/run.sh [seconds-per-target] [target ...]
#
# Targets: fen book uci hashfile syzygy (all by default).  ORVANE_FUZZ_BUILD
# names the build folder (default build-fuzz).
set -uo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:-60}
shift $(( $# > 0 ? 1 : 0 ))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fen book uci hashfile syzygy)
build=${ORVANE_FUZZ_BUILD:-build-fuzz}

# Longest input per target: a FEN line, a small book (128 entries, more
# than any position has in a real book), a UCI session with room for a line
# longer than the input thread keeps (4096 bytes), 64 hash file
# patches, the largest kept table file but one (KPvKP's DTZ file, pawns on
# both sides; its WDL file is four times larger).
max_len() {
  case $1 in
    fen) echo 256 ;; book) echo 2048 ;; uci) echo 6144 ;; hashfile) echo 768 ;; syzygy) echo 65536 ;;
    *) echo "unknown fuzz target $1" >&2; exit 2 ;;
  esac
}

# The targets that search or probe see many features per input: the plain
# schedule keeps libFuzzer's own bookkeeping from eating their time.
schedule() {
  case $1 in uci | hashfile | syzygy) echo -entropic=0 ;; *) echo -entropic=1 ;; esac
}

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVANE_LTO=OFF -DORVANE_TESTS=OFF -DORVANE_FUZZ=ON >/dev/null || exit 1
cmake --build "$build" -j"$(nproc)" --target fuzz_targets >/dev/null || {
  echo "building the fuzz targets failed" >&2
  exit 1
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$build/fuzz-findings" "$build/fuzz-logs"
failed=0
printf '%-9s %12s %10s %8s  %s\n' target executions exec/s edges result
for t in "${targets[@]}"; do
  seeds=tests/fuzz/corpus/$t
  if [ -z "$(ls -A "$seeds" 2>/dev/null)" ]; then
    printf '%-9s %12s %10s %8s  %s\n' "$t" - - - "FAILED: no seed corpus in $seeds"
    failed=1
    continue
  fi
  work=$build/fuzz-corpus/$t
  log=$build/fuzz-logs/$t.log
  mkdir -p "$work"
  "$build/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 -max_len="$(max_len "$t")" \
    "$(schedule "$t")" -detect_leaks=1 -print_final_stats=1 -artifact_prefix="$build/fuzz-findings/$t-" \
    "$work" "$seeds" >"$log" 2>&1
  status=$?
  runs=$(grep -m1 'stat::number_of_executed_units:' "$log" | awk '{print $2}')
  rate=$(grep -m1 'stat::average_exec_per_sec:' "$log" | awk '{print $2}')
  edges=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | awk '{print $2}')
  if [ $status -eq 0 ]; then
    result=ok
  else
    failed=1
    result="FAILED (status $status): $(grep -m1 -E 'ERROR:|FUZZ FINDING|runtime error|Test unit written' "$log" || echo "see $log")"
  fi
  printf '%-9s %12s %10s %8s  %s\n' "$t" "${runs:--}" "${rate:--}" "${edges:--}" "$result"
done
exit $failed
