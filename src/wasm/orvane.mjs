// The Orvane factory for browsers:
//   import Orvane from "./orvane.mjs";     // also sets window.Orvane
//   const engine = await Orvane({ threads: 4 });
//   engine.onLine = (line) => console.log(line);
//   engine.send("go depth 12");
// The engine runs in a Web Worker (orvane-worker.js).  A page that is
// cross-origin isolated (served with the COOP and COEP headers) gets the
// threaded engine; any other page, or one where the threaded engine fails
// to start, gets the single-threaded one, which needs no shared memory.
// Both answer "stop" within a few milliseconds.  See orvane.d.ts for the
// whole interface.

const base = new URL(".", import.meta.url).href;

// Whether this page may share memory with workers (what threads need).
function canShareMemory() {
  return typeof SharedArrayBuffer === "function" && globalThis.crossOriginIsolated === true;
}

function messageOf(error) {
  return String(error && error.message ? error.message : error);
}

// Starts the engine `flavour` in a worker of its own.  Resolves to the
// engine once it reads commands; rejects, with the worker ended, when it
// fails or ends before that.
function startWorker(flavour, options) {
  const worker = new Worker(new URL("./orvane-worker.js", import.meta.url));
  const written = new Map();  // writeFile calls waiting for the worker
  let nextId = 0;
  let running = false;
  let ended = false;
  let exitedSet = null;
  let startFailed = null;
  const engine = {
    flavour,
    onLine: null,
    onError: null,
    onExit: null,
    exited: new Promise((resolve) => { exitedSet = resolve; }),
    send(line) {
      if (!ended) worker.postMessage({ type: "send", text: String(line).replace(/\n?$/, "\n") });
    },
    writeFile(name, bytes) {
      if (ended) return Promise.reject(new Error("the engine has ended"));
      const id = nextId++;
      const data = bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes);
      return new Promise((resolve, reject) => {
        written.set(id, { resolve, reject });
        worker.postMessage({ type: "writeFile", id, name, bytes: data });
      });
    },
    terminate() {
      end(0);
    },
  };

  // The engine's end: the worker is ended, writes still waiting fail, and
  // the caller hears of it once.
  function end(status) {
    if (ended) return;
    ended = true;
    worker.terminate();
    for (const waiting of written.values()) waiting.reject(new Error("the engine has ended"));
    written.clear();
    exitedSet(status);
    if (engine.onExit) engine.onExit(status);
  }

  function warn(text) {
    if (engine.onError) engine.onError(text);
    else console.warn(text);
  }

  // A failure before the engine was handed out rejects the start; after,
  // it is told through onError and ends the engine with status 1.
  function failed(text) {
    if (ended) return;
    if (running) {
      warn("engine failed: " + text);
      end(1);
    } else {
      ended = true;
      worker.terminate();
      startFailed(new Error("Orvane did not start: " + text));
    }
  }

  return new Promise((resolve, reject) => {
    startFailed = reject;
    worker.onmessage = (event) => {
      if (ended) return;
      const message = event.data;
      if (message.type === "line") {
        if (engine.onLine) engine.onLine(message.line);
      } else if (message.type === "error") {
        warn(message.line);
      } else if (message.type === "ready") {
        running = true;
        if (options.threads > 1 && flavour === "threads")
          engine.send("setoption name Threads value " + Math.floor(options.threads));
        resolve(engine);
      } else if (message.type === "failed") {
        failed(message.message);
      } else if (message.type === "exit") {
        if (running) end(message.status);
        else failed("the engine ended during start-up (status " + message.status + ")");
      } else if (message.type === "written") {
        const waiting = written.get(message.id);
        written.delete(message.id);
        if (message.error) waiting.reject(new Error(message.error));
        else waiting.resolve(message.path);
      }
    };
    worker.onerror = (event) => {
      event.preventDefault();
      failed(event.message || "its worker failed");
    };
    worker.onmessageerror = () => failed("a message from its worker could not be read");
    worker.postMessage({ type: "start", engine: flavour, base });
  });
}

export default function Orvane(options = {}) {
  if (options.engine !== undefined && options.engine !== "threads" && options.engine !== "single")
    return Promise.reject(new Error("Orvane: engine is \"threads\" or \"single\", not " + JSON.stringify(options.engine)));
  if (options.engine) return startWorker(options.engine, options);
  if (!canShareMemory()) return startWorker("single", options);
  // Shared memory can still be refused (a browser short of memory): the
  // single-threaded engine needs none.
  return startWorker("threads", options).catch((error) => {
    console.warn(messageOf(error) + "; starting the single-threaded engine");
    return startWorker("single", options);
  });
}

export { Orvane };
if (typeof window !== "undefined") window.Orvane = Orvane;
