// The Orvane factory for Node:
//   import Orvane from "orvane";
//   const engine = await Orvane({ threads: 2 });
//   engine.onLine = (line) => console.log(line);
//   engine.send("go depth 12");
// The engine runs in this process (its search threads on worker_threads)
// and sees the machine's files, so the options that name files take
// ordinary paths; writeFile adds files of its own (in memory).  See
// orvane.d.ts for the whole interface.
import { createRequire } from "node:module";
import { readFileSync } from "node:fs";
import { fileURLToPath } from "node:url";
import { dirname, join } from "node:path";

const require = createRequire(import.meta.url);
const { startEngine } = require("./orvane-host.js");
const here = dirname(fileURLToPath(import.meta.url));

// Makes every folder on the way to `name` and writes the bytes there.
function writeInto(FS, name, bytes) {
  const folders = name.split("/").slice(0, -1);
  let path = "";
  for (const folder of folders) {
    if (!folder) continue;
    path += "/" + folder;
    try {
      FS.mkdir(path);
    } catch (e) {
      // there already
    }
  }
  FS.writeFile(name, bytes);
}

export default async function Orvane(options = {}) {
  const flavour = options.engine === "single" ? "single" : "threads";
  let exitStatus = null;
  let onExitSet = null;
  const exited = new Promise((resolve) => { onExitSet = resolve; });
  const handle = await startEngine(require(join(here, "orvane-" + flavour + ".js")), {
    wasmBinary: readFileSync(join(here, "orvane-" + flavour + ".wasm")),
    onExit: (status) => {
      exitStatus = status;
      onExitSet(status);
      if (engine.onExit) engine.onExit(status);
    },
  });
  const engine = {
    flavour,
    onLine: null,
    onError: null,
    onExit: null,
    exited,
    send(line) {
      if (exitStatus === null) handle.send(String(line).replace(/\n?$/, "\n"));
    },
    async writeFile(name, bytes) {
      writeInto(handle.module.FS, name, bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes));
    },
    terminate() {
      engine.send("quit");
      handle.end();
    },
  };
  handle.onLine = (line) => { if (engine.onLine) engine.onLine(line); };
  handle.onError = (line) => {
    if (engine.onError) engine.onError(line);
    else process.stderr.write(line + "\n");
  };
  if (options.threads && options.threads > 1 && flavour === "threads")
    engine.send("setoption name Threads value " + Math.floor(options.threads));
  return engine;
}

export { Orvane };
