#!/usr/bin/env bash
# Profile-guided build of the engine in one command: builds an instrumented
# engine, runs the benchmark with it to record where the time goes, then
# rebuilds the same directory with that profile.
#
#   bash bench/pgo-build.sh [build-dir [extra cmake options ...]]
#
# The build directory defaults to build-pgo; extra options (for example
# -DORVANE_NATIVE=ON) apply to both passes.  The engine ends up in
# <build-dir>/orvane, and `cmake --install <build-dir>` installs it.  The
# training run searches the 50 benchmark positions to depth 10 in a scratch
# folder (so no opening book answers them); the profile needs the branches
# and calls of the search, not the deep iterations.
set -euo pipefail

cd "$(dirname "$0")/.."
dir="${1:-build-pgo}"
[ $# -gt 0 ] && shift
mkdir -p "$dir"
profile="$(cd "$dir" && pwd)/pgo-profile"
jobs="$(nproc 2>/dev/null || echo 2)"

rm -rf "$profile"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DORVANE_TESTS=OFF \
  -DORVANE_PGO=generate -DORVANE_PGO_DIR="$profile" "$@"
cmake --build "$dir" -j"$jobs" --target orvane
echo "Recording the profile (bench 1 10) ..."
engine="$(cd "$dir" && pwd)/orvane"
scratch=$(mktemp -d)
(cd "$scratch" && "$engine" bench 1 10 >/dev/null)
rm -rf "$scratch"
cmake -S . -B "$dir" -DORVANE_PGO=use
cmake --build "$dir" -j"$jobs" --target orvane
