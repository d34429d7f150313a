// The Orvane factory for browsers:
//   import Orvane from "./orvane.mjs";     // also sets window.Orvane
//   const engine = await Orvane({ threads: 4 });
//   engine.onLine = (line) => console.log(line);
//   engine.send("go depth 12");
// The engine runs in a Web Worker (orvane-worker.js).  A page that is
// cross-origin isolated (served with the COOP and COEP headers) gets the
// threaded engine; any other page gets the single-threaded one, which
// needs no shared memory.  Both answer "stop" within a few milliseconds.
// See orvane.d.ts for the whole interface.

const base = new URL(".", import.meta.url).href;

// Whether this page may share memory with workers (what threads need).
function canShareMemory() {
  return typeof SharedArrayBuffer === "function" && globalThis.crossOriginIsolated === true;
}

export default function Orvane(options = {}) {
  const flavour = options.engine || (canShareMemory() ? "threads" : "single");
  const worker = new Worker(new URL("./orvane-worker.js", import.meta.url));
  const written = new Map();
  let nextId = 0;
  let exitStatus = null;
  let exitedSet = null;
  const engine = {
    flavour,
    onLine: null,
    onError: null,
    onExit: null,
    exited: new Promise((resolve) => { exitedSet = resolve; }),
    send(line) {
      if (exitStatus === null) worker.postMessage({ type: "send", text: String(line).replace(/\n?$/, "\n") });
    },
    writeFile(name, bytes) {
      const id = nextId++;
      const data = bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes);
      return new Promise((resolve, reject) => {
        written.set(id, { resolve, reject });
        worker.postMessage({ type: "writeFile", id, name, bytes: data });
      });
    },
    terminate() {
      worker.terminate();
      ended(0);
    },
  };
  function ended(status) {
    if (exitStatus !== null) return;
    exitStatus = status;
    exitedSet(status);
    if (engine.onExit) engine.onExit(status);
  }
  return new Promise((resolve, reject) => {
    worker.onmessage = (event) => {
      const message = event.data;
      if (message.type === "line") {
        if (engine.onLine) engine.onLine(message.line);
      } else if (message.type === "error") {
        if (engine.onError) engine.onError(message.line);
        else console.warn(message.line);
      } else if (message.type === "ready") {
        if (options.threads > 1 && flavour === "threads")
          engine.send("setoption name Threads value " + Math.floor(options.threads));
        resolve(engine);
      } else if (message.type === "failed") {
        worker.terminate();
        reject(new Error("Orvane did not start: " + message.message));
      } else if (message.type === "exit") {
        worker.terminate();
        ended(message.status);
      } else if (message.type === "written") {
        const waiting = written.get(message.id);
        written.delete(message.id);
        if (message.error) waiting.reject(new Error(message.error));
        else waiting.resolve();
      }
    };
    worker.onerror = (event) => {
      event.preventDefault();
      reject(new Error("Orvane did not start: " + (event.message || "the worker failed")));
    };
    worker.postMessage({ type: "start", engine: flavour, base });
  });
}

export { Orvane };
if (typeof window !== "undefined") window.Orvane = Orvane;
