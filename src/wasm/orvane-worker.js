// The Web Worker that runs one Orvane engine for a page (orvane.mjs starts
// it), so the page stays responsive while the engine searches.  Messages
// from the page: {type: "start", engine: "threads"|"single", base: URL of
// the package folder}, {type: "send", text}, {type: "writeFile", id, name,
// bytes}.  To the page: {type: "ready"}, {type: "failed", message},
// {type: "line", line}, {type: "error", line}, {type: "exit", status},
// {type: "written", id, error}.
"use strict";

let engine = null;

// Makes every folder on the way to `name` and writes the bytes there.
function writeInto(FS, name, bytes) {
  let path = "";
  for (const folder of name.split("/").slice(0, -1)) {
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

function start(message) {
  const base = message.base;
  const script = base + "orvane-" + message.engine + ".js";
  importScripts(base + "orvane-host.js", script);
  const factory = message.engine === "threads" ? self.OrvaneThreads : self.OrvaneSingle;
  self.OrvaneHost.startEngine(factory, {
    locateFile: (name) => base + name,
    // The engine's threads load the same script into workers of their own.
    mainScriptUrlOrBlob: script,
    onLine: (line) => postMessage({ type: "line", line }),
    onError: (line) => postMessage({ type: "error", line }),
    onExit: (status) => postMessage({ type: "exit", status }),
  }).then((handle) => {
    engine = handle;
    postMessage({ type: "ready" });
  }, (error) => postMessage({ type: "failed", message: String(error && error.message ? error.message : error) }));
}

onmessage = (event) => {
  const message = event.data;
  if (message.type === "start") {
    start(message);
  } else if (message.type === "send") {
    if (engine) engine.send(message.text);
  } else if (message.type === "writeFile") {
    let error = null;
    try {
      writeInto(engine.module.FS, message.name, message.bytes);
    } catch (e) {
      error = "cannot write " + message.name + ": " + (e && e.message ? e.message : e);
    }
    postMessage({ type: "written", id: message.id, error });
  }
};
