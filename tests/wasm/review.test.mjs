// The review module's numbers and its engine loop, under Node without an
// engine: fixed scores from review-cases.json (the page's tests read the
// same file), and a scripted UCI engine for the loop (side to move, mates,
// bounds, checkmate on the board, stop and resume).
//   node --test tests/wasm/review.test.mjs
import test from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { winPercent, moveAccuracy, classifyMove, gameAccuracy, reviewGame, uciAnalyser }
  from '../../src/wasm/review.mjs';

const cases = JSON.parse(readFileSync(new URL('./review-cases.json', import.meta.url)));

function near(actual, expected, what) {
  if (expected === null) return assert.equal(actual, null, what);
  assert.ok(Math.abs(actual - expected) < 1e-3, `${what}: ${actual}, expected ${expected}`);
}

test('win chance, move accuracy, classes and game accuracy on fixed scores', () => {
  for (const section of ['winPercent', 'moveAccuracy', 'classes', 'gameAccuracy'])
    assert.ok(cases[section].length > 0, `${section} has cases`);
  for (const [score, expected] of cases.winPercent) near(winPercent(score), expected, JSON.stringify(score));
  for (const [before, after, expected] of cases.moveAccuracy)
    near(moveAccuracy(before, after), expected, `accuracy ${before} -> ${after}`);
  for (const [before, after, played, best, expected] of cases.classes)
    assert.equal(classifyMove(before, after, played, best), expected, `${before} -> ${after}, ${played} (best ${best})`);
  for (const c of cases.gameAccuracy) {
    const accuracy = gameAccuracy(c.wins, c.whiteStarts);
    near(accuracy.white, c.white, `white in ${c.wins}`);
    near(accuracy.black, c.black, `black in ${c.wins}`);
  }
});

// The fool's mate, and what a UCI engine says (from the side to move)
// before each of its moves and in the final, checkmated position.
const FoolsMate = { moves: ['f2f3', 'e7e5', 'g2g4', 'd8h4'], ending: 'checkmate' };
const Answers = [
  ['info depth 9 score cp 20 pv e2e4 e7e5', 'bestmove e2e4'],
  ['info depth 9 score cp 40 pv e7e5 e2e4', 'bestmove e7e5'],
  ['info depth 9 score cp -60 pv e2e4 b8c6', 'bestmove e2e4'],
  ['info depth 9 score cp 500 lowerbound pv d8h4', 'info depth 9 score mate 1 pv d8h4',
   'info depth 9 multipv 2 score cp 0 pv a7a6', 'info depth 10 score cp 900 upperbound pv d8h4', 'bestmove d8h4'],
  ['info depth 0 time 0 nodes 1', 'bestmove 0000'],
];

// A scripted engine: answers "go" after the last "position" from Answers,
// or, for the ply in `hold`, only once "stop" comes (with a best move of
// the stopped search that must not be used).
function scriptedEngine(hold = -1) {
  let analyser;
  let ply = 0;
  const sent = [];
  const say = (lines) => setTimeout(() => lines.forEach((line) => analyser.receive(line)), 1);
  analyser = uciAnalyser((line) => {
    sent.push(line);
    if (line === 'uci') say(['id name scripted', 'option name Clear Hash type button', 'uciok']);
    else if (line === 'isready') say(['readyok']);
    else if (line.startsWith('position')) ply = line.split(' moves ')[1]?.split(' ').length || 0;
    else if (line.startsWith('go') && ply !== hold) say(Answers[ply]);
    else if (line === 'stop' && ply === hold) say(['bestmove a7a6']);
  });
  return { analyser, sent };
}

test('a game through a UCI engine: scores from White, mates, bounds, checkmate, classes', async () => {
  const { analyser, sent } = scriptedEngine();
  await analyser.start({ Threads: 1, Hash: 16 });
  await analyser.newGame();
  const seen = [];
  const review = await reviewGame(FoolsMate, analyser.analyse, { limit: { nodes: 5000 }, onProgress: (done, total) => seen.push(`${done}/${total}`) });
  assert.deepEqual(seen, ['1/5', '2/5', '3/5', '4/5', '5/5']);
  assert.ok(sent.includes('setoption name Clear Hash') && sent.includes('go nodes 5000'));
  assert.ok(sent.includes(`position fen ${'rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1'} moves f2f3 e7e5 g2g4`));
  assert.deepEqual(review.positions.map((p) => p.score),
    [{ cp: 20 }, { cp: -40 }, { cp: -60 }, { mate: -1 }, { mate: 0, winner: 'black' }]);
  assert.deepEqual(review.positions.map((p) => p.best), ['e2e4', 'e7e5', 'e2e4', 'd8h4', null]);
  assert.deepEqual(review.positions[0].pv, ['e2e4', 'e7e5']);
  assert.deepEqual(review.positions[3].pv, ['d8h4']);
  assert.deepEqual(review.moves.map((m) => m.class), ['inaccuracy', '', 'blunder', '']);
  assert.deepEqual(review.counts, { white: { inaccuracy: 1, mistake: 0, blunder: 1 }, black: { inaccuracy: 0, mistake: 0, blunder: 0 } });
  near(review.moves[2].winBefore, 44.4992, 'White before g4');
  assert.equal(review.moves[2].winAfter, 0);
  assert.equal(review.complete, true);
  near(review.accuracy.black, 99.9999, 'black accuracy');
  assert.ok(review.accuracy.white < 40, `white accuracy ${review.accuracy.white}`);
});

test('a review stopped during a search drops that search and resumes to the same numbers', async () => {
  const whole = await reviewGame(FoolsMate, scriptedEngine().analyser.analyse, { limit: { depth: 9 } });

  const held = scriptedEngine(2);
  const controller = new AbortController();
  setTimeout(() => controller.abort(), 50);
  const stopped = await reviewGame(FoolsMate, held.analyser.analyse, { limit: { depth: 9 }, signal: controller.signal });
  assert.equal(stopped.complete, false);
  assert.equal(stopped.positions.length, 2);
  assert.ok(held.sent.includes('stop'));

  // The engine's answer to a stopped search is not an analysis...
  const direct = scriptedEngine(0);
  const stop = new AbortController();
  setTimeout(() => stop.abort(), 20);
  assert.equal(await direct.analyser.analyse({ fen: 'startpos', moves: [] }, { depth: 9 }, stop.signal), null);
  // ...nor is the answer of an analyse function that ignores the signal.
  const deaf = new AbortController();
  const ignoring = async (position, limit) => {
    if (position.moves.length === 1) deaf.abort();
    return { score: { cp: 1 }, best: 'a2a3', pv: ['a2a3'] };
  };
  const cut = await reviewGame(FoolsMate, ignoring, { limit: { depth: 9 }, signal: deaf.signal });
  assert.equal(cut.positions.length, 1);

  const rest = scriptedEngine();
  const resumed = await reviewGame(FoolsMate, rest.analyser.analyse, { limit: { depth: 9 }, resume: stopped });
  assert.equal(rest.sent.filter((line) => line.startsWith('go')).length, 3, 'only the positions not yet analysed');
  assert.equal(resumed.complete, true);
  assert.deepEqual(resumed.positions, whole.positions);
  assert.deepEqual(resumed.moves, whole.moves);
  assert.deepEqual(resumed.accuracy, whole.accuracy);
});
