#!/usr/bin/env bash
# Times `bench` with two engines in alternating pairs and prints each
# engine's median and the median of the per-pair ratios (new / base).
#
#   bash bench/compare.sh <base-engine> <new-engine> [pairs] [bench arguments...]
#
# Pairs default to 5.  Each run starts from an empty scratch folder (so no
# orvane.bin book answers a position), and the two engines must print the
# same signature: a speed change never changes the tree.  Alternating the
# runs, and taking the ratio within each pair, cancels most of the drift of
# a shared machine; the median discards the worst pairs.  Wall time is the
# measure (it includes start-up and page faults); processor time is shown
# beside it.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 <base-engine> <new-engine> [pairs] [bench arguments...]" >&2
  exit 2
fi
base=$(realpath "$1")
new=$(realpath "$2")
pairs=${3:-5}
shift $(( $# < 3 ? $# : 3 ))
for engine in "$base" "$new"; do
  [ -x "$engine" ] || { echo "not an executable: $engine" >&2; exit 2; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Runs one bench; prints "<wall seconds> <cpu seconds> <signature>".
run_bench() {
  local engine=$1 out start end
  shift
  start=$(date +%s%N)
  out=$( (cd "$scratch" && /usr/bin/time -f 'cpu %U %S' "$engine" bench "$@") 2>&1 )
  end=$(date +%s%N)
  local signature cpu
  signature=$(printf '%s\n' "$out" | sed -n 's/^Nodes searched: //p' | tail -1)
  cpu=$(printf '%s\n' "$out" | awk '/^cpu /{print $2 + $3}' | tail -1)
  [ -n "$signature" ] || { echo "no signature from $engine" >&2; exit 1; }
  echo "$(( (end - start) / 1000000 )) $cpu $signature"
}

median() { sort -g | awk '{v[NR] = $1} END {if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

base_wall=() new_wall=() base_cpu=() new_cpu=() ratios=()
for ((i = 1; i <= pairs; i++)); do
  read -r bw bc bs < <(run_bench "$base" "$@")
  read -r nw nc ns < <(run_bench "$new" "$@")
  if [ "$bs" != "$ns" ]; then
    echo "signatures differ: base $bs, new $ns" >&2
    exit 1
  fi
  ratio=$(awk -v n="$nw" -v b="$bw" 'BEGIN {printf "%.3f", n / b}')
  printf 'pair %d: base %6.2f s (cpu %6.2f)  new %6.2f s (cpu %6.2f)  ratio %s\n' \
    "$i" "$(awk -v v="$bw" 'BEGIN {print v / 1000}')" "$bc" "$(awk -v v="$nw" 'BEGIN {print v / 1000}')" "$nc" "$ratio"
  base_wall+=("$bw") new_wall+=("$nw") base_cpu+=("$bc") new_cpu+=("$nc") ratios+=("$ratio")
done

bm=$(printf '%s\n' "${base_wall[@]}" | median)
nm=$(printf '%s\n' "${new_wall[@]}" | median)
echo "signature: $bs"
printf 'median wall: base %.2f s, new %.2f s\n' "$(awk -v v="$bm" 'BEGIN {print v / 1000}')" "$(awk -v v="$nm" 'BEGIN {print v / 1000}')"
printf 'median cpu:  base %.2f s, new %.2f s\n' "$(printf '%s\n' "${base_cpu[@]}" | median)" "$(printf '%s\n' "${new_cpu[@]}" | median)"
echo "median ratio (new/base): $(printf '%s\n' "${ratios[@]}" | median)"
