#!/usr/bin/env node
// Static server for Orvane's analysis page.
//
//   node web/serve.mjs [--port N] [--host H] [--no-isolation] [--engine-dir DIR]
//
// Serves the page (its files in this folder), the files it loads from the two
// libraries in web/node_modules under /vendor/, and the engine's runtime files
// from the WebAssembly build (build-wasm/ by default) under /engine/; every
// other path is 404, and no symbolic link leads out of those folders. Only
// requests naming this server as 127.0.0.1, localhost, [::1] or the --host
// given, with its port, are answered (another name means DNS rebinding).
// Unless --no-isolation is given every answer carries the cross-origin
// isolation headers (COOP same-origin, COEP require-corp), so the page may
// use SharedArrayBuffer and the threaded engine; without them the page falls
// back to the single-threaded engine. --port 0 takes a free port.
// The first line printed is "Serving http://HOST:PORT/ (...)".

import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const webDir = path.dirname(fileURLToPath(import.meta.url));
const repoDir = path.dirname(webDir);

const contentTypes = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
  '.json': 'application/json',
  '.map': 'application/json',
  '.wasm': 'application/wasm',
  '.data': 'application/octet-stream',
  '.bin': 'application/octet-stream',
  '.ts': 'text/plain; charset=utf-8',
  '.tsv': 'text/tab-separated-values; charset=utf-8',
};

// What the page loads from web/node_modules, by package: the folders below
// it and the extensions served from each. Nothing else there is reachable.
const vendorFiles = {
  'chess.js': [{ folder: 'dist/esm', extensions: ['.js'] }],
  'cm-chessboard': [{ folder: 'src', extensions: ['.js'] }, { folder: 'assets', extensions: ['.css', '.svg'] }],
  uplot: [{ folder: 'dist', extensions: ['.esm.js', '.min.css'] }],
};

// Files of web/ itself that are the page; nothing else there is served.
const pageFiles = new Set(['index.html', 'app.js', 'uci.js', 'san.js', 'san-worker.js', 'style.css',
  'review-view.js', 'openings.js', 'openings.tsv']);

// The engine's runtime files: the factory, the worker, the host glue and the
// two builds' scripts and binaries, and the game review the page shares with
// orvane-review, all at the top of the build folder. The rest of a build
// folder (CMakeCache.txt, object files, test data) is not.
const engineFile = /^(orvane[a-z0-9.-]*\.(m?js|wasm)|review(-pgn)?\.mjs)$/;

function usage(message) {
  process.stderr.write(`${message}\nusage: node web/serve.mjs [--port N] [--host H] [--no-isolation] [--engine-dir DIR]\n`);
  process.exit(2);
}

// Reads the command line into {port, host, isolation, engineDir, hosts}; the
// Host names answered are known once the port is.
function parseArguments(argv) {
  const options = { port: 8080, host: '127.0.0.1', isolation: true, engineDir: path.join(repoDir, 'build-wasm'), hosts: new Set() };
  for (let i = 0; i < argv.length; i++) {
    const arg = argv[i];
    const value = () => {
      if (i + 1 >= argv.length) usage(`${arg} needs a value`);
      return argv[++i];
    };
    if (arg === '--port') {
      const text = value();
      const port = Number(text);
      if (!/^\d+$/.test(text) || port > 65535) usage(`bad port: ${text}`);
      options.port = port;
    } else if (arg === '--host') {
      options.host = value();
    } else if (arg === '--no-isolation') {
      options.isolation = false;
    } else if (arg === '--engine-dir') {
      options.engineDir = path.resolve(value());
    } else if (arg === '--help' || arg === '-h') {
      usage('Serves the analysis page.');
    } else {
      usage(`unknown argument: ${arg}`);
    }
  }
  return options;
}

// Maps a URL path to {root, file}: the file on disk and the folder it must
// stay inside once symbolic links are followed, or null when nothing may be
// served for it. Only the allow-lists above resolve; ".." and hidden names
// never do.
export function resolveRequest(urlPath, engineDir) {
  let decoded;
  try {
    decoded = decodeURIComponent(urlPath);
  } catch {
    return null;
  }
  if (decoded.includes('\0') || decoded.includes('\\')) return null;
  const parts = decoded.split('/').filter((part) => part !== '');
  if (parts.some((part) => part === '..' || part === '.' || part.startsWith('.'))) return null;
  if (parts.length === 0) return { root: webDir, file: path.join(webDir, 'index.html') };
  if (parts[0] === 'engine') {
    if (parts.length !== 2 || !engineFile.test(parts[1])) return null;
    return { root: engineDir, file: path.join(engineDir, parts[1]) };
  }
  if (parts[0] === 'vendor' && parts.length > 2 && Object.hasOwn(vendorFiles, parts[1])) {
    const inside = parts.slice(2).join('/');
    const allowed = vendorFiles[parts[1]].some(({ folder, extensions }) =>
      inside.startsWith(`${folder}/`) && extensions.some((extension) => inside.endsWith(extension)));
    if (!allowed) return null;
    const root = path.join(webDir, 'node_modules', parts[1]);
    return { root, file: path.join(root, ...parts.slice(2)) };
  }
  if (parts.length === 1 && pageFiles.has(parts[0])) return { root: webDir, file: path.join(webDir, parts[0]) };
  return null;
}

