// A reviewed game as PGN, and a game's moves from SAN to UCI: chess.js
// knows the rules, review.mjs the numbers.  No DOM and no Node here, so the
// page's "Download PGN" and orvane-review write the same text.
//
// The movetext carries [%eval] comments (pawns or #mates from White's side,
// as lichess, ChessBase and Scid read them) after each analysed move, NAGs
// $6, $2 and $4 for inaccuracies, mistakes and blunders, the better line as
// a variation after each mistake and blunder, and each side's accuracy in a
// comment before the first move.

import { Chess } from 'chess.js';
import { StartFen } from './review.mjs';

const Nags = { inaccuracy: '$6', mistake: '$2', blunder: '$4' };
const Names = { inaccuracy: 'Inaccuracy', mistake: 'Mistake', blunder: 'Blunder' };
const RosterTags = ['Event', 'Site', 'Date', 'Round', 'White', 'Black', 'Result'];
const LineWidth = 79;

// "0.35", "-1.20", "#3", "#-2" for a score from White's side; "#0" for a
// checkmate on the board.
export function formatEval(score) {
  if (score.mate !== undefined) return `#${score.mate}`;
  return (score.cp / 100).toFixed(2);
}

// The [%eval] command, kept on one line when the text wraps.
function evalTag(score) {
  return `[%eval\u00a0${formatEval(score)}]`;
}

// Plays SAN moves from a FEN.  Returns {fen, moves (UCI), san, ending} or
// throws an Error naming the first move that cannot be played.
export function gameFromSan(fen, sanMoves) {
  const chess = new Chess(fen || StartFen);
  const moves = [];
  const san = [];
  for (const text of sanMoves) {
    const number = `${chess.moveNumber()}${chess.turn() === 'w' ? '.' : '...'}`;
    let move;
    try {
      move = chess.move(text);
    } catch {
      throw new Error(`move ${number} ${text} cannot be played here`);
    }
    moves.push(move.from + move.to + (move.promotion || ''));
    san.push(move.san);
  }
  let ending;
  if (chess.isCheckmate()) ending = 'checkmate';
  else if (chess.isStalemate()) ending = 'stalemate';
  return { fen: fen || StartFen, moves, san, ending };
}

// SAN of a line of UCI moves from a FEN, with move numbers; stops before the
// first move that is not legal.  `first` is added after the first move.
function lineText(fen, uciMoves, first) {
  const chess = new Chess(fen);
  const parts = [];
  for (const uci of uciMoves) {
    const number = chess.moveNumber();
    const white = chess.turn() === 'w';
    let move;
    try {
      move = chess.move({ from: uci.slice(0, 2), to: uci.slice(2, 4), promotion: uci[4] });
    } catch {
      break;
    }
    if (white || parts.length === 0) parts.push(`${number}${white ? '.' : '...'}`);
    parts.push(move.san);
    if (parts.length <= 2 && first) parts.push(first);
  }
  return parts.join(' ');
}

function percent(value) {
  return value === null ? '-' : `${value.toFixed(1)}%`;
}

// The comment before the first move: each side's accuracy and classes.
export function summaryComment(review, engineName) {
  const count = (side) => {
    const c = review.counts[side];
    const plural = (n, one, many) => `${n} ${n === 1 ? one : many}`;
    return `${plural(c.inaccuracy, 'inaccuracy', 'inaccuracies')}, ${plural(c.mistake, 'mistake', 'mistakes')}, ` +
           plural(c.blunder, 'blunder', 'blunders');
  };
  const limit = Object.entries(review.limit).map(([k, v]) => `${k} ${v}`).join(', ');
  const unfinished = review.complete ? '' : ` (stopped after ${review.positions.length} positions)`;
  return `Accuracy: White ${percent(review.accuracy.white)} (${count('white')}), ` +
         `Black ${percent(review.accuracy.black)} (${count('black')}). ` +
         `Reviewed by ${engineName || 'the engine'}, ${limit}${unfinished}.`;
}

function tagLine(name, value) {
  return `[${name} "${String(value).replace(/\\/g, '\\\\').replace(/"/g, '\\"')}"]`;
}

// Joins the words of the tokens into lines of at most LineWidth characters.
function wrap(tokens) {
  const lines = [];
  let line = '';
  for (const token of tokens.join(' ').split(' ')) {
    if (line && line.length + 1 + token.length > LineWidth) {
      lines.push(line);
      line = token;
    } else {
      line = line ? `${line} ${token}` : token;
    }
  }
  if (line) lines.push(line);
  return lines.join('\n').replace(/\u00a0/g, ' ');
}

// The reviewed game as PGN text (ending with a blank line).  `tags` is an
// object of the game's tags in their order; the Seven Tag Roster comes
// first, FEN and SetUp are added for a game from another position.
export function reviewPgn(review, tags = {}, engineName = '') {
  const { game, positions, moves } = review;
  const fen = game.fen || StartFen;
  const all = { ...tags };
  if (!all.Result) all.Result = '*';
  if (fen !== StartFen) {
    all.SetUp = '1';
    all.FEN = fen;
  }
  const header = [];
  for (const name of RosterTags) header.push(tagLine(name, all[name] !== undefined ? all[name] : '?'));
  for (const [name, value] of Object.entries(all))
    if (!RosterTags.includes(name)) header.push(tagLine(name, value));

  const chess = new Chess(fen);
  const tokens = [`{ ${summaryComment(review, engineName)} }`];
  let needNumber = true;
  game.moves.forEach((uci, i) => {
    const number = chess.moveNumber();
    const white = chess.turn() === 'w';
    const before = chess.fen();
    const move = chess.move({ from: uci.slice(0, 2), to: uci.slice(2, 4), promotion: uci[4] });
    // A no-break space keeps the number with its move when lines wrap.
    if (white) tokens.push(`${number}.\u00a0${move.san}`);
    else if (needNumber) tokens.push(`${number}...\u00a0${move.san}`);
    else tokens.push(move.san);
    needNumber = false;
    const judged = moves[i];
    if (judged && judged.class) tokens.push(Nags[judged.class]);
    const after = positions[i + 1];
    const words = [];
    if (after && !(after.score.mate === 0)) words.push(evalTag(after.score));
    const better = judged && (judged.class === 'mistake' || judged.class === 'blunder');
    if (judged && judged.class) {
      const bestSan = lineText(before, [judged.best]).replace(/^\d+\.+ /, '');
      words.push(`${Names[judged.class]}. ${bestSan} was best.`);
    }
    if (words.length) {
      tokens.push(`{ ${words.join(' ')} }`);
      needNumber = true;
    }
    if (better) {
      tokens.push(`( ${lineText(before, judged.pv, `{ ${evalTag(positions[i].score)} }`)} )`);
      needNumber = true;
    }
  });
  tokens.push(all.Result);
  return `${header.join('\n')}\n\n${wrap(tokens)}\n\n`;
}
