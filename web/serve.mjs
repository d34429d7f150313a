#!/usr/bin/env node
// Static server for Orvane's analysis page.
//
//   node web/serve.mjs [--port N] [--host H] [--no-isolation] [--engine-dir DIR]
//
// Serves the page (this folder), the two libraries it uses from
// web/node_modules under /vendor/, and the WebAssembly build (build-wasm/ by
// default) under /engine/. Unless --no-isolation is given every answer carries
// the cross-origin isolation headers (COOP same-origin, COEP require-corp), so
// the page may use SharedArrayBuffer and the threaded engine; without them the
// page falls back to the single-threaded engine. --port 0 takes a free port.
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
};

// The only packages of web/node_modules the page may load.
const vendorPackages = new Set(['chess.js', 'cm-chessboard']);

// Files of web/ itself that are the page; nothing else there is served.
const pageFiles = new Set(['index.html', 'app.js', 'uci.js', 'style.css']);

function usage(message) {
  process.stderr.write(`${message}\nusage: node web/serve.mjs [--port N] [--host H] [--no-isolation] [--engine-dir DIR]\n`);
  process.exit(2);
}

// Reads the command line into {port, host, isolation, engineDir}.
function parseArguments(argv) {
  const options = { port: 8080, host: '127.0.0.1', isolation: true, engineDir: path.join(repoDir, 'build-wasm') };
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

// Maps a URL path to a file on disk, or null when nothing may be served for it.
// Every answer comes from below one of three roots; ".." and hidden names never
// resolve, so no request reaches the rest of the machine.
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
  if (parts.length === 0) return path.join(webDir, 'index.html');
  if (parts[0] === 'engine' && parts.length > 1) return path.join(engineDir, ...parts.slice(1));
  if (parts[0] === 'vendor' && parts.length > 2 && vendorPackages.has(parts[1])) {
    return path.join(webDir, 'node_modules', ...parts.slice(1));
  }
  if (parts.length === 1 && pageFiles.has(parts[0])) return path.join(webDir, parts[0]);
  return null;
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

// Answers one request: GET or HEAD of a file found by resolveRequest.
function handle(request, response, options) {
  if (request.method !== 'GET' && request.method !== 'HEAD') {
    sendText(response, 405, 'method not allowed', options.isolation);
    return;
  }
  const urlPath = (request.url || '/').split('?')[0].split('#')[0];
  const file = resolveRequest(urlPath, options.engineDir);
  if (file === null) {
    sendText(response, 404, 'not found', options.isolation);
    return;
  }
  fs.stat(file, (error, stats) => {
    if (error || !stats.isFile()) {
      const hint = urlPath.startsWith('/engine/')
        ? ` (the WebAssembly build is looked for in ${options.engineDir})`
        : '';
      sendText(response, 404, `not found${hint}`, options.isolation);
      return;
    }
    const type = contentTypes[path.extname(file).toLowerCase()] || 'application/octet-stream';
    response.writeHead(200, { ...baseHeaders(options.isolation), 'Content-Type': type, 'Content-Length': stats.size });
    if (request.method === 'HEAD') {
      response.end();
      return;
    }
    const stream = fs.createReadStream(file);
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

if (process.argv[1] && path.resolve(process.argv[1]) === fileURLToPath(import.meta.url)) main();
