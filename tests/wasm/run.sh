#!/usr/bin/env bash
# Builds the WebAssembly engines with Debian's Emscripten and checks them
# under Node against the native build given as the first argument (default
# build/orvane):
#   - the build command of the README (emcmake, then cmake --build);
#   - every function that can be on the stack when the single-threaded
#     engine hands control to its host is in src/wasm/asyncify-functions.txt
#     (checked on the call graph of the engine built without optimisation);
#   - both engines through orvane-node (threaded, and --single): bench
#     prints the native signature, the perft suites count exactly, one UCI
#     session plays from a book, probes the tablebases, saves and reloads a
#     hash file and writes a log, and hash files cross between the builds
#     unchanged (tests/cross/check_engine.py); "stop" is answered within
#     50 ms during a search and a perft, a Hash too large for 32-bit memory
#     leaves a working table, Threads goes up to the host's processor
#     count, bad input gets one line (check_node.py);
#   - the JavaScript API of both factories keeps the promises of
#     orvane.d.ts: writeFile, terminate(), fallback, failures (api_check.mjs);
#   - games of each engine against the native build at 10+0.1 (the shared
#     match script, Debian's stockfish as referee) with no time loss,
#     illegal move, crash or stall;
#   - the npm tarball installed into an empty folder: import('orvane')
#     starts both engines and they search, and its orvane-node answers;
#   - game review: the module's numbers (review.test.mjs) and the installed
#     orvane-review on 20 games (check_review.py);
#   - measured, not checked: bench nodes/second and processor time of the
#     native build and of both engines in turn (ORVANE_WASM_BENCH_ROUNDS
#     rounds, default 1);
#     checked: each engine's download (wasm and JavaScript, gzipped) stays
#     under 1 MB.
# Build folder: build-wasm, or ORVANE_WASM_BUILD.
set -euo pipefail

cd "$(dirname "$0")/../.."
native="$(realpath "${1:-build/orvane}")"
dir="${ORVANE_WASM_BUILD:-build-wasm}"
rounds="${ORVANE_WASM_BENCH_ROUNDS:-1}"
shared="$(realpath ../shared)"

echo "== WebAssembly build (Emscripten $(emcc --version | sed -n 1p | grep -o '[0-9][0-9.]*' | head -1), Node $(node --version))"
emcmake cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" -j2
for file in orvane-threads.js orvane-threads.wasm orvane-threads.worker.js orvane-single.js orvane-single.wasm \
            orvane.mjs node.mjs orvane-worker.js orvane-host.js orvane.d.ts orvane-node orvane-review; do
  [ -s "$dir/$file" ] || { echo "the build did not write $dir/$file" >&2; exit 1; }
done

node_engine="$(realpath "$dir/orvane-node")"

echo "== The Asyncify list against the call graph of the unoptimised engine"
cmake --build "$dir" -j2 --target orvane_single_unoptimised
wasm-opt "$dir/orvane-single-unoptimised.wasm" --print-call-graph -o /dev/null > "$dir/call-graph.dot"
python3 tests/wasm/check_node.py --asyncify-graph "$dir/call-graph.dot"

echo "== Both engines under Node against the native build"
python3 tests/cross/check_engine.py --engine "$node_engine" --native "$native" --perft-budget 1000000
python3 tests/cross/check_engine.py --engine "$node_engine --single" --native "$native" --perft-budget 1000000
python3 tests/wasm/check_node.py --node-engine "$node_engine"
timeout 300 node tests/wasm/api_check.mjs "$dir"
# The endings of a search that ended by itself, and no output lost to a
# non-blocking pipe read late (the checks every engine gets).
python3 tests/cross/check_input.py --engine "$node_engine" --output
python3 tests/cross/check_input.py --engine "$node_engine --single" --output

