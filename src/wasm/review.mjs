// Game review: runs an engine over every position of a game and judges each
// move, the way lichess's computer analysis does.  No DOM and no Node here:
// the page and orvane-review both import this module, so for the same game,
// engine state and search limit they give the same numbers.
//
// Units.  Scores are kept from White's side: {cp} or {mate} (mate > 0: White
// mates).  Win% is White's winning chance, 0..100, from lichess's published
// curve; a mate on the board or announced is 0 or 100.  A move is judged
// from its mover's side: the drop is the mover's Win% before the move minus
// the mover's Win% after it, never below zero.
//
// Engine.  The review asks an `analyse(position, limit, signal)` function
// for each position, in game order; `uciAnalyser` builds one from any UCI
// engine reached through a send function and its output lines.  The numbers
// repeat exactly only when the engine does: one search thread, a node or
// depth limit, and the same state at the start (a freshly started engine
// with the same Hash; "ucinewgame" does not reset every engine's history).
//
// Stop and resume.  An AbortSignal stops the review between or during
// searches; a search that was stopped is dropped, and passing the returned
// review back as `resume` analyses from that position on.

// lichess's curves and the class thresholds (drops in Win% points).
export const WinSlope = 0.00368208;
export const AccuracyScale = 103.1668;
export const AccuracyDecay = 0.04354;
export const AccuracyOffset = 3.1669;
export const ClassDrops = [[15, 'blunder'], [10, 'mistake'], [5, 'inaccuracy']];

// A game is decided for the mover when he is at least this far ahead (or
// behind) both before and after his move: seven pawns, Win% 92.9.  A side
// that stays that clearly winning or lost is not marked, whatever it plays.
export const DecidedCp = 700;

export const StartFen = 'rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1';

// White's winning chance in percent for a score from White's side.  A
// checkmated position has {mate: 0, winner}.
export function winPercent(score) {
  if (score.mate !== undefined) {
    if (score.mate === 0) return score.winner === 'white' ? 100 : 0;
    return score.mate > 0 ? 100 : 0;
  }
  return 50 + 50 * (2 / (1 + Math.exp(-WinSlope * score.cp)) - 1);
}

// The accuracy of one move, 0..100, from the mover's Win% before and after.
export function moveAccuracy(winBefore, winAfter) {
  const drop = Math.max(0, winBefore - winAfter);
  const accuracy = AccuracyScale * Math.exp(-AccuracyDecay * drop) - AccuracyOffset;
  return Math.min(100, Math.max(0, accuracy));
}

const DecidedWin = winPercent({ cp: DecidedCp });

// True when the move left an already decided game decided for the same side.
export function isDecided(winBefore, winAfter) {
  const won = (win) => win >= DecidedWin;
  const lost = (win) => win <= 100 - DecidedWin;
  return (won(winBefore) && won(winAfter)) || (lost(winBefore) && lost(winAfter));
}

// '', 'inaccuracy', 'mistake' or 'blunder' for a move from the mover's Win%
// before and after; nothing for the engine's own move or a decided game.
export function classifyMove(winBefore, winAfter, played, best) {
  if (played === best || isDecided(winBefore, winAfter)) return '';
  const drop = winBefore - winAfter;
  for (const [threshold, name] of ClassDrops) if (drop >= threshold) return name;
  return '';
}

function mean(values, weights) {
  let sum = 0;
  let total = 0;
  values.forEach((value, i) => {
    sum += value * weights[i];
    total += weights[i];
  });
  return sum / total;
}

function standardDeviation(values) {
  const average = values.reduce((a, b) => a + b, 0) / values.length;
  return Math.sqrt(values.reduce((a, b) => a + (b - average) ** 2, 0) / values.length);
}

