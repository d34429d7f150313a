// The page's SAN worker: writes the engine lines the page is about to paint
// in SAN, off the main thread, where chess.js may take its time.
// In:  {id, fen, lines: [[uci, ...], ...], limit}
// Out: {id, texts: [san text of each line]}

import { Chess } from '/vendor/chess.js/dist/esm/chess.js';
import { createSanWriter } from './san.js';

const write = createSanWriter(Chess);

self.onmessage = ({ data }) => {
  const texts = data.lines.map((uci) => write(data.fen, uci, data.limit).text);
  self.postMessage({ id: data.id, texts });
};
