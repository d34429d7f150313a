// The analysis page in headless Chromium, served with and without the
// cross-origin isolation headers (threaded and single-threaded engine):
// a FEN from the address is analysed to depth 10 with a legal first line, a
// score, its arrow and the evaluation bar; a move made on the board in play
// mode is answered with a legal move shown on the board; window.Orvane
// answers "uci" and a search; a book file picked by the user is played from;
// no console error, page error or failed
// request; a screenshot of each kept beside the WebAssembly build. Then the
// page tells only the truth: every line painted in every frame is legal on
// the board shown while the position changes under a running analysis; a
// stopped move is never played; a FEN with a newline is normalised, one the
// engine refuses leaves the board; a promotion chosen in the dialog reaches
// the engine as e7e8q; a level is set before play and undone for analysis;
// no main-thread task reaches 50 ms while five lines are analysed.
//
// Run by tests/web/run.sh (after the WebAssembly build, from .ci/run).

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import { spawnSync } from 'node:child_process';
import path from 'node:path';
import { Chess } from 'chess.js';
import { engineDir, repoDir, startServer, startChromium, openPage } from './harness.mjs';

// A middle game where White has lost the queen, Black to move: the page must
// turn the engine's score (good for the side to move) into White's view, a
// clear minus, and number the line from "18...".
const FEN = 'r2q1rk1/pp2bppp/2n1pn2/3p4/3P1B2/2PB1N2/PP1N1PPP/R3K2R b KQ - 3 18';

// The first moves of tests/data/book-slice.bin (tests/data/book-expected.txt).
const BOOK_FIRST_MOVES = ['e2e4', 'd2d4', 'g1f3', 'c2c4', 'g2g3', 'b2b3', 'f2f4', 'b1c3', 'b2b4', 'e2e3', 'd2d3', 'g2g4', 'a2a3'];

let chromium;

// Records what the page and the engine say to each other, in order, by
// wrapping the Worker the engine runs in: "> " for a command, "< " for a line.
// While window.holdBestmoves is true, bestmoves reach the page only when
// window.releaseBestmoves() is called; window.fakeBestmove replaces the next.
function recordEngineTraffic() {
  const Original = window.Worker;
  window.engineTraffic = [];
  window.engineWorkers = [];
  window.holdBestmoves = false;
  const held = [];
  window.releaseBestmoves = () => {
    window.holdBestmoves = false;
    for (const deliver of held.splice(0)) deliver();
  };
  window.Worker = class extends Original {
    set onmessage(handler) {
      super.onmessage = (event) => {
        const bestmove = event.data && event.data.type === 'line' && event.data.line.startsWith('bestmove');
        if (bestmove && window.fakeBestmove) {
          event = { data: { type: 'line', line: window.fakeBestmove } };
          window.fakeBestmove = null;
        }
        if (bestmove && window.holdBestmoves) held.push(() => handler.call(this, event));
        else handler.call(this, event);
      };
    }

    constructor(...args) {
      super(...args);
      if (String(args[0]).includes('orvane')) window.engineWorkers.push(this);
      this.addEventListener('message', (event) => {
        if (event.data && event.data.type === 'line') window.engineTraffic.push(`< ${event.data.line}`);
      });
    }

    postMessage(message, ...rest) {
      if (message && message.type === 'send') window.engineTraffic.push(`> ${message.text.trim()}`);
      return super.postMessage(message, ...rest);
    }
  };
}

// Samples every frame: the position on the board (its data-fen) and the
// lines painted.
function recordFrames() {
  window.paintedFrames = [];
  const sample = () => {
    window.paintedFrames.push({
      fen: document.querySelector('[data-testid="board"]').dataset.fen,
      lines: [...document.querySelectorAll('#lines .line-moves')].map((line) => line.textContent).filter(Boolean),
    });
    requestAnimationFrame(sample);
  };
  requestAnimationFrame(sample);
}

before(async () => {
  const entry = path.join(engineDir, 'orvane.mjs');
  assert.ok(fs.existsSync(entry), `${entry} is missing: build the WebAssembly engines first`);
  chromium = await startChromium();
});

after(async () => {
  if (chromium) await chromium.close();
});

const text = (page, testid) => page.locator(`[data-testid="${testid}"]`).first().textContent();

// Plays a line written with move numbers ("18... Nh5 19. Bg3") from `fen`
// with chess.js; fails on the first move that is not legal there or on a
// move number that does not fit the position.
function checkLine(fen, line) {
  const chess = new Chess(fen);
  const tokens = line.trim().split(/\s+/);
  assert.ok(tokens.length >= 2, `line too short: "${line}"`);
  const moves = [];
  for (const token of tokens) {
    const number = token.match(/^(\d+)(\.|\.\.\.)$/);
    if (number) {
      assert.equal(Number(number[1]), chess.moveNumber(), `move number ${token} in "${line}"`);
      assert.equal(number[2] === '.' ? 'w' : 'b', chess.turn(), `side of ${token} in "${line}"`);
      continue;
    }
    let move;
    try {
      move = chess.move(token, { strict: true });
    } catch {
      assert.fail(`"${token}" is not a legal move in ${chess.fen()} (line "${line}")`);
    }
    moves.push(move);
  }
  assert.ok(moves.length >= 1, `no moves in "${line}"`);
  return moves;
}

