// The JavaScript API keeps its promises (orvane.d.ts), in both hosts:
//   node tests/wasm/api_check.mjs BUILD_DIR
// - Node (node.mjs, both engines): writeFile puts files under /mem only,
//   reading relative names there, never on the disk; terminate() ends the
//   engine at once (onExit(0) before it returns, no line after it, writes
//   rejected); "quit" ends it with 0; a refused shared memory starts the
//   single-threaded engine; a start that fails rejects.
// - Browsers (orvane.mjs with orvane-worker.js and the single-threaded
//   engine): each Web Worker is a Node worker thread that runs the page's
//   worker script in a context of its own, as a browser's worker would
//   (importScripts, fetch and postMessage, no Node).  Same checks, plus: a
//   threaded start that fails falls back to the single-threaded engine, an
//   engine that ends or fails during start-up rejects Orvane(), a worker
//   that fails afterwards reaches onError and onExit(1), and every worker
//   made is ended.  In Node, a thread of the threaded engine that fails
//   reaches onError and onExit(1).
// The process must end by itself: a worker or thread left alive keeps it
// running (run.sh bounds it).
import { strict as assert } from "node:assert";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import vm from "node:vm";
import { Worker as NodeWorker, isMainThread, parentPort, workerData } from "node:worker_threads";
import { fileURLToPath, pathToFileURL } from "node:url";

// ---- in Node: the checks ------------------------------------------------------------

// A Polyglot book of one entry: 1. e4 from the start.
function oneMoveBook() {
  const book = new Uint8Array(16);
  const view = new DataView(book.buffer);
  view.setBigUint64(0, 0x463b96181691fc9cn);
  view.setUint16(8, (1 << 9) | (4 << 6) | (3 << 3) | 4);  // e2e4
  view.setUint16(10, 1);
  return book;
}

// Collects the engine's lines and its exits; until(pattern) waits for a line.
function watch(engine, what) {
  const seen = { lines: [], exits: [], errors: [] };
  let waiting = null;
  engine.onLine = (line) => {
    seen.lines.push(line);
    if (waiting && waiting.pattern.test(line)) waiting.resolve(line);
  };
  engine.onError = (line) => seen.errors.push(line);
  engine.onExit = (status) => seen.exits.push(status);
  seen.until = (pattern) => new Promise((resolve, reject) => {
    const found = seen.lines.find((line) => pattern.test(line));
    if (found) return resolve(found);
    const timer = setTimeout(() => reject(new Error(`${what}: no ${pattern} after ${seen.lines.slice(-3)}`)), 60000);
    waiting = { pattern, resolve: (line) => { clearTimeout(timer); waiting = null; resolve(line); } };
  });
  return seen;
}

const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The engine's exit status, which must come within 30 s.
function exitOf(engine, what) {
  let timer = null;
  const late = new Promise((resolve, reject) => { timer = setTimeout(() => reject(new Error(`${what}: no end`)), 30000); });
  return Promise.race([engine.exited, late]).finally(() => clearTimeout(timer));
}

async function rejects(promise, pattern, what) {
  await assert.rejects(promise, pattern, what);
}

// writeFile: a relative name lands in /mem whatever the working folder (which
// here holds a books/ folder of its own), the engine reads the file there,
// and no name leads out of /mem or onto the disk.
async function checkFiles(engine, what, workDir) {
  const seen = watch(engine, what);
  engine.send("uci");
  await seen.until(/^uciok$/);
  const name = await engine.writeFile("books/user.bin", oneMoveBook());
  assert.equal(name, "/mem/books/user.bin", what);
  assert.equal(await engine.writeFile("/mem/books/./user.bin", oneMoveBook()), name, what);
  assert.ok(!fs.existsSync(path.join(workDir, "books", "user.bin")), `${what}: writeFile wrote to the disk`);
  engine.send(`setoption name Book File value ${name}`);
  engine.send("position startpos");
  engine.send("go depth 4");
  assert.equal(await seen.until(/^bestmove /), "bestmove e2e4", `${what}: the book in /mem answers`);
  const outside = path.join(workDir, "outside.bin");
  for (const bad of [outside, "/mem/../" + outside.slice(1), "books/../../tmp/x.bin", "", "books/"])
    await rejects(engine.writeFile(bad, oneMoveBook()), /writeFile/, `${what}: ${JSON.stringify(bad)}`);
  assert.ok(!fs.existsSync(outside), `${what}: writeFile wrote ${outside}`);
  await rejects(engine.writeFile("books/user.bin/x.bin", oneMoveBook()), /cannot write/, what);
  return seen;
}

