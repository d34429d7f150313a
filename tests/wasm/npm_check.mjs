// Run from a folder where the orvane package was installed from its
// tarball: import('orvane') gives the factory, and both engines answer
// "uci", search a position to a bestmove, take a file through writeFile
// and read it as their book, and end with status 0 when terminated.
import { strict as assert } from "node:assert";

const { default: Orvane } = await import("orvane");
assert.equal(typeof Orvane, "function", "the package's default export is the factory");

// A Polyglot book of one entry: 1. e4 from the start (key of the start position).
const book = new Uint8Array(16);
new DataView(book.buffer).setBigUint64(0, 0x463b96181691fc9cn);
new DataView(book.buffer).setUint16(8, (1 << 9) | (4 << 6) | (3 << 3) | 4);  // e2e4: from row, from file, to row, to file
new DataView(book.buffer).setUint16(10, 1);

for (const engineName of ["threads", "single"]) {
  const engine = await Orvane({ engine: engineName });
  assert.equal(engine.flavour, engineName);
  const lines = [];
  let waiting = null;
  engine.onLine = (line) => {
    lines.push(line);
    if (waiting && waiting.test(line)) waiting.resolve(line);
  };
  const until = (pattern) => new Promise((resolve, reject) => {
    const found = lines.find((line) => pattern.test(line));
    if (found) return resolve(found);
    const timer = setTimeout(() => reject(new Error(engineName + ": no " + pattern + " after " + lines.slice(-3))), 30000);
    waiting = { test: (line) => pattern.test(line), resolve: (line) => { clearTimeout(timer); resolve(line); } };
  });
  engine.send("uci");
  await until(/^uciok$/);
  const name = await engine.writeFile("books/user.bin", book);
  engine.send("setoption name Book File value " + name);
  engine.send("position startpos");
  engine.send("go depth 6");
  assert.equal(await until(/^bestmove /), "bestmove e2e4", engineName + ": the book written by writeFile answers");
  lines.length = 0;
  engine.send("setoption name OwnBook value false");
  engine.send("position startpos moves e2e4 e7e5");
  engine.send("go depth 8");
  const best = await until(/^bestmove /);
  assert.match(best, /^bestmove [a-h][1-8][a-h][1-8]/, engineName + ": " + best);
  engine.terminate();
  assert.equal(await engine.exited, 0, engineName + ": exit status");
  console.log("orvane " + engineName + ": " + best);
}
