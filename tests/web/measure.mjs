// Measures the engines in headless Chromium against the native build, for the
// README: the time from page load to readyok (median of fresh loads), and the
// nodes per second of "bench" in the threaded engine (page isolated) and the
// single-threaded one (not isolated), each run alternating with the native
// bench on the same machine. Not part of the tests (it takes minutes):
//
//   node tests/web/measure.mjs [--native build/orvane] [--rounds 2] [--loads 5]
//
// Run it where no orvane.bin lies in the working directory (the native bench
// would play from it).

import { spawnSync } from 'node:child_process';
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

function nativeBench() {
  const run = spawnSync(native, ['bench'], { encoding: 'utf8' });
  const text = `${run.stdout}${run.stderr}`;
  const nodes = text.match(/Nodes searched: (\d+)/);
  const nps = text.match(/Nodes\/second: (\d+)/);
  if (!nodes || !nps) throw new Error(`native bench gave no totals:\n${text}`);
  return { nodes: Number(nodes[1]), nps: Number(nps[1]) };
}

// Runs "bench" through window.Orvane in the page; its totals.
async function pageBench(page) {
  return page.evaluate(async () => {
    const engine = await window.Orvane({ threads: 1 });
    const lines = [];
    const done = new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`bench unfinished: ${lines.slice(-5).join(' | ')}`)), 300000);
      engine.onLine = (line) => {
        lines.push(line);
        if (line.startsWith('Nodes/second')) {
          clearTimeout(timer);
          resolve();
        }
      };
    });
    engine.send('bench');
    await done;
    engine.terminate();
    const text = lines.join('\n');
    return { nodes: Number(text.match(/Nodes searched: (\d+)/)[1]), nps: Number(text.match(/Nodes\/second: (\d+)/)[1]) };
  });
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
      for (let i = 0; i < rounds; i++) {
        nativeRuns.push(nativeBench());
        pageRuns.push(await pageBench(page));
        console.log(`${mode} round ${i + 1}: native ${nativeRuns.at(-1).nps} n/s, Chromium ${pageRuns.at(-1).nps} n/s (${pageRuns.at(-1).nodes} nodes)`);
      }
      await page.close();
      const nativeNps = median(nativeRuns.map((run) => run.nps));
      const pageNps = median(pageRuns.map((run) => run.nps));
      report.push(`${mode}: readyok ${median(readyTimes)} ms after page load (median of ${loads}: ${readyTimes.join(', ')}); `
        + `bench ${pageNps} n/s against native ${nativeNps} n/s = ${(100 * pageNps / nativeNps).toFixed(0)}%; `
        + `signature ${pageRuns.map((run) => run.nodes).join(', ')}`);
    } finally {
      await server.close();
    }
  }
} finally {
  await chromium.close();
}
console.log(report.join('\n'));
