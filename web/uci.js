// The page's reading of UCI text and of moves typed by the user: no DOM here,
// so Node can load this module too.

import { Chess } from 'chess.js';
import { createSanWriter, uciToMove } from './san.js';

export { numberMoves, uciToMove } from './san.js';

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

// Writes a line of UCI moves from a FEN in SAN with move numbers, at most
// `limit` moves of it, ending at the first move that is not legal.
export function pvToSan(fen, uciMoves, limit = Infinity) {
  return createSanWriter(Chess)(fen, uciMoves, limit).text;
}

// Names the move about to be played in `chess` as players write it: "6. Ke3"
// or "6... Ke6".
function numbered(chess, san) {
  return `${chess.moveNumber()}${chess.turn() === 'w' ? '.' : '...'} ${san}`;
}

// Reads a pasted game with chess.js's PGN reader: tags (a FEN tag gives the
// start), comments, variations, NAGs, move numbers or none, SAN or UCI
// moves. Returns {root, moves: [chess.js moves of the main line], tags} or {error}
// naming the first move that cannot be played as "6. Ke3".
export function readGame(text) {
  const chess = new Chess();
  try {
    chess.loadPgn(text);
  } catch (error) {
    const illegal = /^Invalid move in PGN: (.*)$/.exec(error.message);
    if (illegal) return { error: `${numbered(chess, illegal[1])} cannot be played here` };
    if (error.location) return { error: `the text cannot be read as a game at line ${error.location.start.line}, column ${error.location.start.column}` };
    return { error: error.message.replace(/^Invalid FEN: /, 'the FEN tag is not valid: ') };
  }
  const moves = chess.history({ verbose: true });
  if (moves.length === 0) return { error: 'no moves found' };
  // The tags the text gave; chess.js fills the rest with unknowns.
  const tags = Object.fromEntries(Object.entries(chess.getHeaders())
    .filter(([name, value]) => name !== 'FEN' && name !== 'SetUp' && value !== '?' && value !== '????.??.??'));
  return { root: moves[0].before, moves, tags };
}

// Why chess.js or the engine would refuse a FEN, or null when both take it.
// Beyond chess.js's checks the engine wants at most 8 pawns and 16 pieces a
// side, and the side not to move out of check.
export function fenProblem(fen) {
  let chess;
  try {
    chess = new Chess(fen.trim());
  } catch (error) {
    return error.message.replace(/^Invalid FEN: /, '');
  }
  const board = chess.board().flat().filter(Boolean);
  for (const [colour, name] of [['w', 'white'], ['b', 'black']]) {
    const own = board.filter((piece) => piece.color === colour);
    if (own.filter((piece) => piece.type === 'p').length > 8) return `more than 8 ${name} pawns`;
    if (own.length > 16) return `more than 16 ${name} pieces`;
  }
  const fields = chess.fen().split(' ');
  const turned = new Chess([fields[0], fields[1] === 'w' ? 'b' : 'w', '-', '-', '0', '1'].join(' '));
  if (turned.isCheck()) return 'the side not to move is in check';
  return null;
}