// Centre of a square of the board in page coordinates.
async function squareCentre(page, square) {
  const box = await page.evaluate((name) => {
    const rect = document.querySelector(`#board rect[data-square="${name}"]`);
    if (!rect) return null;
    const { x, y, width, height } = rect.getBoundingClientRect();
    return { x, y, width, height };
  }, square);
  assert.ok(box && box.width > 10, `square ${square} not drawn`);
  return { x: box.x + box.width / 2, y: box.y + box.height / 2 };
}

async function drag(page, from, to) {
  const a = await squareCentre(page, from);
  const b = await squareCentre(page, to);
  await page.mouse.move(a.x, a.y);
  await page.mouse.down();
  await page.mouse.move(b.x, b.y, { steps: 8 });
  await page.mouse.up();
}

async function click(page, from, to) {
  const a = await squareCentre(page, from);
  const b = await squareCentre(page, to);
  await page.mouse.click(a.x, a.y);
  await page.mouse.click(b.x, b.y);
}

async function pieceOn(page, square) {
  return page.locator(`#board g[data-square="${square}"]`).getAttribute('data-piece', { timeout: 2000 }).catch(() => null);
}

// Waits until the board shows `piece` ("wb") on `square`.
async function waitPiece(page, square, piece) {
  await page.waitForSelector(`#board g[data-square="${square}"][data-piece="${piece}"]`, { timeout: 3000 })
    .catch(async () => assert.fail(`the board shows ${await pieceOn(page, square)} on ${square}, not ${piece}`));
}

