// Engine lines in SAN for the page, in a form the page's SAN worker can load
// too: no import here, chess.js's Chess class is handed in (a worker has no
// import map to find "chess.js" by name).

// Converts a move in UCI notation ("e2e4", "e7e8q") to a chess.js move object
// argument; castling arrives as the king's move, as chess.js wants it.
export function uciToMove(uci) {
  const move = { from: uci.slice(0, 2), to: uci.slice(2, 4) };
  if (uci.length > 4) move.promotion = uci[4];
  return move;
}

// Writes moves in SAN with move numbers from a FEN's move number and side to
// move: "12... Nf6 13. Bg5 h6".
export function numberMoves(fen, sans) {
  const fields = fen.trim().split(/\s+/);
  let number = Number(fields[5]) || 1;
  let white = fields[1] !== 'b';
  const parts = [];
  for (const san of sans) {
    if (white) parts.push(`${number}. ${san}`);
    else if (parts.length === 0) parts.push(`${number}... ${san}`);
    else parts.push(san);
    if (!white) number++;
    white = !white;
  }
  return parts.join(' ');
}

// Makes a writer of engine lines in SAN, with chess.js's Chess class, that
// remembers every move it has written (by position and move), so a line that
// grows by a move, or shares its first moves with another, costs chess.js
// only its new moves. A call writes at most `limit` moves and stops,
// incomplete, at the first new move once performance.now() has passed
// `deadline`: {text, complete}. The line ends at the first move that is not
// legal, so a stale line never shows a wrong move.
export function createSanWriter(Chess, maxMoves = 50000) {
  const known = new Map();            // "fen uci" -> {san, after}
  const chess = new Chess();
  let chessFen = chess.fen();
  return function write(fen, uciMoves, limit = Infinity, deadline = Infinity) {
    const sans = [];
    let at = fen;
    for (const uci of uciMoves.slice(0, limit)) {
      const key = `${at} ${uci}`;
      let entry = known.get(key);
      if (!entry) {
        if (performance.now() > deadline) return { text: numberMoves(fen, sans), complete: false };
        if (chessFen !== at) chess.load(at);
        let move;
        try {
          move = chess.move(uciToMove(uci));
        } catch {
          chessFen = at;
          break;
        }
        entry = { san: move.san, after: move.after };
        chessFen = move.after;
        if (known.size >= maxMoves) known.clear();
        known.set(key, entry);
      }
      sans.push(entry.san);
      at = entry.after;
    }
    return { text: numberMoves(fen, sans), complete: true };
  };
}
