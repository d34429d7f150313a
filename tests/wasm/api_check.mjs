// The JavaScript API keeps the promises of orvane.d.ts (node tests/wasm/api_check.mjs BUILD_DIR),
// in Node (node.mjs, both engines) and as in a browser (orvane.mjs and orvane-worker.js, each Web
// Worker a worker thread that runs the worker script in a context of its own: importScripts, fetch,
// postMessage, no Node; and as in a browser, what it posted before its end is still dispatched).
// writeFile reads relative names inside /mem, never the working folder, and writes nowhere else;
// terminate() ends the engine at once: onExit(0) before it returns, no line after it, writes in
// flight or later rejected, no thread left; a threaded start that fails falls back to the
// single-threaded engine; a start that fails or ends rejects and ends its worker; a worker that
// fails later, or a thread of the threaded engine in Node, reaches onError and onExit(1).  The
// process must end by itself (run.sh bounds it).
import { strict as assert } from "node:assert";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import vm from "node:vm";
import { Worker as NodeWorker, isMainThread, parentPort, workerData } from "node:worker_threads";
import { fileURLToPath, pathToFileURL } from "node:url";

const book = new Uint8Array(16);  // one Polyglot entry: 1. e4 from the start
new DataView(book.buffer).setBigUint64(0, 0x463b96181691fc9cn);
new DataView(book.buffer).setUint32(8, (((1 << 9) | (4 << 6) | (3 << 3) | 4) << 16) | 1);
const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const within = (promise, what) => new Promise((resolve, reject) => {
  setTimeout(() => reject(new Error(`${what}: too late`)), 30000).unref();
  promise.then(resolve, reject);
});

// Records the engine's lines, errors and exits; until(pattern) waits for a line.
function watch(engine) {
  const seen = { lines: [], errors: [], exits: [], waiting: null };
  engine.onLine = (line) => seen.lines.push(line) && seen.waiting && seen.waiting();
  engine.onError = (line) => seen.errors.push(line);
  engine.onExit = (status) => seen.exits.push(status);
  seen.until = (pattern) => within(new Promise((resolve) => {
    seen.waiting = () => seen.lines.some((line) => pattern.test(line)) && resolve(seen.lines.find((line) => pattern.test(line)));
    seen.waiting();
  }), `${pattern} after ${seen.lines.slice(-2)}`);
  return seen;
}

// writeFile and the book it gives, then terminate() in a search flooded with answers.
async function checkSession(engine, what) {
  const seen = watch(engine);
  engine.send("uci");
  await seen.until(/^uciok$/);
  const name = await engine.writeFile("books/user.bin", book);
  assert.equal(name, "/mem/books/user.bin", what);
  assert.equal(await engine.writeFile("/mem/books/./user.bin", book), name, what);
  assert.ok(!fs.existsSync("books/user.bin"), `${what}: written into the working folder`);
  engine.send(`setoption name Book File value ${name}\nposition startpos\ngo depth 4`);
  assert.equal(await seen.until(/^bestmove /), "bestmove e2e4", what);
  const outside = path.resolve("outside.bin");
  for (const bad of [outside, "/mem/.." + outside, "books/../../tmp/x.bin", "", "books/"])
    await assert.rejects(engine.writeFile(bad, book), /writeFile/, `${what}: ${bad}`);
  await assert.rejects(engine.writeFile("books/user.bin/x.bin", book), /cannot write/, what);
  assert.ok(!fs.existsSync(outside), `${what}: ${outside} written`);

  seen.lines.length = 0;
  engine.send("uci\n".repeat(300) + "go infinite");  // lines on their way when terminate() comes
  await seen.until(/^uciok$/);
  const late = engine.writeFile("late.bin", book);
  engine.terminate();
  assert.deepEqual(seen.exits, [0], `${what}: onExit(0) before terminate() returns`);
  const count = seen.lines.length;
  if (what === "browser") await assert.rejects(late, /ended/, `${what}: a writeFile in flight`);
  await assert.rejects(engine.writeFile("after.bin", book), /ended/, what);
  engine.send("isready");
  engine.terminate();
  await pause(500);
  assert.deepEqual(seen.lines.slice(count), [], `${what}: lines after terminate()`);
  assert.deepEqual([seen.exits, await engine.exited], [[0], 0], what);
  if (what !== "browser") assert.ok(!process.getActiveResourcesInfo().includes("MessagePort"), `${what}: a thread left`);
}

