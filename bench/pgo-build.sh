#!/usr/bin/env bash
# Profile-guided build of the engine in one command: builds an instrumented
# engine, runs the benchmark with it to record where the time goes, then
# rebuilds the same directory with that profile.
#
#   bash bench/pgo-build.sh [build-dir [extra cmake options ...]]
#
# The build directory defaults to build-pgo; extra options (for example
# -DORVANE_NATIVE=ON) apply to both passes.  The engine ends up in
# <build-dir>/orvane, and `cmake --install <build-dir>` installs it, or
# `cmake --build <build-dir> --target package` packs it.  The training run
# searches the 50 benchmark positions to depth 10 in a scratch folder (so no
# opening book answers them); the profile needs the branches and calls of
# the search, not the deep iterations.  ORVANE_PGO_BENCH gives other bench
# arguments ("1 8" is enough, and quicker under an emulator).
#
# A cross-build (a toolchain file among the options) records its profile
# the same way, with the instrumented engine run under the build's emulator
# (qemu-user, Wine) through <build-dir>/orvane-run; the profile files land
# in <build-dir>/pgo-profile either way.
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
training="${ORVANE_PGO_BENCH:-1 10}"
echo "Recording the profile (bench $training) ..."
runner="$(cd "$dir" && pwd)/orvane-run"
scratch=$(mktemp -d)
# shellcheck disable=SC2086 # the bench arguments are separate words
started=$SECONDS
(cd "$scratch" && "$runner" bench $training >/dev/null)
rm -rf "$scratch"
echo "Profile recorded in $((SECONDS - started)) s"
if ! compgen -G "$profile/*.gcda" >/dev/null; then
  echo "The training run left no profile in $profile" >&2
  exit 1
fi
cmake -S . -B "$dir" -DORVANE_PGO=use
cmake --build "$dir" -j"$jobs" --target orvane
