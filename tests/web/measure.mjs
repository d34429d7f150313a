// Measures the engines in headless Chromium against the native build, for the
// README: the time from page load to readyok (median of fresh loads), and the
// nodes per second of the threaded engine (page isolated) and of the
// single-threaded one (not isolated) on one thread, each run alternating with
// the native build on the same machine. The browser's engine takes no
// command-line words, so the work is the same UCI session on both sides: the
// first benchmark positions searched to a fixed depth from an empty table,
// one after the other (the node totals must agree, or the engines differ).
// Not part of the tests (it takes minutes):
//
//   node tests/web/measure.mjs [--native build/orvane] [--rounds 2] [--loads 5]
//                              [--positions 12] [--depth 12]

import { spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { repoDir, startServer, startChromium, openPage } from './harness.mjs';

const args = process.argv.slice(2);
const option = (name, fallback) => {
  const at = args.indexOf(name);
  return at >= 0 ? args[at + 1] : fallback;
};
const native = path.resolve(option('--native', path.join(repoDir, 'build', 'orvane')));
const rounds = Number(option('--rounds', 2));
const loads = Number(option('--loads', 5));
const depth = Number(option('--depth', 12));
const positions = fs.readFileSync(path.join(repoDir, 'src', 'engine', 'benchpositions.cpp'), 'utf8')
  .match(/"[^"]+\/[^"]+"/g).map((text) => text.slice(1, -1)).slice(0, Number(option('--positions', 12)));

// The session both engines get; its results are read from the last "info"
// line before each bestmove (time and nodes of the whole search).
function sessionLines() {
  const lines = ['uci', 'setoption name Hash value 64', 'setoption name Threads value 1', 'setoption name OwnBook value false'];
  for (const fen of positions) {
    lines.push('ucinewgame', 'setoption name Clear Hash', `position fen ${fen}`, `go depth ${depth}`);
  }
  return lines;
}

// Feeds the session to something that takes lines and calls back with output
// lines; resolves to {nodes, ms} summed over the searches.
function runSession(sendLine, setListener) {
  return new Promise((resolve, reject) => {
    const pending = sessionLines();
    let nodes = 0;
    let ms = 0;
    let last = null;
    let searches = 0;
    const timer = setTimeout(() => reject(new Error('session unfinished after 10 minutes')), 600000);
    const next = () => {
      // Lines up to and including the next go.
      while (pending.length) {
        const line = pending.shift();
        sendLine(line);
        if (line.startsWith('go ')) return;
      }
      clearTimeout(timer);
      resolve({ nodes, ms });
    };
    setListener((line) => {
      if (line.startsWith('info') && / nodes \d+/.test(line) && / time \d+/.test(line)) last = line;
      if (line === 'uciok') return;
      if (line.startsWith('bestmove')) {
        if (!last) return reject(new Error('a search without info lines'));
        nodes += Number(last.match(/ nodes (\d+)/)[1]);
        ms += Number(last.match(/ time (\d+)/)[1]);
        last = null;
        searches++;
        next();
      }
    });
    next();
  });
}

function nativeSession() {
  const child = spawn(native, [], { stdio: ['pipe', 'pipe', 'ignore'] });
  let buffer = '';
  let listener = null;
  child.stdout.on('data', (chunk) => {
    buffer += chunk.toString();
    let at;
    while ((at = buffer.indexOf('\n')) >= 0) {
      const line = buffer.slice(0, at).trim();
      buffer = buffer.slice(at + 1);
      if (listener) listener(line);
    }
  });
  return runSession((line) => child.stdin.write(`${line}\n`), (fn) => { listener = fn; })
    .finally(() => child.stdin.end('quit\n'));
}

// The same session through window.Orvane in the page.
async function pageSession(page) {
  return page.evaluate(async ({ lines }) => {
    const engine = await window.Orvane({ threads: 1 });
    const outcome = await new Promise((resolve, reject) => {
      const pending = [...lines];
      let nodes = 0;
      let ms = 0;
      let last = null;
      const next = () => {
        while (pending.length) {
          const line = pending.shift();
          engine.send(line);
          if (line.startsWith('go ')) return;
        }
        resolve({ nodes, ms });
      };
      const timer = setTimeout(() => reject(new Error('session unfinished')), 600000);
      engine.onLine = (line) => {
        if (line.startsWith('info') && / nodes \d+/.test(line) && / time \d+/.test(line)) last = line;
        if (line.startsWith('bestmove')) {
          nodes += Number(last.match(/ nodes (\d+)/)[1]);
          ms += Number(last.match(/ time (\d+)/)[1]);
          last = null;
          if (!pending.length) clearTimeout(timer);
          next();
        }
      };
      next();
    });
    engine.terminate();
    return outcome;
  }, { lines: sessionLines() });
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

const chromium = await startChromium();
const report = [];
try {
  for (const isolation of [true, false]) {
    const mode = isolation ? 'threaded engine (page isolated)' : 'single-threaded engine (not isolated)';
    const server = await startServer({ isolation });
    try {
      const readyTimes = [];
      for (let i = 0; i < loads; i++) {
        const problems = [];
        const page = await openPage(chromium.browser, problems);
        await page.goto(server.url);
        await page.waitForFunction(() => document.body.dataset.engineReady === 'true', null, { timeout: 60000 });
        readyTimes.push(await page.evaluate(() => window.orvaneReadyMs));
        await page.close();
      }
      const page = await openPage(chromium.browser, []);
      await page.goto(server.url);
      await page.waitForFunction(() => document.body.dataset.engineReady === 'true', null, { timeout: 60000 });
      const nativeRuns = [];
      const pageRuns = [];
      const nps = (run) => Math.round((1000 * run.nodes) / Math.max(1, run.ms));
      for (let i = 0; i < rounds; i++) {
        nativeRuns.push(await nativeSession());
        pageRuns.push(await pageSession(page));
        console.log(`${mode} round ${i + 1}: native ${nps(nativeRuns.at(-1))} n/s (${nativeRuns.at(-1).nodes} nodes), `
          + `Chromium ${nps(pageRuns.at(-1))} n/s (${pageRuns.at(-1).nodes} nodes)`);
      }
      await page.close();
      const nativeNps = median(nativeRuns.map(nps));
      const pageNps = median(pageRuns.map(nps));
      report.push(`${mode}: readyok ${median(readyTimes)} ms after page load (median of ${loads}: ${readyTimes.join(', ')}); `
        + `${positions.length} positions to depth ${depth}: ${pageNps} n/s against native ${nativeNps} n/s = `
        + `${(100 * pageNps / nativeNps).toFixed(0)}%; nodes ${pageRuns.map((run) => run.nodes).join(', ')} `
        + `(native ${nativeRuns.map((run) => run.nodes).join(', ')})`);
    } finally {
      await server.close();
    }
  }
} finally {
  await chromium.close();
}
console.log(report.join('\n'));
