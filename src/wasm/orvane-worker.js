// The Web Worker that runs one Orvane engine for a page (orvane.mjs starts
// it), so the page stays responsive while the engine searches.  Messages
// from the page: {type: "start", engine: "threads"|"single", base: URL of
// the package folder}, {type: "send", text}, {type: "writeFile", id, name,
// bytes}.  To the page: {type: "ready"}, {type: "failed", message},
// {type: "line", line}, {type: "error", line}, {type: "exit", status},
// {type: "written", id, path, error}.  The page ends the worker itself
// (terminate(), or after "exit" or "failed").
"use strict";

let engine = null;

function messageOf(error) {
  return String(error && error.message ? error.message : error);
}

function start(message) {
  const base = message.base;
  const script = base + "orvane-" + message.engine + ".js";
  importScripts(base + "orvane-host.js", script);
  const factory = message.engine === "threads" ? self.OrvaneThreads : self.OrvaneSingle;
  return self.OrvaneHost.startEngine(factory, {
    locateFile: (name) => base + name,
    // The engine's threads load the same script into workers of their own.
    mainScriptUrlOrBlob: script,
    onLine: (line) => postMessage({ type: "line", line }),
    onError: (line) => postMessage({ type: "error", line }),
    // An end during start-up is told by "failed", with its reason.
    onExit: (status) => { if (engine) postMessage({ type: "exit", status }); },
  });
}

onmessage = (event) => {
  const message = event.data;
  if (message.type === "start") {
    new Promise((resolve) => resolve(start(message))).then((handle) => {
      engine = handle;
      postMessage({ type: "ready" });
    }, (error) => postMessage({ type: "failed", message: messageOf(error) }));
  } else if (message.type === "send") {
    if (engine) engine.send(message.text);
  } else if (message.type === "writeFile") {
    try {
      if (!engine) throw new Error("the engine is not running");
      postMessage({ type: "written", id: message.id, path: engine.writeFile(message.name, message.bytes) });
    } catch (e) {
      postMessage({ type: "written", id: message.id, error: messageOf(e) });
    }
  }
};