// terminate() during an infinite search: at once, once, and nothing after.
// In a browser a writeFile still on its way to the worker is rejected too.
async function checkTerminate(engine, seen, what) {
  seen.lines.length = 0;
  engine.send("go infinite");
  await seen.until(/^info depth 2 /);
  engine.send("isready\n".repeat(3000));  // lines on their way when terminate() comes
  await seen.until(/^readyok$/);
  const pending = engine.writeFile("late.bin", new Uint8Array(8));
  engine.terminate();
  if (what.startsWith("node")) assert.equal(await pending, "/mem/late.bin", what);  // written at once
  else await rejects(pending, /ended/, `${what}: a writeFile in flight`);
  assert.deepEqual(seen.exits, [0], `${what}: onExit(0) before terminate() returns`);
  const count = seen.lines.length;
  await rejects(engine.writeFile("after.bin", new Uint8Array(8)), /ended/, `${what}: writeFile after terminate()`);
  engine.send("isready");
  engine.terminate();
  await pause(500);
  assert.equal(seen.lines.length, count, `${what}: lines after terminate(): ${seen.lines.slice(count)}`);
  assert.deepEqual(seen.exits, [0], what);
  assert.equal(await exitOf(engine, what), 0, what);
  assert.ok(!seen.lines.some((line) => line.startsWith("bestmove")), `${what}: a bestmove of a killed search`);
  if (what.startsWith("node"))  // the engine's threads are gone
    assert.ok(!process.getActiveResourcesInfo().includes("MessagePort"), `${what}: ${process.getActiveResourcesInfo()}`);
}

// Runs the page's factory with each Web Worker a worker thread (above).
class BrowserWorker {
  static made = [];
  static scenario = "";
  constructor(url) {
    this.ended = false;
    this.onmessage = this.onerror = this.onmessageerror = null;
    this.thread = new NodeWorker(fileURLToPath(import.meta.url), { workerData: { script: url.href, scenario: BrowserWorker.scenario } });
    // As in a browser, what the worker posted before its end is still
    // dispatched afterwards.
    this.thread.on("message", (data) => setImmediate(() => this.onmessage && this.onmessage({ data })));
    this.thread.on("error", (error) => this.onerror && this.onerror({ message: error.message, preventDefault() {} }));
    BrowserWorker.made.push(this);
  }
  postMessage(message) {
    if (!this.ended) this.thread.postMessage(message);
  }
  terminate() {
    this.ended = true;
    this.thread.terminate();
  }
}

async function checkBrowser(dir) {
  globalThis.Worker = BrowserWorker;
  const { default: Orvane } = await import(pathToFileURL(path.join(dir, "orvane.mjs")).href);
  const allEnded = (what) => assert.ok(BrowserWorker.made.every((worker) => worker.ended), `${what}: a worker left running`);

  let engine = await Orvane({ engine: "single" });
  assert.equal(engine.flavour, "single");
  const seen = await checkFiles(engine, "browser", process.cwd());
  await checkTerminate(engine, seen, "browser");
  allEnded("terminate()");

  // A page that may share memory, where the threaded engine cannot start
  // (this worker has no Worker for its threads): the single-threaded one does.
  globalThis.SharedArrayBuffer ??= Object;
  globalThis.crossOriginIsolated = true;
  BrowserWorker.made.length = 0;
  engine = await Orvane();
  assert.equal(engine.flavour, "single", "falls back to the single-threaded engine");
  await rejects(Orvane({ engine: "threads" }), /did not start: Worker is not defined/, "a forced threaded engine that fails");
  assert.deepEqual(BrowserWorker.made.map((worker) => worker.ended), [true, false, true], "only the running worker is left");

  // A worker that fails after the start reaches onError and onExit(1).
  const failing = watch(engine, "failing worker");
  BrowserWorker.made[1].thread.postMessage({ type: "throw" });
  const pending = engine.writeFile("never.bin", new Uint8Array(8));  // reaches a worker that has failed
  assert.equal(await exitOf(engine, "a failed worker"), 1, "a failed worker's status");
  assert.deepEqual(failing.exits, [1]);
  assert.match(failing.errors.join("\n"), /engine failed: .*a fault in the worker/);
  await rejects(pending, /ended/, "a writeFile in flight when the worker failed");
  allEnded("a failed worker");

  // An engine that ends during start-up rejects, and its worker is ended.
  BrowserWorker.scenario = "exit at start-up";
  await rejects(Orvane({ engine: "single" }), /ended during start-up \(status 3\)/, "an end during start-up");
  allEnded("an end during start-up");
  console.log("browser factory: writeFile, terminate(), fallback, failures: ok");
}