for (const isolation of [true, false]) {
  const mode = isolation ? 'isolated' : 'not isolated';

  test(`page ${mode}: analysis, play, window.Orvane, no console error`, { timeout: 120000 }, async () => {
    const server = await startServer({ isolation });
    const problems = [];
    const page = await openPage(chromium.browser, problems);
    try {
      await page.goto(`${server.url}?fen=${encodeURIComponent(FEN)}&analyse=1`);
      assert.equal(await page.evaluate(() => window.crossOriginIsolated), isolation, 'crossOriginIsolated');
      await page.waitForFunction(() => document.body.dataset.engineReady === 'true', null, { timeout: 30000 });
      const readyMs = await page.evaluate(() => window.orvaneReadyMs);
      console.log(`${mode}: readyok ${readyMs} ms after page load; ${await text(page, 'engine-status')}`);

      // The analysis the address asked for reaches depth 10.
      await page.waitForFunction(() => Number(document.querySelector('[data-testid="depth"]').textContent) >= 10,
        null, { timeout: 60000 });
      // One snapshot: the page draws the numbers, the lines, the arrow and
      // the bar together, while the analysis goes on.
      const { depth, score, pv, arrow, fill } = await page.evaluate(() => {
        const read = (testid) => document.querySelector(`[data-testid="${testid}"]`).textContent;
        const arrowElement = document.querySelector('#board [data-arrow]');
        return {
          depth: read('depth'), score: read('score'), pv: read('pv'),
          arrow: arrowElement ? arrowElement.getAttribute('data-arrow') : null,
          fill: parseFloat(document.getElementById('eval-fill').style.height),
        };
      });
      console.log(`${mode}: depth ${depth}, score ${score}, ${pv}`);
      assert.match(score, /^(-\d+\.\d\d|#-\d+)$/, 'score from White\'s side');
      assert.ok(score.startsWith('#') || Number(score) <= -4, `score ${score} for a queen down`);
      assert.match(pv, /^18\.\.\. /, 'the line starts at Black\'s 18th move');
      const moves = checkLine(FEN, pv);
      assert.equal(arrow, moves[0].from + moves[0].to, 'arrow of the best move');
      assert.ok(fill >= 0 && fill < 15, `evaluation bar ${fill}% white for a queen down`);
      await page.screenshot({ path: path.join(engineDir, isolation ? 'web-screenshot.png' : 'web-screenshot-single.png') });

      // Stop the analysis.
      await page.click('[data-testid="analyse"]');
      await page.waitForFunction(() => document.querySelector('[data-testid="analyse"]').textContent === 'Analyse');

      // Play: an illegal move is refused, a legal one (dragged when isolated,
      // clicked otherwise) is answered by the engine on the board.
      await page.fill('[data-testid="movetime"]', '0.3');
      await page.selectOption('[data-testid="play-colour"]', 'w');
      await page.click('[data-testid="play"]');
      await page.waitForFunction(() => document.querySelector('[data-testid="moves"]').textContent === '');
      await drag(page, 'e2', 'e5');
      await page.waitForTimeout(300);
      assert.equal(await text(page, 'moves'), '', 'an illegal move was played');
      assert.equal(await pieceOn(page, 'e2'), 'wp');
      if (isolation) await drag(page, 'e2', 'e4');
      else await click(page, 'e2', 'e4');
      await page.waitForFunction(() => document.querySelector('[data-testid="moves"]').textContent.split(' ').length >= 3,
        null, { timeout: 20000 });
      const game = await text(page, 'moves');
      const played = checkLine(new Chess().fen(), game);
      assert.equal(played.length, 2, `moves "${game}"`);
      assert.equal(played[0].san, 'e4');
      await waitPiece(page, played[1].to, `b${played[1].piece}`);
      await waitPiece(page, 'e4', 'wp');

      // The factory the page exposes, used directly.
      const session = await page.evaluate(async () => {
        const engine = await window.Orvane({ threads: 2 });
        const lines = [];
        const waitFor = (wanted, ms) => new Promise((resolve, reject) => {
          const timer = setTimeout(() => reject(new Error(`no ${wanted} within ${ms} ms: ${lines.join(' | ')}`)), ms);
          engine.onLine = (line) => {
            lines.push(line);
            if (line.startsWith(wanted)) {
              clearTimeout(timer);
              resolve(line);
            }
          };
        });
        let answer = waitFor('uciok', 20000);
        engine.send('uci');
        await answer;
        answer = waitFor('bestmove', 30000);
        engine.send('position startpos moves e2e4');
        engine.send('go depth 8');
        const bestmove = await answer;
        engine.terminate();
        return { lines, bestmove };
      });
      assert.ok(session.lines.some((line) => line.startsWith('id name Orvane')), 'id name');
      assert.ok(session.lines.some((line) => /^info .*depth 8 .*pv /.test(line)), 'a depth 8 line');
      const reply = session.bestmove.split(/\s+/)[1];
      const chess = new Chess();
      chess.move('e4');
      assert.doesNotThrow(() => chess.move({ from: reply.slice(0, 2), to: reply.slice(2, 4), promotion: reply[4] }),
        `bestmove ${reply} after 1. e4`);

      // A book picked by the user answers the engine's first move at once,
      // where a search would take the 20 seconds a move it is given.
      await page.click('[data-testid="stop-play"]');
      await page.setInputFiles('[data-testid="book-file"]', path.join(repoDir, 'tests', 'data', 'book-slice.bin'));
      await page.waitForFunction(() => document.querySelector('[data-testid="book-status"]').textContent.startsWith('Book:'));
      await page.click('text=Start position');
      await page.waitForFunction(() => document.querySelector('[data-testid="moves"]').textContent === '');
      await page.fill('[data-testid="movetime"]', '20');
      await page.selectOption('[data-testid="play-colour"]', 'b');
      await page.click('[data-testid="play"]');
      await page.waitForFunction(() => document.querySelector('[data-testid="moves"]').textContent !== '', null, { timeout: 8000 });
      const opening = checkLine(new Chess().fen(), await text(page, 'moves'));
      assert.ok(BOOK_FIRST_MOVES.includes(opening[0].lan), `${opening[0].lan} is not in the book`);
      await page.click('[data-testid="stop-play"]');

      // A pasted game and a FEN set the position; a bad FEN leaves it and says why.
      await page.fill('[data-testid="moves-input"]', '1. e4 e5 2. Ke3');
      await page.click('[data-testid="set-moves"]');
      assert.equal(await text(page, 'status'), 'Moves not set: 2. Ke3 cannot be played here');
      await page.fill('[data-testid="moves-input"]', '[Event "?"]\n1. e4 {open} e5 (1... c5 2. Nf3 (2. c3) d6) 2. Nf3 $1 Nc6 3. Bb5!? a6 *');
      await page.click('[data-testid="set-moves"]');
      assert.equal(await text(page, 'status'), '6 moves played.');
      assert.equal(await page.inputValue('[data-testid="fen-input"]'),
        'r1bqkbnr/1ppp1ppp/p1n5/1B2p3/4P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 0 4');
      await waitPiece(page, 'b5', 'wb');
      await page.fill('[data-testid="fen-input"]', '8/8/8/8 w - - 0 1');
      await page.click('[data-testid="set-fen"]');
      assert.match(await text(page, 'status'), /^FEN not set: /);
      await waitPiece(page, 'a6', 'bp');
      await page.fill('[data-testid="fen-input"]', '7k/8/8/8/8/8/8/K6R w - - 0 1');
      await page.click('[data-testid="set-fen"]');
      await waitPiece(page, 'h1', 'wr');

      assert.deepEqual(problems, [], 'console errors, page errors or failed requests');
    } finally {
      await page.close();
      await server.close();
    }
  });
}

const traffic = (page) => page.evaluate(() => window.engineTraffic.slice());
const setFen = async (page, fen) => { await page.fill('[data-testid="fen-input"]', fen); await page.click('[data-testid="set-fen"]'); };
const pasteMoves = async (page, moves) => { await page.fill('[data-testid="moves-input"]', moves); await page.click('[data-testid="set-moves"]'); };
const waitDepth = (page, depth) => page.waitForFunction((least) => Number(document.querySelector('[data-testid="depth"]').textContent) >= least,
  depth, { timeout: 30000 });

// Runs `act` under a trace of the page's main thread; returns each task run
// there as {wall, cpu} in milliseconds, and the durations of the long tasks
// the browser reported (PerformanceObserver "longtask").
async function mainThreadTasks(page, act) {
  const session = await page.context().newCDPSession(page);
  const events = [];
  session.on('Tracing.dataCollected', ({ value }) => events.push(...value));
  const complete = new Promise((resolve) => session.once('Tracing.tracingComplete', resolve));
  await session.send('Tracing.start', { categories: '-*,disabled-by-default-devtools.timeline', transferMode: 'ReportEvents' });
  try {
    await page.evaluate(() => {
      window.longTasks = [];
      new PerformanceObserver((list) => window.longTasks.push(...list.getEntries())).observe({ type: 'longtask' });
    });
    await act();
  } finally {
    await session.send('Tracing.end');
    await complete;
    await session.detach();
  }
  const main = new Set(events.filter((event) => event.name === 'thread_name' && event.args.name === 'CrRendererMain')
    .map((event) => `${event.pid}:${event.tid}`));
  const tasks = events.filter((event) => event.name === 'RunTask' && event.ph === 'X' && main.has(`${event.pid}:${event.tid}`))
    .map((event) => ({ wall: event.dur / 1000, cpu: (event.tdur ?? event.dur) / 1000 }));
  const longTasks = await page.evaluate(() => window.longTasks.map((entry) => Math.round(entry.duration)));
  return { tasks, longTasks };
}

// Waits until the engine has answered every "go" it was sent.
async function waitEngineIdle(page) {
  await page.waitForFunction(() => {
    const lines = window.engineTraffic;
    return lines.filter((line) => line.startsWith('> go')).length === lines.filter((line) => line.startsWith('< bestmove')).length;
  }, null, { timeout: 20000 });
}

// Every line painted in every frame so far must be legal from the FEN shown
// in that frame (each pair checked once); returns how many frames had lines.
async function checkPaintedFrames(page) {
  const frames = await page.evaluate(() => window.paintedFrames.splice(0));
  const checked = new Set();
  let withLines = 0;
  for (const frame of frames) {
    if (frame.lines.length > 0) withLines++;
    for (const line of frame.lines) {
      if (checked.has(`${frame.fen}|${line}`)) continue;
      checked.add(`${frame.fen}|${line}`);
      try {
        checkLine(frame.fen, line);
      } catch (error) {
        error.message = `frame showing ${frame.fen}: ${error.message}`;
        throw error;
      }
    }
  }
  return withLines;
}

for (const isolation of [true, false]) {
  const mode = isolation ? 'isolated' : 'not isolated';

  test(`page ${mode}: only lines of the board shown, no stopped move played, refused FENs, promotion, levels, no long task`,
    { timeout: 120000 }, async () => {
      const server = await startServer({ isolation });
      const problems = [];
      const page = await openPage(chromium.browser, problems);
      await page.addInitScript(recordEngineTraffic);
      try {
        // A FEN with a newline in it, as an address may carry it, and more
        // lines than the page offers.
        const spaced = 'r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R\nw KQkq -   4 4';
        const normal = 'r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4';
        assert.match(encodeURIComponent(spaced), /%0A/);
        await page.goto(`${server.url}?fen=${encodeURIComponent(spaced)}&analyse=1&multipv=9&elo=1800`);
        await page.waitForFunction(() => document.body.dataset.engineReady === 'true', null, { timeout: 30000 });
        await page.evaluate(recordFrames);
        assert.equal(await page.inputValue('[data-testid="fen-input"]'), normal);
        assert.match(await text(page, 'status'), /multipv=9 in the address not used: 1 to 5 lines; 3 shown/);
        assert.equal(await page.inputValue('[data-testid="level"]'), '1800');
        await waitDepth(page, 6);
        const sent = await traffic(page);
        assert.ok(sent.includes(`> position fen ${normal}`), `the engine got ${sent.filter((line) => line.startsWith('> position'))}`);
        assert.ok(!sent.some((line) => /info string .*(FEN|position unchanged)/.test(line)), 'the engine refused the FEN');

        // Moves clicked on the board and taken back, a FEN set and the start
        // position, while the analysis runs: each change lands before the
        // last position's search has stopped.
        const changes = [
          () => click(page, 'e1', 'g1'), () => click(page, 'f6', 'e4'), () => page.click('[data-testid="takeback"]'),
          () => click(page, 'd2', 'd3'), () => page.click('text=Start position'), () => click(page, 'g1', 'f3'),
          () => click(page, 'd7', 'd5'), () => page.click('[data-testid="takeback"]'), () => click(page, 'e7', 'e5'),
        ];
        for (const [i, change] of changes.entries()) {
          await change();
          await page.waitForTimeout(40 + 60 * (i % 4));
        }
        await waitDepth(page, 6);
        assert.equal(await text(page, 'moves'), '1. Nf3 e5');
        const painted = await checkPaintedFrames(page);
        assert.ok(painted >= 10, `only ${painted} frames showed lines`);

        // A FEN that chess.js takes and the engine refuses (the side not to
        // move is in check) leaves the board and its analysis as they were.
        const before = await page.inputValue('[data-testid="fen-input"]');
        await setFen(page, '4k3/8/8/8/8/8/8/4R1K1 w - - 0 1');
        assert.match(await text(page, 'status'), /^FEN not set: the side not to move is in check; position unchanged/);
        assert.equal(await page.inputValue('[data-testid="fen-input"]'), before);
        await waitPiece(page, 'e5', 'bp');
        await page.waitForTimeout(300);
        assert.ok(!(await traffic(page)).some((line) => line.includes('4k3/8/8/8/8/8/8/4R1K1')), 'the refused FEN reached the engine');

        // A promotion chosen in the dialog reaches the engine as e7e8q.
        await setFen(page, '8/4P2k/8/8/8/8/8/K7 w - - 0 1');
        await click(page, 'e7', 'e8');
        await page.click('#board .promotion-dialog-button[data-piece="wq"]');
        await waitPiece(page, 'e8', 'wq');
        await page.waitForFunction(() => window.engineTraffic.includes('> position fen 8/4P2k/8/8/8/8/8/K7 w - - 0 1 moves e7e8q'));
        assert.ok((await checkPaintedFrames(page)) > 0, 'no line painted after the promotion');

        // A mate on the board: the result, a full bar, no speed, nothing to
        // analyse; a message lasts only while it is true.
        await setFen(page, 'k7/1Q6/1K6/8/8/8/8/8 b - - 0 1');
        await page.waitForFunction(() => document.querySelector('[data-testid="nps"]').textContent === '–');
        assert.equal(await text(page, 'status'), 'Checkmate: White wins.');
        assert.equal(await text(page, 'score'), '1-0');
        assert.equal(await text(page, 'analyse'), 'Analyse');
        assert.ok(await page.isDisabled('[data-testid="analyse"]'), 'Analyse offered on a mate');
        assert.equal(await page.evaluate(() => parseFloat(document.getElementById('eval-fill').style.height)), 100);
        await pasteMoves(page, '1. d4 d5');
        assert.equal(await text(page, 'status'), '2 moves played.');
        await click(page, 'c2', 'c4');
        assert.equal(await text(page, 'status'), '');

        // Play: a level is set before the engine plays; stopping during its
        // think, again and again, never plays its move; the score and line
        // stay hidden while it thinks. The top level thinks for the whole move
        // time; a low level's small budget would answer before the stop.
        await page.click('[data-testid="analyse"]');
        await page.selectOption('[data-testid="level"]', '2850');
        await page.fill('[data-testid="movetime"]', '5');
        await page.selectOption('[data-testid="play-colour"]', 'b');
        for (let round = 0; round < 4; round++) {
          await waitEngineIdle(page);
          const already = (await traffic(page)).length;
          await page.click('[data-testid="play"]');
          await page.waitForFunction((from) => window.engineTraffic.slice(from).some((line) => /^< info depth [2-9]/.test(line)),
            already, { timeout: 10000 });
          await page.waitForTimeout(50 * round);
          assert.equal(await text(page, 'depth'), '–', 'the depth shown while the engine plays');
          assert.equal(await text(page, 'pv'), '', 'the line shown while the engine plays');
          await page.click('[data-testid="stop-play"]');
          await waitEngineIdle(page);
          await page.waitForTimeout(100);
          assert.equal(await text(page, 'moves'), '', `round ${round}: a stopped move was played`);
          const session = (await traffic(page)).slice(already);
          const go = session.findIndex((line) => line.startsWith('> go movetime'));
          assert.ok(go > 0, `no go in ${session}`);
          if (round === 0) {
            const before = session.slice(0, go);
            assert.ok(before.includes('> setoption name UCI_LimitStrength value true'), `${before}`);
            assert.ok(before.includes('> setoption name UCI_Elo value 2850'), `${before}`);
          }
        }
        // A move the page refuses is shown, and the engine is asked again.
        await page.fill('[data-testid="movetime"]', '0.3');
        await page.evaluate(() => { window.fakeBestmove = 'bestmove e2e5'; });
        await page.click('[data-testid="play"]');
        await page.waitForFunction(() => document.querySelector('[data-testid="status"]').textContent ===
          'Orvane answered e2e5, which is not a legal move here; it is asked again.');
        await page.waitForFunction(() => document.querySelector('[data-testid="moves"]').textContent !== '', null, { timeout: 10000 });
        await page.click('[data-testid="stop-play"]');
        await page.fill('[data-testid="movetime"]', '5');

        // Analysis goes back to full strength; the play message goes.
        await page.click('[data-testid="play"]');
        assert.match(await text(page, 'status'), /^You play Black; Orvane plays at 2850 Elo, 5 s a move/);
        await page.click('[data-testid="analyse"]');
        assert.equal(await text(page, 'status'), '');
        await page.waitForFunction(() => window.engineTraffic.includes('> go infinite') &&
          window.engineTraffic.lastIndexOf('> setoption name UCI_LimitStrength value false') > window.engineTraffic.lastIndexOf('> setoption name UCI_Elo value 2850'));
        const all = await traffic(page);
        assert.ok(all.lastIndexOf('> setoption name UCI_LimitStrength value false') < all.lastIndexOf('> go infinite'));

        // A book picked during an analysis, and the analysis stopped while the
        // page waits for the engine to be free to take the book: it stays
        // stopped; the engine's note on the book has a line of its own and
        // leaves the user's message.
        await pasteMoves(page, '1. e4 c5');
        await waitDepth(page, 2);
        await page.evaluate(() => { window.holdBestmoves = true; });
        const beforeBook = (await traffic(page)).length;
        await page.setInputFiles('[data-testid="book-file"]', path.join(repoDir, 'tests', 'data', 'book-slice.bin'));
        await page.waitForFunction((from) => window.engineTraffic.slice(from).includes('> stop'), beforeBook);
        await page.click('[data-testid="analyse"]');
        await page.evaluate(() => window.releaseBestmoves());
        await page.waitForFunction(() => document.querySelector('[data-testid="book-status"]').textContent.startsWith('Book:'));
        await page.waitForTimeout(300);
        assert.equal(await text(page, 'analyse'), 'Analyse');
        assert.equal(await text(page, 'status'), '2 moves played.');
        assert.equal(await text(page, 'engine-note'), 'Book file is /mem/books/user.bin');
        const afterBook = await traffic(page);
        assert.ok(afterBook.lastIndexOf('> go infinite') < afterBook.lastIndexOf('> setoption name Book File value /mem/books/user.bin'),
          'the analysis started again after the book');
        await waitEngineIdle(page);
        await page.click('[data-testid="analyse"]');

        // Five lines for a while, with moves made: no main-thread task
        // works 50 ms. The browser's long tasks (PerformanceObserver) are
        // judged by the main thread's own time in each task, from a trace:
        // on a busy machine a task of a few milliseconds may wait far longer
        // for a core, which is no work of the page.
        const { tasks, longTasks } = await mainThreadTasks(page, async () => {
          await setFen(page, FEN);
          await page.selectOption('[data-testid="multipv"]', '5');
          await page.waitForFunction(() => document.querySelectorAll('#lines .line-moves').length === 5, null, { timeout: 20000 });
          for (const [from, to] of [['f6', 'h5'], ['f4', 'g3'], ['h5', 'g3']]) {
            await page.waitForTimeout(1500);
            await click(page, from, to);
          }
          await page.waitForTimeout(1500);
        });
        const longest = Math.max(...tasks.map((task) => task.cpu));
        console.log(`${mode}: ${tasks.length} main-thread tasks during a five-line analysis, the longest ${longest.toFixed(1)} ms of work; ` +
          `long tasks reported: ${longTasks.join(', ') || 'none'} ms; traced over 50 ms of wall clock: ` +
          `${tasks.filter((task) => task.wall >= 50).map((task) => `${task.wall.toFixed(0)} (${task.cpu.toFixed(1)} of work)`).join(', ') || 'none'}`);
        assert.ok(tasks.length > 1000 && longest > 0, `${tasks.length} tasks traced`);
        assert.ok(longest < 50, `a main-thread task worked ${longest.toFixed(1)} ms`);
        assert.ok((await checkPaintedFrames(page)) > 0, 'no line painted during the five-line analysis');

        // The engine ends while the page waits for it to be free: the wait
        // ends and the page says so.
        await page.evaluate(() => { window.holdBestmoves = true; });
        const beforeQuit = (await traffic(page)).length;
        await page.setInputFiles('[data-testid="book-file"]', path.join(repoDir, 'tests', 'data', 'book-slice.bin'));
        await page.waitForFunction((from) => window.engineTraffic.slice(from).includes('> stop'), beforeQuit);
        await page.evaluate(() => window.engineWorkers[0].postMessage({ type: 'send', text: 'quit\n' }));
        await page.waitForFunction(() => document.querySelector('[data-testid="status"]').textContent.includes('Book not loaded: the engine has stopped'));
        assert.match(await text(page, 'engine-status'), /^the engine stopped/);

        assert.deepEqual(problems, [], 'console errors, page errors or failed requests');
      } finally {
        await page.close();
        await server.close();
      }
    });
}

// ---- the game review and walking the game ---------------------------------------

// White leaves the queen to be taken (2. Qg4??, the bishop on c8 takes it)
// and Black does not take it: 2... Nf6 misses 2... Bxg4.
const BLUNDER_GAME = '[Event "Review test"]\n[White "A"]\n[Black "B"]\n[Result "*"]\n\n1. e4 d6 2. Qg4 Nf6 *';
// The Ruy Lopez's first moves: no mistake anywhere.
const CLEAN_GAME = '1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 *';
const REVIEW_NODES = 20000;

// The FEN after the first `plies` moves of a SAN game.
function fenAfter(sans, plies) {
  const chess = new Chess();
  for (const move of sans.slice(0, plies)) chess.move(move);
  return chess.fen();
}

// The moves of the list: {ply, text, cls, eval}.
const moveList = (page) => page.evaluate(() => [...document.querySelectorAll('[data-testid^="move-"]')]
  .map((item) => ({ ply: Number(item.dataset.ply), text: item.textContent, cls: item.dataset.class, eval: item.dataset.eval })));

const waitReviewDone = (page) => page.waitForFunction(() => {
  const review = window.orvaneReview;
  return review.result && review.result.complete && !review.running &&
    document.querySelector('[data-testid="review-progress"]').hidden;
}, null, { timeout: 40000 });

const boardFen = (page) => page.evaluate(() => document.querySelector('[data-testid="board"]').dataset.fen);

// White's winning chance for a score written as in [%eval]: "0.35", "#-3".
async function winOf(text) {
  const { winPercent } = await import(path.join(repoDir, 'src', 'wasm', 'review.mjs'));
  return winPercent(text.startsWith('#') ? { mate: Number(text.slice(1)) } : { cp: Math.round(Number(text) * 100) });
}

// orvane-review's output for one game with the page's limit, run from a
// copy of the build's runtime files beside this folder's node_modules (its
// PGN reader and chess.js).
function commandLineReview(pgn) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'orvane-review-'));
  try {
    for (const name of fs.readdirSync(engineDir)) {
      if (/^(orvane[a-z0-9.-]*|review(-pgn)?\.mjs|node\.mjs|package\.json)$/.test(name) && fs.statSync(path.join(engineDir, name)).isFile())
        fs.copyFileSync(path.join(engineDir, name), path.join(folder, name));
    }
    fs.symlinkSync(path.join(repoDir, 'tests', 'web', 'node_modules'), path.join(folder, 'node_modules'));
    const result = spawnSync(process.execPath, [path.join(folder, 'orvane-review'), '--nodes', String(REVIEW_NODES), '--jobs', '1'],
      { input: pgn, encoding: 'utf8', timeout: 60000 });
    assert.equal(result.status, 0, `orvane-review: ${result.stderr}`);
    return result.stdout;
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
}

