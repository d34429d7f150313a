// Openings by position: web/openings.tsv, in the columns of lichess's
// chess-openings data set (eco, name, pgn; CC0), read once into a map from
// a position (board, side, castling, en passant) to its ECO code and name.
// No DOM here: the text is handed in.

// The part of a FEN that names a position whatever the move counters say.
export function positionKey(fen) {
  return fen.trim().split(/\s+/).slice(0, 4).join(' ');
}

// Reads the TSV text with chess.js's Chess class; a row whose moves cannot
// be played is left out. Returns Map(positionKey -> {eco, name}).
export function readOpenings(Chess, text) {
  const openings = new Map();
  for (const row of text.split('\n').slice(1)) {
    const [eco, name, pgn] = row.split('\t');
    if (!eco || !name || !pgn) continue;
    const chess = new Chess();
    try {
      for (const token of pgn.trim().split(/\s+/)) if (!/^\d+\.+$/.test(token)) chess.move(token);
    } catch {
      continue;
    }
    openings.set(positionKey(chess.fen()), { eco, name });
  }
  return openings;
}

// The opening of a game: the entry of the latest of its positions (FENs from
// the start on) that the map knows, or null.
export function nameOpening(openings, fens) {
  for (let i = fens.length - 1; i >= 0; i--) {
    const found = openings.get(positionKey(fens[i]));
    if (found) return found;
  }
  return null;
}