async function checkNode(dir) {
  const { default: Orvane } = await import(pathToFileURL(path.join(dir, "node.mjs")).href);
  for (const flavour of ["threads", "single"]) {
    const engine = await Orvane({ engine: flavour });
    const seen = await checkFiles(engine, `node ${flavour}`, process.cwd());
    await checkTerminate(engine, seen, `node ${flavour}`);
  }
  const engine = await Orvane({ engine: "single" });
  engine.send("quit");
  assert.equal(await exitOf(engine, "quit"), 0, "quit");

  // A thread of the threaded engine that fails reaches onError and
  // onExit(1) (the runtime makes its threads with the global Worker, which
  // it sets as it loads).
  const threads = [];
  const starting = Orvane({ engine: "threads" });
  const ThreadWorker = globalThis.Worker;
  globalThis.Worker = class extends ThreadWorker {
    constructor(...args) {
      super(...args);
      threads.push(this);
    }
  };
  const failing = await starting;
  const seen = watch(failing, "node thread failure");
  failing.send("uci");
  await seen.until(/^uciok$/);
  threads[0].emit("error", new Error("a fault in a thread"));
  assert.equal(await exitOf(failing, "node thread failure"), 1);
  assert.match(seen.errors.join("\n"), /engine failed: .*a fault in a thread/);
  globalThis.Worker = ThreadWorker;

  // Shared memory refused: the default start falls back, a forced one rejects.
  const Memory = WebAssembly.Memory;
  WebAssembly.Memory = function (descriptor) {
    if (descriptor && descriptor.shared) throw new RangeError("shared memory refused");
    return new Memory(descriptor);
  };
  process.removeAllListeners("warning");
  const fallback = await Orvane();
  assert.equal(fallback.flavour, "single", "node falls back to the single-threaded engine");
  fallback.terminate();
  await rejects(Orvane({ engine: "threads" }), /shared memory refused/, "node: a forced threaded engine");
  WebAssembly.Memory = Memory;
  const instantiate = WebAssembly.instantiate;
  WebAssembly.instantiate = () => Promise.reject(new Error("no module"));
  for (const flavour of ["threads", "single"])
    await rejects(Orvane({ engine: flavour }), /no module/, `node ${flavour}: a failed start`);
  WebAssembly.instantiate = instantiate;
  console.log("node factory: writeFile, terminate(), quit, fallback, failures: ok");
}

async function main() {
  const dir = path.resolve(process.argv[2] || "build-wasm");
  // A working folder with a books/ folder on the disk, which writeFile must not use.
  const workDir = fs.mkdtempSync(path.join(os.tmpdir(), "orvane-api-"));
  fs.mkdirSync(path.join(workDir, "books"));
  process.chdir(workDir);
  try {
    await checkNode(dir);
    await checkBrowser(dir);
  } finally {
    fs.rmSync(workDir, { recursive: true, force: true });
  }
}

// ---- inside a worker thread: a browser's worker --------------------------------
function runAsBrowserWorker() {
  const context = vm.createContext({
    console, setTimeout, clearTimeout, MessageChannel, TextEncoder, TextDecoder, URL, performance,
    postMessage: (message) => parentPort.postMessage(message),
    importScripts: (...urls) => urls.forEach((url) => vm.runInContext(fs.readFileSync(new URL(url), "utf8"), context)),
    fetch: async (url) => new Response(fs.readFileSync(new URL(url)), { headers: { "Content-Type": "application/wasm" } }),
    onmessage: null,
    location: new URL(workerData.script),
  });
  context.self = context;
  if (workerData.scenario === "exit at start-up") {
    parentPort.on("message", () => parentPort.postMessage({ type: "exit", status: 3 }));
  } else {
    vm.runInContext(fs.readFileSync(new URL(workerData.script), "utf8"), context);
    parentPort.on("message", (data) => {
      if (data.type === "throw") throw new Error("a fault in the worker");
      context.onmessage({ data });
    });
  }
}

if (isMainThread) await main();
else runAsBrowserWorker();