// Each side's game accuracy from White's Win% of every position (the start
// and after each move) and the side to move at the start.  As lichess does:
// the mean of the side's move accuracies weighted by how much the game swung
// around each move (the standard deviation of Win% in a window of
// positions, held to 0.5..12), averaged with their harmonic mean, which
// makes one blunder count more than many good moves can hide.  A side with
// no move gets null.
export function gameAccuracy(wins, whiteStarts = true) {
  const moves = wins.length - 1;
  const result = { white: null, black: null };
  if (moves < 1) return result;
  const windowSize = Math.min(8, Math.max(2, Math.floor(moves / 10)));
  const weights = [];
  for (let i = 0; i < moves; i++) {
    const start = Math.max(0, Math.min(i + 2 - windowSize, wins.length - windowSize));
    const window = wins.slice(start, start + windowSize);
    weights.push(Math.min(12, Math.max(0.5, standardDeviation(window))));
  }
  for (const side of ['white', 'black']) {
    const accuracies = [];
    const sideWeights = [];
    for (let i = 0; i < moves; i++) {
      const white = (i % 2 === 0) === whiteStarts;
      if (white !== (side === 'white')) continue;
      const before = white ? wins[i] : 100 - wins[i];
      const after = white ? wins[i + 1] : 100 - wins[i + 1];
      accuracies.push(moveAccuracy(before, after));
      sideWeights.push(weights[i]);
    }
    if (accuracies.length === 0) continue;
    const harmonic = accuracies.length / accuracies.reduce((a, x) => a + 1 / Math.max(1, x), 0);
    result[side] = (mean(accuracies, sideWeights) + harmonic) / 2;
  }
  return result;
}

// Whether White moves first from a FEN.
export function whiteStartsIn(fen) {
  return (fen || StartFen).split(/\s+/)[1] !== 'b';
}

// Turns an engine's answer for position `ply` (score from the side to move)
// into a position entry with the score from White's side.  A position with
// no move has no score: checkmate when the game says so, else a draw.
export function positionEntry(answer, ply, whiteStarts, ending) {
  const whiteToMove = (ply % 2 === 0) === whiteStarts;
  const sign = whiteToMove ? 1 : -1;
  let score;
  if (!answer.best && !answer.score) {
    score = ending === 'checkmate' ? { mate: 0, winner: whiteToMove ? 'black' : 'white' } : { cp: 0 };
  } else if (answer.score.mate !== undefined) {
    score = answer.score.mate === 0 ? { mate: 0, winner: whiteToMove ? 'black' : 'white' } : { mate: sign * answer.score.mate };
  } else {
    score = { cp: sign * answer.score.cp };
  }
  return { ply, score, win: winPercent(score), best: answer.best || null, pv: answer.pv || [] };
}

// Judges every move whose positions before and after are both analysed and
// sums up each side: accuracy and the count of each class.
export function summarise(game, positions) {
  const whiteStarts = whiteStartsIn(game.fen);
  const moves = [];
  const counts = {};
  for (const side of ['white', 'black']) counts[side] = { inaccuracy: 0, mistake: 0, blunder: 0 };
  for (let ply = 1; ply < positions.length; ply++) {
    const white = ((ply - 1) % 2 === 0) === whiteStarts;
    const side = white ? 'white' : 'black';
    const before = white ? positions[ply - 1].win : 100 - positions[ply - 1].win;
    const after = white ? positions[ply].win : 100 - positions[ply].win;
    const played = game.moves[ply - 1];
    const judgement = classifyMove(before, after, played, positions[ply - 1].best);
    if (judgement) counts[side][judgement]++;
    moves.push({ ply, move: played, side, winBefore: before, winAfter: after,
                 accuracy: moveAccuracy(before, after), class: judgement,
                 best: positions[ply - 1].best, pv: positions[ply - 1].pv });
  }
  const accuracy = gameAccuracy(positions.map((entry) => entry.win), whiteStarts);
  return { moves, counts, accuracy };
}

