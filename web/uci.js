// The page's reading of UCI text and of moves typed by the user: no DOM here,
// so Node can load this module too.

import { Chess } from 'chess.js';

// Reads one "info" line into {depth, seldepth, multipv, score, bound, nodes,
// nps, time, pv}, any of them missing when the line has none, or null for an
// "info string" or a line that is not "info". score is {type: 'cp'|'mate',
// value} from the side to move's point of view, as the engine sends it.
export function parseInfo(line) {
  const words = line.trim().split(/\s+/);
  if (words[0] !== 'info' || words[1] === 'string') return null;
  const info = { multipv: 1, pv: [] };
  for (let i = 1; i < words.length; i++) {
    const word = words[i];
    const next = words[i + 1];
    switch (word) {
      case 'depth': case 'seldepth': case 'multipv': case 'nodes': case 'nps': case 'time': case 'hashfull':
        info[word] = Number(next);
        i++;
        break;
      case 'score':
        if ((next === 'cp' || next === 'mate') && i + 2 < words.length) {
          info.score = { type: next, value: Number(words[i + 2]) };
          i += 2;
        }
        break;
      case 'lowerbound': case 'upperbound':
        info.bound = word;
        break;
      case 'pv':
        info.pv = words.slice(i + 1);
        i = words.length;
        break;
      default:
        break;
    }
  }
  return info;
}

// Turns a score from the side to move's view into White's view.
export function whiteScore(score, sideToMove) {
  return sideToMove === 'w' ? score : { type: score.type, value: -score.value };
}

// Text of a score from White's view: "+0.35", "-1.20", "0.00", "#3" (White
// mates in 3), "#-2" (Black mates in 2).
export function formatScore(score) {
  if (score.type === 'mate') return `#${score.value}`;
  const pawns = score.value / 100;
  if (score.value === 0) return '0.00';
  return `${pawns > 0 ? '+' : ''}${pawns.toFixed(2)}`;
}

// White's share of the evaluation bar, 0 to 1: a logistic curve of the
// centipawns (one pawn up fills about 62%), full or empty for a mate.
export function whiteShare(score) {
  if (score.type === 'mate') {
    if (score.value > 0) return 1;
    if (score.value < 0) return 0;
    return 0.5;
  }
  return 1 / (1 + Math.exp(-score.value / 200));
}

// Converts a move in UCI notation ("e2e4", "e7e8q") to a chess.js move object
// argument; castling arrives as the king's move, as chess.js wants it.
export function uciToMove(uci) {
  const move = { from: uci.slice(0, 2), to: uci.slice(2, 4) };
  if (uci.length > 4) move.promotion = uci[4];
  return move;
}

// Writes a line of UCI moves from a FEN in SAN with move numbers
// ("12... Nf6 13. Bg5 h6"). Stops at the first move that is not legal there,
// so a stale line never shows a wrong move.
export function pvToSan(fen, uciMoves) {
  const chess = new Chess(fen);
  const parts = [];
  for (const uci of uciMoves) {
    const moveNumber = chess.moveNumber();
    const white = chess.turn() === 'w';
    let move;
    try {
      move = chess.move(uciToMove(uci));
    } catch {
      break;
    }
    if (white) parts.push(`${moveNumber}. ${move.san}`);
    else if (parts.length === 0) parts.push(`${moveNumber}... ${move.san}`);
    else parts.push(move.san);
  }
  return parts.join(' ');
}

// Reads a pasted list of moves (SAN or UCI, with or without move numbers,
// comments, annotations, PGN tags or a result) and plays it from `fen`.
// Returns {fen, moves: [chess.js moves]} or {error} naming the first move
// that cannot be played.
export function playMoveList(text, fen) {
  const chess = new Chess(fen);
  const cleaned = text
    .replace(/\[[^\]]*\]/g, ' ')      // PGN tags
    .replace(/\{[^}]*\}/g, ' ')       // comments
    .replace(/;[^\n]*/g, ' ')         // rest-of-line comments
    .replace(/\$\d+/g, ' ')           // numeric annotations
    .replace(/\d+\.(\.\.)?/g, ' ')    // move numbers "12." and "12..."
    .replace(/(1-0|0-1|1\/2-1\/2|\*)\s*$/, ' ');
  const tokens = cleaned.split(/\s+/).filter((token) => token !== '');
  const moves = [];
  for (const token of tokens) {
    const word = token.replace(/[!?]+$/, '');
    let move = null;
    try {
      move = chess.move(word);
    } catch {
      move = null;
    }
    if (!move && /^[a-h][1-8][a-h][1-8][qrbn]?$/i.test(word)) {
      try {
        move = chess.move(uciToMove(word.toLowerCase()));
      } catch {
        move = null;
      }
    }
    if (!move) return { error: `move ${moves.length + 1} "${token}" cannot be played here` };
    moves.push(move);
  }
  if (moves.length === 0) return { error: 'no moves found' };
  return { fen: chess.fen(), moves };
}

// Checks a FEN with chess.js; returns null when good or the reason it is not.
export function fenProblem(fen) {
  try {
    new Chess(fen);
    return null;
  } catch (error) {
    return error.message;
  }
}