// Calls back with the real path of `file` when it is a regular file whose
// real path lies inside the real path of `root`, else with null: a symbolic
// link may point within a served folder but never out of it.
function realFileInside(root, file, callback) {
  fs.realpath(root, (rootError, realRoot) => {
    if (rootError) return callback(null);
    fs.realpath(file, (fileError, realFile) => {
      if (fileError || !realFile.startsWith(realRoot + path.sep)) return callback(null);
      fs.stat(realFile, (statError, stats) => callback(statError || !stats.isFile() ? null : { realFile, stats }));
    });
  });
}

// The Host headers this server answers: the loopback names and the address
// it was told to listen on, with its port. Any other name reaching it comes
// through a DNS record it does not own (DNS rebinding) and is refused.
export function allowedHosts(host, port) {
  const names = ['127.0.0.1', 'localhost', '[::1]', host.includes(':') ? `[${host}]` : host];
  return new Set(names.map((name) => `${name.toLowerCase()}:${port}`));
}

// The headers sent with every answer.
function baseHeaders(isolation) {
  const headers = {
    'Cache-Control': 'no-cache',
    'X-Content-Type-Options': 'nosniff',
    'Cross-Origin-Resource-Policy': 'same-origin',
  };
  if (isolation) {
    headers['Cross-Origin-Opener-Policy'] = 'same-origin';
    headers['Cross-Origin-Embedder-Policy'] = 'require-corp';
  }
  return headers;
}

function sendText(response, status, text, isolation) {
  response.writeHead(status, { ...baseHeaders(isolation), 'Content-Type': 'text/plain; charset=utf-8' });
  response.end(`${text}\n`);
}

// Answers one request: GET or HEAD of an allowed file, from an allowed Host.
function handle(request, response, options) {
  if (!options.hosts.has(String(request.headers.host || '').toLowerCase())) {
    sendText(response, 421, 'unknown host: use the address this server printed', options.isolation);
    return;
  }
  if (request.method !== 'GET' && request.method !== 'HEAD') {
    sendText(response, 405, 'method not allowed', options.isolation);
    return;
  }
  const urlPath = (request.url || '/').split('?')[0].split('#')[0];
  const target = resolveRequest(urlPath, options.engineDir);
  if (target === null) {
    sendText(response, 404, 'not found', options.isolation);
    return;
  }
  realFileInside(target.root, target.file, (found) => {
    if (found === null) {
      const hint = urlPath.startsWith('/engine/')
        ? ` (the WebAssembly build is looked for in ${options.engineDir})`
        : '';
      sendText(response, 404, `not found${hint}`, options.isolation);
      return;
    }
    const type = contentTypes[path.extname(target.file).toLowerCase()] || 'application/octet-stream';
    response.writeHead(200, { ...baseHeaders(options.isolation), 'Content-Type': type, 'Content-Length': found.stats.size });
    if (request.method === 'HEAD') {
      response.end();
      return;
    }
    const stream = fs.createReadStream(found.realFile);
    stream.on('error', () => response.destroy());
    stream.pipe(response);
  });
}

function main() {
  const options = parseArguments(process.argv.slice(2));
  if (!fs.existsSync(path.join(webDir, 'node_modules', 'cm-chessboard'))) {
    process.stderr.write('web/node_modules is missing: run "npm ci" in web/ first\n');
  }
  const server = http.createServer((request, response) => handle(request, response, options));
  server.on('error', (error) => {
    process.stderr.write(`serve.mjs: ${error.message}\n`);
    process.exit(1);
  });
  server.listen(options.port, options.host, () => {
    const { port } = server.address();
    options.hosts = allowedHosts(options.host, port);
    const host = options.host.includes(':') ? `[${options.host}]` : options.host;
    const mode = options.isolation ? 'cross-origin isolated' : 'not isolated';
    process.stdout.write(`Serving http://${host}:${port}/ (${mode}; engine from ${options.engineDir})\n`);
  });
  const close = () => {
    server.close(() => process.exit(0));
    server.closeAllConnections();
  };
  process.on('SIGINT', close);
  process.on('SIGTERM', close);
}

// Run as a program, however its path is spelt (a symbolic link in the
// path, as in macOS's temporary folder, gives a different spelling).
function isMainModule() {
  if (!process.argv[1]) return false;
  try {
    return fs.realpathSync(process.argv[1]) === fs.realpathSync(fileURLToPath(import.meta.url));
  } catch {
    return false;
  }
}

if (isMainModule()) main();
