// The Orvane factory for Node:
//   import Orvane from "orvane";
//   const engine = await Orvane({ threads: 2 });
//   engine.onLine = (line) => console.log(line);
//   engine.send("go depth 12");
// The engine runs in this process (its search threads on worker_threads)
// and sees the machine's files, so the options that name files take
// ordinary paths; writeFile adds files of its own, in memory under /mem,
// as in a browser.  If the threaded engine cannot start (no shared memory),
// the single-threaded one does.  See orvane.d.ts for the whole interface.
import { createRequire } from "node:module";
import { readFileSync } from "node:fs";
import { fileURLToPath } from "node:url";
import { dirname, join } from "node:path";

const require = createRequire(import.meta.url);
const { startEngine } = require("./orvane-host.js");
const here = dirname(fileURLToPath(import.meta.url));

async function startFlavour(flavour, options) {
  let exitedSet = null;
  const engine = {
    flavour,
    onLine: null,
    onError: null,
    onExit: null,
    exited: new Promise((resolve) => { exitedSet = resolve; }),
    send(line) {
      if (!handle.exited) handle.send(String(line).replace(/\n?$/, "\n"));
    },
    async writeFile(name, bytes) {
      return handle.writeFile(name, bytes);
    },
    terminate() {
      handle.kill();
    },
  };
  const handle = await startEngine(require(join(here, "orvane-" + flavour + ".js")), {
    wasmBinary: readFileSync(join(here, "orvane-" + flavour + ".wasm")),
    onLine: (line) => { if (engine.onLine) engine.onLine(line); },
    onError: (line) => {
      if (engine.onError) engine.onError(line);
      else process.stderr.write(line + "\n");
    },
    onExit: (status) => {
      exitedSet(status);
      if (engine.onExit) engine.onExit(status);
    },
  });
  if (options.threads > 1 && flavour === "threads")
    engine.send("setoption name Threads value " + Math.floor(options.threads));
  return engine;
}

export default async function Orvane(options = {}) {
  if (options.engine !== undefined && options.engine !== "threads" && options.engine !== "single")
    throw new Error("Orvane: engine is \"threads\" or \"single\", not " + JSON.stringify(options.engine));
  if (options.engine) return startFlavour(options.engine, options);
  try {
    return await startFlavour("threads", options);
  } catch (error) {
    process.emitWarning((error && error.message ? error.message : String(error)) +
      "; starting the single-threaded engine");
    return startFlavour("single", options);
  }
}

export { Orvane };