// The PGN with the engine's name taken out; the line breaks move with it.
const withoutEngineName = (pgn) => pgn.replace(/Reviewed by [^,]+,/, 'Reviewed by ENGINE,').replace(/\s+/g, ' ');

for (const isolation of [true, false]) {
  const mode = isolation ? 'isolated' : 'not isolated';

  test(`page ${mode}: a review marks a left queen ?? with the capture as the best answer, a clean game nowhere; graph, walk keys`,
    { timeout: 120000 }, async () => {
      const server = await startServer({ isolation });
      const problems = [];
      const page = await openPage(chromium.browser, problems);
      try {
        await page.context().grantPermissions(['clipboard-read', 'clipboard-write'], { origin: new URL(server.url).origin });
        // The address opens the game and reviews it at once.
        await page.goto(`${server.url}?pgn=${encodeURIComponent(BLUNDER_GAME)}&review=1&nodes=${REVIEW_NODES}`);
        await waitReviewDone(page);
        const moves = await moveList(page);
        assert.deepEqual(moves.slice(0, 3).map((move) => move.text), ['e4', 'd6', 'Qg4??']);
        assert.match(moves[3].text, /^Nf6\?\??$/);
        assert.equal(moves[2].cls, 'blunder');
        assert.ok(['mistake', 'blunder'].includes(moves[3].cls), `2... Nf6 is ${moves[3].cls}`);
        assert.deepEqual(moves.slice(0, 2).map((move) => move.cls), ['', '']);
        assert.match(await text(page, 'better-4'), /^2\.\.\. Bxg4\b/);
        assert.match(await text(page, 'accuracy-white'), /^\d+\.\d%$/);
        assert.match(await text(page, 'counts-white'), /1 blunder$/);
        assert.equal(await text(page, 'review-note'),
          `Reviewed by the ${isolation ? 'threaded' : 'single-threaded'} engine, one search thread, nodes ${REVIEW_NODES} a position.`);

        // The graph has a point for every position, each White's winning
        // chance for the score the move list shows.
        const graph = await page.evaluate(() => window.orvaneReview.graph.plot.data.map((series) => series.slice()));
        assert.deepEqual(graph[0], [0, 1, 2, 3, 4]);
        for (const move of moves) {
          assert.ok(move.eval, `move ${move.ply} has no score`);
          assert.ok(Math.abs(graph[1][move.ply] - await winOf(move.eval)) < 0.01,
            `point ${move.ply} is ${graph[1][move.ply]}, the score ${move.eval}`);
        }
        assert.ok(graph[1][3] < 20 && graph[1][2] > 40, `the graph does not fall at the blunder: ${graph[1]}`);

        // A click on a point shows its position.
        const sans = ['e4', 'd6', 'Qg4', 'Nf6'];
        for (const ply of [2, 0, 3]) {
          const at = await page.evaluate((index) => {
            const plot = window.orvaneReview.graph.plot;
            const box = plot.over.getBoundingClientRect();
            return { x: box.left + plot.valToPos(index, 'x'), y: box.top + plot.valToPos(plot.data[1][index], 'y') };
          }, ply);
          await page.mouse.move(at.x, at.y - 2);
          await page.mouse.click(at.x, at.y);
          assert.equal(await boardFen(page), fenAfter(sans, ply), `a click on point ${ply}`);
        }

        // The same numbers as orvane-review with the same limit.
        await page.click('[data-testid="download-pgn"]');
        const pagePgn = await page.evaluate(() => window.lastPgn);
        assert.match(pagePgn, /\[%eval /);
        assert.equal(withoutEngineName(pagePgn), withoutEngineName(commandLineReview(BLUNDER_GAME)));

        // Walking: the keys, the move list, the last move and a check.
        await page.keyboard.press('End');
        assert.equal(await boardFen(page), fenAfter(sans, 4));
        await page.keyboard.press('ArrowLeft');
        assert.equal(await boardFen(page), fenAfter(sans, 3));
        assert.equal(await page.evaluate(() => document.querySelector('[data-testid="board"]').dataset.lastMove), 'd1g4');
        await page.keyboard.press('Home');
        assert.equal(await boardFen(page), fenAfter(sans, 0));
        await page.keyboard.press('ArrowRight');
        assert.equal(await boardFen(page), fenAfter(sans, 1));
        await page.click('[data-testid="move-4"]');
        assert.equal(await boardFen(page), fenAfter(sans, 4));
        await page.click('[data-testid="copy-fen"]');
        // The message follows the clipboard's answer, a moment later.
        await page.waitForFunction(() => document.querySelector('[data-testid="status"]').textContent === 'FEN copied.');
        assert.equal(await page.evaluate(() => navigator.clipboard.readText()), fenAfter(sans, 4));
        await pasteMoves(page, '1. f3 e5 2. g4 Qh4# *');
        await page.keyboard.press('ArrowLeft');
        await page.keyboard.press('ArrowRight');
        assert.equal(await page.evaluate(() => document.querySelector('[data-testid="board"]').dataset.check), 'e1');

        // A game with no mistake: marked nowhere; stopped and resumed where
        // it stopped; the opening named.
        await pasteMoves(page, CLEAN_GAME);
        assert.equal(await text(page, 'opening'), 'C70 Ruy Lopez: Morphy Defense');
        await page.click('[data-testid="review"]');
        await page.waitForFunction(() => Number(document.querySelector('[data-testid="review-progress"]').value) >= 2);
        await page.click('[data-testid="review"]');
        await page.waitForFunction(() => document.querySelector('[data-testid="review"]').textContent === 'Resume review');
        const stoppedAt = await page.evaluate(() => window.orvaneReview.result.positions.length);
        assert.ok(stoppedAt >= 2 && stoppedAt < 7, `stopped after ${stoppedAt} positions`);
        await page.click('[data-testid="review"]');
        assert.ok(await page.evaluate(() => Number(document.querySelector('[data-testid="review-progress"]').value)) >= stoppedAt,
          'the review began again from the start');
        await waitReviewDone(page);
        // Searches sent to the review engine: 5 positions of the first game,
        // 7 of this one, and the one stopped may be asked again.
        await page.click('text=Engine output');
        await page.waitForFunction(() => document.querySelector('[data-testid="log"]').textContent.includes('review> go'));
        const searches = (await text(page, 'log')).split('\n').filter((line) => line.startsWith('review> go')).length;
        assert.ok(searches >= 12 && searches <= 13, `${searches} searches for 12 positions`);
        const clean = await moveList(page);
        assert.equal(clean.length, 6);
        assert.deepEqual(clean.map((move) => move.cls), ['', '', '', '', '', '']);
        assert.deepEqual(clean.map((move) => move.text), ['e4', 'e5', 'Nf3', 'Nc6', 'Bb5', 'a6']);
        assert.equal(await text(page, 'counts-black'), '0 inaccuracies, 0 mistakes, 0 blunders');

        // A click on an engine line plays it out on the board after the game.
        await page.click('[data-testid="analyse"]');
        await waitDepth(page, 4);
        // The line as painted when clicked, in the same task as the click.
        const clicked = await page.evaluate(() => {
          const painted = document.querySelector('[data-testid="pv"]');
          const shown = painted.textContent;
          painted.click();
          return shown;
        });
        const line = checkLine(fenAfter(['e4', 'e5', 'Nf3', 'Nc6', 'Bb5', 'a6'], 6), clicked);
        await page.waitForFunction((count) => document.querySelectorAll('[data-testid^="move-"]').length === count, 6 + line.length)
          .catch(async () => assert.fail(`"${clicked}" clicked, "${await text(page, 'moves')}" played`));
        await page.waitForFunction((fen) => document.querySelector('[data-testid="board"]').dataset.fen === fen,
          line[line.length - 1].after, { timeout: 10000 });
        assert.deepEqual((await moveList(page)).slice(6).map((move) => move.text), line.map((move) => move.san));
        await page.click('[data-testid="analyse"]');

        assert.deepEqual(problems, [], 'console errors, page errors or failed requests');
      } finally {
        await page.close();
        await server.close();
      }
    });
}
