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

  // The folder that writeFile fills.  It lives in memory in every host: in
  // Node the machine's own folders are mounted beside it, never over it.
  const FileFolder = "/mem";

  // Under Node the engine sees the machine's own files: each folder at the
  // root of the machine is mounted over the in-memory file system (NODEFS)
  // and the working folder is Node's.  In a browser the engine keeps the
  // in-memory files only (MEMFS).
  function mountHostFolders(FS) {
    const fs = require("fs");
    const NODEFS = FS.filesystems.NODEFS;
    for (const name of fs.readdirSync("/")) {
      // the runtime's own devices and writeFile's folder stay in memory
      if (name === "dev" || name === "proc" || "/" + name === FileFolder) continue;
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

  // The engine's name for a file that writeFile puts in FileFolder: a
  // relative name is read from that folder whatever the working folder is,
  // an absolute one must lie inside it.  Throws on any other name, so no
  // write ever leaves the folder.
  function memoryPath(name) {
    if (typeof name !== "string" || name === "" || name.includes("\0") || name.endsWith("/"))
      throw new Error("writeFile needs a file name, not " + JSON.stringify(name));
    let rest = name;
    if (name.startsWith("/")) {
      if (!name.startsWith(FileFolder + "/"))
        throw new Error("writeFile keeps files under " + FileFolder + "/; " + name + " is outside it");
      rest = name.slice(FileFolder.length + 1);
    }
    const parts = rest.split("/").filter((part) => part !== "" && part !== ".");
    if (parts.includes("..")) throw new Error("writeFile takes no \"..\" in a name: " + name);
    return FileFolder + "/" + parts.join("/");
  }

  // Writes the bytes at memoryPath(name), making the folders on the way;
  // returns that path.
  function writeMemoryFile(FS, name, bytes) {
    const path = memoryPath(name);
    const folders = path.split("/").slice(1, -1);
    let folder = "";
    for (const part of folders) {
      folder += "/" + part;
      try {
        FS.mkdir(folder);
      } catch (e) {
        // there already (a file of that name makes the write below fail)
      }
    }
    try {
      FS.writeFile(path, bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes));
    } catch (e) {
      const why = { 31: "a folder has that name", 54: "a file stands where a folder should be" }[e && e.errno];
      throw new Error("cannot write " + path + (why ? ": " + why : ""));
    }
    return path;
  }

  // Whether an exception is the runtime's way of ending (exit or "unwind").
  function isExit(e) {
    return e === "unwind" || (e && e.name === "ExitStatus");
  }

  // Ends every thread of a threaded engine at once.  Nothing is freed in
  // the engine's memory: a thread stopped while it held the allocator's
  // lock would leave it locked.
  function endThreads(PThread) {
    if (!PThread) return;
    for (const worker of PThread.runningWorkers.concat(PThread.unusedWorkers)) worker.terminate();
    PThread.runningWorkers.length = 0;
    PThread.unusedWorkers.length = 0;
  }

  // Starts the engine built into `factory` (the glue's module factory).
  // options: arguments (command-line words), wasmBinary (the module's bytes,
  // when the host loads them itself), locateFile, mainScriptUrlOrBlob,
  // single (the engine without threads), onLine, onError, onExit.
  // Resolves to the engine's handle once its runtime is up and its main()
  // runs; rejects, with every thread it made ended, when start-up fails or
  // the engine ends first.  After the end (exit, failure or kill()) no line
  // reaches onLine and onExit has been called once.
  function startEngine(factory, options) {
    const yieldTurn = nextTurn();
    const pending = [];     // byte chunks not yet taken by the engine
    let inputClosed = false;
    let retryTimer = null;
    let exited = false;
    let Module = null;
    let staging = 0;
    let startFailure = null;  // why the engine ended before it was handed out

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
      // Puts a file into the engine's in-memory folder; returns its path there.
      writeFile: (name, bytes) => {
        if (exited) throw new Error("the engine has ended");
        return writeMemoryFile(Module.FS, name, bytes);
      },
      // Ends the engine where it stands, as killing a process would.
      kill: () => finish(0),
      module: null,
    };

    function warn(text) {
      if (handle.onError) handle.onError(text);
      else if (!isNode) console.warn(text);
      else process.stderr.write(text + "\n");
    }

    // A failure of the engine's code or of one of its threads: it is told,
    // and the engine ends with status 1 (an exit in disguise ends nothing).
    function fail(e) {
      if (isExit(e) || exited) return;
      if (Module) warn("engine failed: " + (e && e.message ? e.message : String(e)));
      else startFailure = e;  // the start rejects with it
      finish(1);
    }

    // Calls the wake-up of an engine that handed control over (the
    // single-threaded one): its exit arrives here as an exception.
    function resume(wakeUp) {
      if (exited) return;
      try {
        wakeUp();
      } catch (e) {
        fail(e);
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

    // The engine's end, whatever brought it: its threads are ended (a
    // thread still searching is stopped where it stands) and onExit runs.
    function finish(status) {
      if (exited) return;
      exited = true;
      if (!Module && !startFailure) startFailure = new Error("the engine ended during start-up (status " + status + ")");
      if (retryTimer) clearTimeout(retryTimer);
      pending.length = 0;
      endThreads(settings.PThread);
      if (handle.onExit) handle.onExit(status);
    }

    // A thread of the threaded engine that throws fails the engine instead
    // of throwing again in the host, where nobody would catch it.
    function watchThreads(PThread) {
      if (!PThread || !PThread.loadWasmModuleToWorker) return;
      const load = PThread.loadWasmModuleToWorker;
      PThread.loadWasmModuleToWorker = function (worker, ...rest) {
        const result = load.call(this, worker, ...rest);
        worker.onerror = (event) => {
          if (event && event.preventDefault) event.preventDefault();
          fail(event && event.error ? event.error : event);
        };
        return result;
      };
    }

    const settings = {
      arguments: options.arguments || [],
      print: (line) => { if (!exited && handle.onLine) handle.onLine(line); },
      printErr: (line) => { if (!exited) warn(line); },
      // The engine's exit ends only the engine (Node's process goes on
      // unless the host ends it in onExit).  The runtime also passes here
      // when main() has handed control back while the engine goes on; it
      // calls onExit only when the engine has really ended.
      quit: (status, toThrow) => {
        throw toThrow;
      },
      // A main() that throws (a thread that cannot be made) fails the engine
      // instead of escaping into the runtime's start, where nobody catches it.
      onRuntimeInitialized: () => {
        const name = settings._emscripten_proxy_main ? "_emscripten_proxy_main" : "_main";
        const entry = settings[name];
        settings[name] = (...args) => {
          try {
            return entry(...args);
          } catch (e) {
            if (isExit(e)) throw e;
            fail(e);
            return 1;
          }
        };
      },
      onExit: (status) => finish(status),
      onAbort: (what) => fail(new Error(String(what))),
      preRun: [(M) => {
        watchThreads(M.PThread);
        M.FS.mkdir(FileFolder);
        if (isNode) mountHostFolders(M.FS);
      }],
      orvaneYield: (wakeUp) => yieldTurn(() => resume(wakeUp)),
      orvaneResume: null,
    };
    if (options.wasmBinary) settings.wasmBinary = options.wasmBinary;
    if (options.locateFile) settings.locateFile = options.locateFile;
    if (options.mainScriptUrlOrBlob) settings.mainScriptUrlOrBlob = options.mainScriptUrlOrBlob;

    // The glue may throw at once (shared memory refused) or reject later.
    return new Promise((resolve) => resolve(factory(settings))).then((instance) => {
      if (exited) throw startFailure instanceof Error ? startFailure : new Error(String(startFailure));
      Module = instance;
      handle.module = instance;
      staging = Module._orvane_input_staging();
      pump();
      return handle;
    }, (error) => {
      exited = true;
      endThreads(settings.PThread);
      throw error instanceof Error ? error : new Error(String(error));
    });
  }

  const api = { startEngine, isNode };
  if (typeof module === "object" && module.exports) module.exports = api;
  else root.OrvaneHost = api;
})(typeof self !== "undefined" ? self : globalThis);
