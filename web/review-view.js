// The page's side of a game review: an engine of its own for the review, and
// the evaluation graph. The judging itself is /engine/review.mjs, the module
// orvane-review runs too: like it, the review engine starts fresh with one
// search thread and a 64 MB table, so for the same game and search limit the
// page and the command line give the same numbers.

import uPlot from '/vendor/uplot/dist/uPlot.esm.js';
import { uciAnalyser } from '/engine/review.mjs';

export const ReviewSettings = { Threads: 1, Hash: 64 };

// Starts an engine for reviews with the page's factory (the threaded build
// where the page is isolated); {analyse, close}. A search of an engine that
// has ended is refused with an Error instead of waiting for ever.
export async function startReviewEngine(factory, log) {
  const api = await factory({ threads: 1 });
  const session = uciAnalyser((line) => {
    log(`review> ${line}`);
    api.send(line);
  });
  let failEnded;
  const ended = new Promise((resolve, reject) => { failEnded = reject; });
  ended.catch(() => {});
  api.onLine = (line) => session.receive(line);
  api.onError = (line) => log(`review! ${line}`);
  api.onExit = (status) => failEnded(new Error(`the review engine stopped (status ${status})`));
  const race = (promise) => Promise.race([promise, ended]);
  await race(session.start(ReviewSettings));
  await race(session.newGame());
  return {
    analyse: (position, limit, signal) => race(session.analyse(position, limit, signal)),
    close: () => api.terminate(),
    flavour: api.flavour,
  };
}

// Draws White's winning chance after each move as a uPlot chart in
// `container`; a click on the chart calls pick(ply) for the nearest point.
// Returns {update(positions, total), plot}.
export function createGraph(container, pick) {
  container.textContent = '';
  const width = Math.max(240, container.clientWidth || 480);
  const options = {
    width,
    height: 140,
    legend: { show: false },
    cursor: { drag: { x: false, y: false }, points: { size: 7 } },
    scales: { x: { time: false, range: (u, min, max) => [0, Math.max(1, max)] }, y: { range: [0, 100] } },
    axes: [
      { size: 24, values: (u, ticks) => ticks.map((ply) => (Number.isInteger(ply) && ply % 2 === 1 ? String((ply + 1) / 2) : '')) },
      { size: 40, splits: () => [0, 25, 50, 75, 100] },
    ],
    series: [
      {},
      { label: 'White', stroke: '#2f6fb0', width: 1.5, fill: 'rgba(255,255,255,0.85)', points: { show: true, size: 4 } },
    ],
    bands: [],
  };
  let total = 1;
  const plot = new uPlot(options, [[0], [null]], container);
  plot.root.style.background = '#555';
  plot.over.addEventListener('click', () => {
    const ply = plot.cursor.idx;
    if (ply !== null && ply !== undefined && plot.data[1][ply] !== null) pick(ply);
  });
  return {
    plot,
    // positions[ply].win for the analysed positions, empty up to `count`.
    update(positions, count) {
      total = Math.max(1, count);
      const xs = Array.from({ length: total }, (_, ply) => ply);
      const ys = xs.map((ply) => (positions[ply] ? positions[ply].win : null));
      plot.setData([xs, ys]);
    },
    resize() {
      plot.setSize({ width: Math.max(240, container.clientWidth || 480), height: 140 });
    },
  };
}
