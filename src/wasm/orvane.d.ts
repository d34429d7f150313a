// Orvane, a UCI chess engine compiled to WebAssembly.
//
//   import Orvane from "orvane";
//   const engine = await Orvane({ threads: 2 });
//   engine.onLine = (line) => console.log(line);
//   engine.send("position startpos moves e2e4");
//   engine.send("go movetime 1000");
//
// Every line the engine prints reaches onLine; bad input gets one
// "info string" line and the engine goes on, as the native engine does.

export interface OrvaneOptions {
  /** Search threads ("setoption name Threads"), at most the host's processor count; the single-threaded engine always searches with one. */
  threads?: number;
  /**
   * Forces an engine: "threads" (needs shared memory: Node, or a cross-origin isolated page) or "single" (any page).
   * By default Node and isolated pages get "threads", other pages "single"; when the threaded engine fails to start
   * (shared memory refused), the single-threaded one starts instead, with a warning.  A forced engine that fails to
   * start rejects Orvane().
   */
  engine?: "threads" | "single";
}

export interface OrvaneEngine {
  /** The engine that runs. */
  readonly flavour: "threads" | "single";
  /** Sends one UCI command line ("uci", "isready", "position ...", "go ...", "stop", "setoption ..."). */
  send(line: string): void;
  /** Called with every line the engine prints on its standard output. */
  onLine: ((line: string) => void) | null;
  /** Called with every line the engine prints on its standard error, and with "engine failed: ..." when the engine or one of its workers fails (by default: a console warning in browsers, standard error in Node). */
  onError: ((line: string) => void) | null;
  /**
   * Called once when the engine has ended, with its exit status: 0 after "quit" or terminate(), 1 after a failure (reported
   * to onError first).  After it, no line reaches onLine, send() does nothing and writeFile() rejects.
   */
  onExit: ((status: number) => void) | null;
  /** Resolves to the exit status when the engine has ended (as onExit). */
  readonly exited: Promise<number>;
  /**
   * Puts a file into the engine's in-memory folder /mem, the same in browsers and in Node, and resolves
   * to the name the engine knows it by.  A relative name is read inside /mem whatever the working folder
   * ("books/user.bin" is "/mem/books/user.bin"); an absolute name must start with "/mem/".  Folders on the
   * way are made.  Nothing is ever written outside /mem, nor to a disk: a name outside it, or holding
   * "..", rejects, as does every writeFile still waiting when the engine ends or called after its end.
   *   const name = await engine.writeFile("books/user.bin", new Uint8Array(await file.arrayBuffer()));
   *   engine.send("setoption name Book File value " + name);     // "/mem/books/user.bin"
   */
  writeFile(name: string, bytes: Uint8Array | ArrayBuffer): Promise<string>;
  /**
   * Ends the engine at once, in browsers and in Node alike, as killing a process would: a search stops
   * where it stands without a bestmove, and its worker and threads are ended.  onExit(0) has been called, and
   * `exited` resolved, when terminate() returns.  For an orderly end, send("quit") and await `exited`.
   */
  terminate(): void;
}

/** Starts an engine; resolves once it reads commands, rejects (its worker ended) when it fails or ends before that. */
declare function Orvane(options?: OrvaneOptions): Promise<OrvaneEngine>;
export default Orvane;
export { Orvane };

declare global {
  interface Window {
    Orvane: typeof Orvane;
  }
}