echo "== Games against the native build at 10+0.1"
for flavour in "" "--single"; do
  summary=$(python3 "$shared/tools/match.py" --engine1 "$node_engine $flavour" --engine2 "$native" \
    --name1 "orvane-node$flavour" --name2 native --games 2 --tc 10+0.1 --maxmoves 40 --concurrency 2 \
    --openings tests/data/openings.epd --seed "$RANDOM" 2>&1) || { echo "$summary" >&2; exit 1; }
  echo "$summary" | tail -n 12
  grep -q " 2 of 2 games" <<<"$summary" || { echo "the games did not all finish" >&2; exit 1; }
  faults=$(awk '/^Faults/ {on = 1; next} on && NF >= 3 {print $(NF - 1) + $NF}' <<<"$summary" | sort -u)
  [ "$faults" = "0" ] || { echo "faults in the games of orvane-node$flavour" >&2; exit 1; }
done

echo "== The npm package, installed into an empty folder"
rm -f "$dir"/orvane-*.tgz
cmake --build "$dir" --target npm-package
tarball=$(ls "$dir"/orvane-*.tgz)
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
(cd "$folder" && npm install --no-audit --no-fund --no-update-notifier "$(realpath "$OLDPWD/$tarball")" >/dev/null)
cp tests/wasm/npm_check.mjs "$folder/"
(cd "$folder" && node npm_check.mjs)
answer=$(printf 'uci\nposition startpos\ngo depth 5\n' | "$folder/node_modules/.bin/orvane-node" --single | grep -c '^uciok$\|^bestmove ')
[ "$answer" = "2" ] || { echo "the installed orvane-node did not answer uci and go" >&2; exit 1; }
echo "installed $(basename "$tarball"): import('orvane') and orvane-node answer"

echo "== Game review: the module's numbers, and the installed orvane-review on 20 games"
node --test tests/wasm/review.test.mjs
python3 tests/wasm/check_review.py --folder "$folder" --native "$native"

echo "== Measured"
gz() { cat "$@" | gzip -9 | wc -c; }
factory=("$dir/orvane.mjs" "$dir/orvane-worker.js" "$dir/orvane-host.js")
threads_size=$(gz "$dir"/orvane-threads.{wasm,js,worker.js} "${factory[@]}")
single_size=$(gz "$dir"/orvane-single.{wasm,js} "${factory[@]}")
echo "download, gzipped: threaded engine $threads_size bytes (wasm $(gz "$dir/orvane-threads.wasm")), single-threaded $single_size bytes (wasm $(gz "$dir/orvane-single.wasm"))"
for size in "$threads_size" "$single_size"; do
  [ "$size" -lt 1048576 ] || { echo "a download of $size bytes is over 1 MB" >&2; exit 1; }
done
# Nodes/second of one bench (run in an empty folder) and the processor
# seconds it took: on a busy machine the second tells the speed better.
speed() {
  python3 -c 'import resource, subprocess, sys, tempfile
out = subprocess.run(sys.argv[1:] + ["bench"], capture_output=True, text=True, cwd=tempfile.mkdtemp())
nps = [l.split()[1] for l in (out.stdout + out.stderr).splitlines() if l.startswith("Nodes/second:")]
print(nps[0] if nps else 0, "%.2f" % resource.getrusage(resource.RUSAGE_CHILDREN).ru_utime)' "$@"
}
for round in $(seq "$rounds"); do
  read -r n n_cpu < <(speed "$native")
  read -r t t_cpu < <(speed "$node_engine")
  read -r s s_cpu < <(speed "$node_engine" --single)
  echo "bench, round $round: native $n nodes/s (${n_cpu} s processor time); threaded engine in Node $t nodes/s" \
       "(${t_cpu} s), single-threaded $s nodes/s (${s_cpu} s); by processor time the engines run at" \
       "$(python3 -c "print('%.0f%% and %.0f%%' % (100 * $n_cpu / $t_cpu, 100 * $n_cpu / $s_cpu))") of native speed"
done
echo "WebAssembly checks passed"
