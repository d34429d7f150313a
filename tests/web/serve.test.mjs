// web/serve.mjs: the isolation headers are sent unless --no-isolation says
// not to; the page, its two libraries and the engine's files are served with
// the types a browser needs (application/wasm for streaming compilation);
// nothing outside those allow-lists can be reached, however the path is
// written or wherever a symbolic link points; a Host that is not the server's
// own is refused; the server starts through a path holding a symbolic link.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { repoDir, startServer } from './harness.mjs';

// One GET with the path sent exactly as written (fetch would tidy ".."), and
// with the Host given (none at all for null).
function get(url, rawPath, host) {
  return new Promise((resolve, reject) => {
    const { hostname, port } = new URL(url);
    const headers = host ? { host } : {};
    const request = http.request({ hostname, port, path: rawPath, method: 'GET', headers, setHost: host !== null }, (response) => {
      const chunks = [];
      response.on('data', (chunk) => chunks.push(chunk));
      response.on('end', () => resolve({ status: response.statusCode, headers: response.headers, body: Buffer.concat(chunks) }));
    });
    request.on('error', reject);
    request.end();
  });
}

test('serve.mjs: isolation headers, content types, nothing outside its folders', async () => {
  const engine = fs.mkdtempSync(path.join(os.tmpdir(), 'orvane-engine-'));
  const wasm = Buffer.from([0, 0x61, 0x73, 0x6d, 1, 0, 0, 0]);
  fs.writeFileSync(path.join(engine, 'orvane.wasm'), wasm);
  fs.writeFileSync(path.join(engine, 'orvane.mjs'), 'export default null;\n');
  for (const name of ['review.mjs', 'review-pgn.mjs', 'review.js', 'review-other.mjs']) fs.writeFileSync(path.join(engine, name), '// review\n');
  fs.writeFileSync(path.join(engine, 'CMakeCache.txt'), 'CMAKE_HOME_DIRECTORY:INTERNAL=/home/someone/orvane\n');
  fs.mkdirSync(path.join(engine, 'CMakeFiles'));
  fs.writeFileSync(path.join(engine, 'CMakeFiles', 'orvane.js'), 'build step\n');
  fs.symlinkSync('/etc/passwd', path.join(engine, 'orvane-out.js'));
  fs.symlinkSync(path.join(engine, 'orvane.wasm'), path.join(engine, 'orvane-alias.wasm'));
  try {
    for (const isolation of [true, false]) {
      const server = await startServer({ isolation, engine });
      try {
        const page = await get(server.url, '/');
        assert.equal(page.status, 200);
        assert.match(page.headers['content-type'], /^text\/html/);
        assert.match(page.body.toString(), /data-testid="pv"/);
        assert.equal(page.headers['cross-origin-opener-policy'], isolation ? 'same-origin' : undefined, 'COOP');
        assert.equal(page.headers['cross-origin-embedder-policy'], isolation ? 'require-corp' : undefined, 'COEP');

        const module = await get(server.url, '/engine/orvane.mjs');
        assert.equal(module.status, 200);
        assert.match(module.headers['content-type'], /^text\/javascript/);
        const binary = await get(server.url, '/engine/orvane.wasm');
        assert.equal(binary.headers['content-type'], 'application/wasm');
        assert.deepEqual(binary.body, wasm);
        assert.equal(binary.headers['cross-origin-embedder-policy'], isolation ? 'require-corp' : undefined);
        for (const file of ['/app.js', '/uci.js', '/style.css', '/vendor/chess.js/dist/esm/chess.js',
          '/vendor/cm-chessboard/src/Chessboard.js', '/vendor/cm-chessboard/assets/pieces/standard.svg',
          '/review-view.js', '/openings.js', '/openings.tsv', '/engine/review.mjs', '/engine/review-pgn.mjs',
          '/vendor/uplot/dist/uPlot.esm.js', '/vendor/uplot/dist/uPlot.min.css']) {
          assert.equal((await get(server.url, file)).status, 200, file);
        }

        const secret = fs.readFileSync(path.join(repoDir, 'CMakeLists.txt'));
        for (const probe of ['/serve.mjs', '/package.json', '/node_modules/chess.js/package.json',
          '/vendor/playwright-core/package.json', '/vendor/chess.js/../../../CMakeLists.txt',
          '/vendor/chess.js/%2e%2e/%2e%2e/%2e%2e/CMakeLists.txt', '/engine/..%2f..%2fCMakeLists.txt',
          '/engine/%2e%2e/CMakeLists.txt', '/..%5c..%5cCMakeLists.txt', '/engine/%00', '/%E0%A4%A',
          '/engine/CMakeCache.txt', '/engine/CMakeFiles/orvane.js', '/engine/orvane-out.js',
          '/vendor/chess.js/package.json', '/vendor/chess.js/src/chess.ts', '/vendor/cm-chessboard/README.md',
          '/vendor/cm-chessboard/assets/chessboard.scss', '/vendor/uplot/package.json', '/vendor/uplot/dist/uPlot.cjs.js',
          '/engine/review.js', '/engine/review-other.mjs']) {
          const answer = await get(server.url, probe);
          assert.equal(answer.status, 404, probe);
          assert.ok(!answer.body.equals(secret), probe);
          assert.doesNotMatch(answer.body.toString(), /home\/someone|root:/, probe);
        }
        // A link that stays inside the engine's folder is followed.
        assert.deepEqual((await get(server.url, '/engine/orvane-alias.wasm')).body, wasm);

        // DNS rebinding: a name the server does not own is refused (no Host
        // at all is refused by Node itself), its own names with its own port
        // are answered.
        const { port } = new URL(server.url);
        for (const host of ['evil.example', `evil.example:${port}`, `127.0.0.1:${Number(port) + 1}`]) {
          assert.equal((await get(server.url, '/', host)).status, 421, `Host "${host}"`);
        }
        assert.equal((await get(server.url, '/', null)).status, 400, 'no Host');
        for (const host of [`localhost:${port}`, `127.0.0.1:${port}`, `[::1]:${port}`, `LocalHost:${port}`]) {
          assert.equal((await get(server.url, '/', host)).status, 200, `Host "${host}"`);
        }
      } finally {
        await server.close();
      }
    }
  } finally {
    fs.rmSync(engine, { recursive: true, force: true });
  }
});

test('serve.mjs: starts when the path to it holds a symbolic link', async () => {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'orvane-link-'));
  const link = path.join(folder, 'web');
  fs.symlinkSync(path.join(repoDir, 'web'), link);
  try {
    const server = await startServer({ isolation: true, script: path.join(link, 'serve.mjs') });
    try {
      const page = await get(server.url, '/app.js');
      assert.equal(page.status, 200);
      assert.deepEqual(page.body, fs.readFileSync(path.join(repoDir, 'web', 'app.js')));
    } finally {
      await server.close();
    }
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
});