class BrowserWorker {
  static made = [];
  static scenario = "";
  constructor(url) {
    this.thread = new NodeWorker(fileURLToPath(import.meta.url), { workerData: { script: url.href, scenario: BrowserWorker.scenario } });
    this.thread.on("message", (data) => setImmediate(() => this.onmessage({ data })));
    this.thread.on("error", (error) => this.onerror({ message: error.message, preventDefault() {} }));
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
  await checkSession(await Orvane({ engine: "single" }), "browser");

  // An isolated page whose threaded engine cannot start (its worker has no Worker to make threads).
  [globalThis.SharedArrayBuffer, globalThis.crossOriginIsolated, BrowserWorker.made] = [Object, true, []];
  const engine = await Orvane();
  assert.equal(engine.flavour, "single", "the fallback");
  await assert.rejects(Orvane({ engine: "threads" }), /did not start: Worker is not defined/);
  assert.deepEqual(BrowserWorker.made.map((worker) => !!worker.ended), [true, false, true], "workers left running");

  const seen = watch(engine);
  BrowserWorker.made[1].thread.postMessage({ type: "throw" });
  const pending = engine.writeFile("never.bin", book);  // reaches a worker that has failed
  assert.equal(await within(engine.exited, "a failed worker's end"), 1);
  assert.deepEqual(seen.exits, [1]);
  assert.match(seen.errors.join(), /engine failed: .*a fault in the worker/);
  await assert.rejects(pending, /ended/);

  BrowserWorker.scenario = "exit at start-up";
  await assert.rejects(Orvane({ engine: "single" }), /ended during start-up \(status 3\)/);
  assert.ok(BrowserWorker.made.every((worker) => worker.ended), "workers left running");
}

async function checkNode(dir) {
  const { default: Orvane } = await import(pathToFileURL(path.join(dir, "node.mjs")).href);
  for (const flavour of ["threads", "single"]) await checkSession(await Orvane({ engine: flavour }), `node ${flavour}`);
  const engine = await Orvane({ engine: "single" });
  engine.send("quit");
  assert.equal(await within(engine.exited, "quit"), 0);

  // A thread that fails (the runtime makes them with the global Worker it sets as it loads).
  const threads = [];
  const starting = Orvane({ engine: "threads" });
  const ThreadWorker = globalThis.Worker;
  globalThis.Worker = new Proxy(ThreadWorker, { construct: (Made, args) => threads[threads.push(new Made(...args)) - 1] });
  const failing = await starting;
  const seen = watch(failing);
  failing.send("uci");
  await seen.until(/^uciok$/);
  threads[0].emit("error", new Error("a fault in a thread"));
  assert.deepEqual([await within(failing.exited, "a failed thread"), seen.exits], [1, [1]]);
  assert.match(seen.errors.join(), /engine failed: .*a fault in a thread/);
  globalThis.Worker = ThreadWorker;

  const Memory = WebAssembly.Memory;
  WebAssembly.Memory = function (descriptor) {
    if (descriptor.shared) throw new RangeError("shared memory refused");
    return new Memory(descriptor);
  };
  process.removeAllListeners("warning");
  const fallback = await Orvane();
  assert.equal(fallback.flavour, "single", "node: the fallback");
  fallback.terminate();
  await assert.rejects(Orvane({ engine: "threads" }), /shared memory refused/);
  WebAssembly.Memory = Memory;
}

if (!isMainThread) {
  const context = vm.createContext({
    console, setTimeout, clearTimeout, MessageChannel, TextEncoder, TextDecoder, URL, performance,
    onmessage: null, location: new URL(workerData.script),
    postMessage: (message) => parentPort.postMessage(message),
    importScripts: (...urls) => urls.forEach((url) => vm.runInContext(fs.readFileSync(new URL(url), "utf8"), context)),
    fetch: async (url) => new Response(fs.readFileSync(new URL(url)), { headers: { "Content-Type": "application/wasm" } }),
  });
  context.self = context;
  if (workerData.scenario) parentPort.on("message", () => parentPort.postMessage({ type: "exit", status: 3 }));
  else vm.runInContext(fs.readFileSync(new URL(workerData.script), "utf8"), context);
  parentPort.on("message", (data) => {
    if (data.type === "throw") throw new Error("a fault in the worker");
    if (!workerData.scenario) context.onmessage({ data });
  });
} else {
  const dir = path.resolve(process.argv[2] || "build-wasm");
  const workDir = fs.mkdtempSync(path.join(os.tmpdir(), "orvane-api-"));
  fs.mkdirSync(path.join(workDir, "books"));  // a books/ folder on the disk, which writeFile must not use
  process.chdir(workDir);
  try {
    await checkNode(dir);
    await checkBrowser(dir);
    console.log("the JavaScript API in Node and as in a browser: ok");
  } finally {
    fs.rmSync(workDir, { recursive: true, force: true });
  }
}