// Reviews `game` = {fen (default the start), moves: [UCI], ending:
// 'checkmate' | 'stalemate' | undefined} with `analyse`.  Options: limit
// ({depth} | {nodes} | {movetime}), signal (an AbortSignal), onProgress(done,
// total, entry) after each position, resume (a review this returned before,
// for the same game).  Returns {game, limit, positions, complete, moves,
// counts, accuracy}; positions[ply] is the analysis before move ply + 1.
export async function reviewGame(game, analyse, options = {}) {
  const limit = options.limit || { depth: 12 };
  const whiteStarts = whiteStartsIn(game.fen);
  const positions = options.resume ? options.resume.positions.slice() : [];
  const total = game.moves.length + 1;
  const signal = options.signal;
  while (positions.length < total && !(signal && signal.aborted)) {
    const ply = positions.length;
    const answer = await analyse({ fen: game.fen || StartFen, moves: game.moves.slice(0, ply) }, limit, signal);
    if (!answer || (signal && signal.aborted)) break;
    const entry = positionEntry(answer, ply, whiteStarts, game.ending);
    positions.push(entry);
    if (options.onProgress) options.onProgress(positions.length, total, entry);
  }
  return { game, limit, positions, complete: positions.length === total, ...summarise(game, positions) };
}

// Reads one "info" line: {score: {cp}|{mate}, bound, pv} from the side to
// move, or null for a line without a score.
export function readInfo(line) {
  const words = line.trim().split(/\s+/);
  if (words[0] !== 'info' || words[1] === 'string') return null;
  const at = words.indexOf('score');
  if (at < 0) return null;
  const kind = words[at + 1];
  const value = Number(words[at + 2]);
  if ((kind !== 'cp' && kind !== 'mate') || !Number.isFinite(value)) return null;
  const multipv = words.indexOf('multipv');
  if (multipv >= 0 && words[multipv + 1] !== '1') return null;
  const pv = words.indexOf('pv');
  return {
    score: kind === 'cp' ? { cp: value } : { mate: value },
    bound: words.includes('lowerbound') || words.includes('upperbound'),
    pv: pv >= 0 ? words.slice(pv + 1) : [],
  };
}

// The "go" command for a search limit.
export function goCommand(limit) {
  if (limit.nodes) return `go nodes ${limit.nodes}`;
  if (limit.movetime) return `go movetime ${limit.movetime}`;
  return `go depth ${limit.depth || 12}`;
}

// An analyse function over a UCI engine.  `send(line)` writes one command;
// the caller hands every line the engine prints to `receive`.  start()
// runs the handshake and sets the options ({Threads, Hash, ...}); newGame()
// sends "ucinewgame" and clears the table.  One search at a time.
export function uciAnalyser(send) {
  let waiting = null;          // {until: predicate, resolve}
  let last = null;             // the last exact (else any) score of the search
  const options = new Set();

  const waitFor = (until) => new Promise((resolve) => { waiting = { until, resolve }; });
  const ready = () => {
    const answer = waitFor((line) => line === 'readyok');
    send('isready');
    return answer;
  };

  return {
    receive(line) {
      line = line.trim();
      const option = /^option name (.+?) type /.exec(line);
      if (option) options.add(option[1]);
      const info = readInfo(line);
      if (info && (!info.bound || !last || last.bound)) last = info;
      if (waiting && waiting.until(line)) {
        const { resolve } = waiting;
        waiting = null;
        resolve(line);
      }
    },
    async start(settings = {}) {
      const handshake = waitFor((line) => line === 'uciok');
      send('uci');
      await handshake;
      for (const [name, value] of Object.entries(settings))
        if (value !== undefined && value !== null) send(`setoption name ${name} value ${value}`);
      await ready();
    },
    async newGame() {
      send('ucinewgame');
      if (options.has('Clear Hash')) send('setoption name Clear Hash');
      await ready();
    },
    async analyse(position, limit, signal) {
      last = null;
      const done = waitFor((line) => line.startsWith('bestmove'));
      const moves = position.moves.length ? ` moves ${position.moves.join(' ')}` : '';
      send(`position fen ${position.fen}${moves}`);
      send(goCommand(limit));
      const onAbort = () => send('stop');
      if (signal) signal.addEventListener('abort', onAbort, { once: true });
      const line = await done;
      if (signal) signal.removeEventListener('abort', onAbort);
      if (signal && signal.aborted) return null;
      const best = line.split(/\s+/)[1];
      const move = best && best !== '0000' && best !== '(none)' ? best : null;
      if (!move) return { score: null, best: null, pv: [] };
      const score = last ? last.score : { cp: 0 };
      const pv = last && last.pv[0] === move ? last.pv : [move];
      return { score, best: move, pv };
    },
  };
}
