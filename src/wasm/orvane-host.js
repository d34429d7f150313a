// Runs one Orvane engine (orvane-threads.js or orvane-single.js) inside the
// current JavaScript context and speaks UCI text with it: lines in through
// the engine's input ring (src/platform/stdin_reader_wasm.cpp), lines out
// through the runtime's print hooks.  Used by orvane-node and node.mjs under
// Node and by orvane-worker.js in a browser's Web Worker; a classic script
// there (importScripts) and a CommonJS module here.
(function (root) {
  "use strict";

  const isNode = typeof process === "object" && !!(process.versions && process.versions.node) &&
                 typeof importScripts !== "function";

  // A chunk handed to the engine at a time (the size of its staging area).
  const StagingSize = 4096;

  // Calls fn on the next turn of the event loop, without the clamped delay
  // of a zero timeout (browsers wait 4 ms after a few nested ones).
  function nextTurn() {
    if (typeof setImmediate === "function") return (fn) => setImmediate(fn);
    const channel = new MessageChannel();
    const waiting = [];
    channel.port1.onmessage = () => waiting.shift()();
    return (fn) => {
      waiting.push(fn);
      channel.port2.postMessage(0);
    };
  }

  // Under Node the engine sees the machine's own files: each folder at the
  // root of the machine is mounted over the in-memory file system (NODEFS)
  // and the working folder is Node's.  In a browser the engine keeps the
  // in-memory files only (MEMFS), which writeFile fills.
  function mountHostFolders(FS) {
    const fs = require("fs");
    const NODEFS = FS.filesystems.NODEFS;
    for (const name of fs.readdirSync("/")) {
      if (name === "dev" || name === "proc") continue;  // the runtime's own devices stay
      const path = "/" + name;
      try {
        if (!fs.statSync(path).isDirectory()) continue;
        try {
          FS.mkdir(path);
        } catch (e) {
          // already there (/tmp, /home)
        }
        FS.mount(NODEFS, { root: path }, path);
      } catch (e) {
        // an unreadable folder stays out of sight
      }
    }
    try {
      FS.chdir(process.cwd());
    } catch (e) {
      // a working folder the engine cannot see: it starts in "/"
    }
  }

  // Whether an exception is the runtime's way of ending (exit or "unwind").
  function isExit(e) {
    return e === "unwind" || (e && e.name === "ExitStatus");
  }

  // Starts the engine built into `factory` (the glue's module factory).
  // options: arguments (command-line words), wasmBinary (the module's bytes,
  // when the host loads them itself), locateFile, mainScriptUrlOrBlob,
  // single (the engine without threads), onLine, onError, onExit.
  // Resolves to the engine's handle once its runtime is up.
  function startEngine(factory, options) {
    const yieldTurn = nextTurn();
    const pending = [];     // byte chunks not yet taken by the engine
    let inputClosed = false;
    let retryTimer = null;
    let exited = false;
    let Module = null;
    let staging = 0;

    const handle = {
      onLine: options.onLine || null,
      onError: options.onError || null,
      onExit: options.onExit || null,
      get exited() {
        return exited;
      },
      send: (text) => feed(text),
      end: () => {
        inputClosed = true;
        pump();
      },
      module: null,
    };

    function report(e) {
      if (isExit(e)) return;
      const text = "engine failed: " + (e && e.message ? e.message : String(e));
      if (handle.onError) handle.onError(text);
      else console.error(text);
    }

    // Calls the wake-up of an engine that handed control over (the
    // single-threaded one): its exit arrives here as an exception.
    function resume(wakeUp) {
      try {
        wakeUp();
      } catch (e) {
        report(e);
      }
    }

    // The engine's memory as it is now (it may have grown since the last
    // look; the threaded engine's is shared with its threads).
    function memory() {
      return new Uint8Array(Module.wasmMemory ? Module.wasmMemory.buffer : Module.HEAPU8.buffer);
    }

    // Hands the pending bytes to the engine as far as its ring has room,
    // then the end of input once everything is in; what does not fit waits
    // for the engine to read.
    function pump() {
      if (!Module || exited) return;
      while (pending.length) {
        const chunk = pending[0];
        memory().set(chunk, staging);
        const taken = Module._orvane_input_write(chunk.length);
        if (taken < chunk.length) {
          pending[0] = chunk.subarray(taken);
          if (!retryTimer) retryTimer = setTimeout(() => { retryTimer = null; pump(); }, 2);
          break;
        }
        pending.shift();
      }
      if (!pending.length && inputClosed) Module._orvane_input_end();
      const waiting = Module.orvaneResume;
      if (waiting) {
        Module.orvaneResume = null;
        resume(waiting);
      }
    }

    function feed(text) {
      if (exited || inputClosed) return;
      const bytes = typeof text === "string" ? new TextEncoder().encode(text) : text;
      for (let i = 0; i < bytes.length; i += StagingSize) pending.push(bytes.subarray(i, i + StagingSize));
      pump();
    }

    function finish(status) {
      if (exited) return;
      exited = true;
      if (retryTimer) clearTimeout(retryTimer);
      if (handle.onExit) handle.onExit(status);
    }

    const settings = {
      arguments: options.arguments || [],
      print: (line) => { if (handle.onLine) handle.onLine(line); },
      printErr: (line) => {
        if (handle.onError) handle.onError(line);
        else if (!isNode) console.warn(line);
        else process.stderr.write(line + "\n");
      },
      // The engine's exit ends only the engine (Node's process goes on
      // unless the host ends it in onExit).  The runtime also passes here
      // when main() has handed control back while the engine goes on; it
      // calls onExit only when the engine has really ended.
      quit: (status, toThrow) => {
        throw toThrow;
      },
      onExit: (status) => finish(status),
      onAbort: (what) => {
        if (exited) return;
        report(new Error(String(what)));
        finish(134);
      },
      preRun: [(M) => { if (isNode) mountHostFolders(M.FS); }],
      orvaneYield: (wakeUp) => yieldTurn(() => resume(wakeUp)),
      orvaneResume: null,
    };
    if (options.wasmBinary) settings.wasmBinary = options.wasmBinary;
    if (options.locateFile) settings.locateFile = options.locateFile;
    if (options.mainScriptUrlOrBlob) settings.mainScriptUrlOrBlob = options.mainScriptUrlOrBlob;

    return factory(settings).then((instance) => {
      Module = instance;
      handle.module = instance;
      staging = Module._orvane_input_staging();
      pump();
      return handle;
    });
  }

  const api = { startEngine, isNode };
  if (typeof module === "object" && module.exports) module.exports = api;
  else root.OrvaneHost = api;
})(typeof self !== "undefined" ? self : globalThis);
