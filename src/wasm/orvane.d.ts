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
  /** Forces an engine: "threads" (needs shared memory: Node, or a cross-origin isolated page) or "single" (any page).  By default Node and isolated pages get "threads", other pages "single". */
  engine?: "threads" | "single";
}

export interface OrvaneEngine {
  /** The engine that runs. */
  readonly flavour: "threads" | "single";
  /** Sends one UCI command line ("uci", "isready", "position ...", "go ...", "stop", "setoption ..."). */
  send(line: string): void;
  /** Called with every line the engine prints on its standard output. */
  onLine: ((line: string) => void) | null;
  /** Called with every line the engine prints on its standard error (by default: a console warning in browsers, standard error in Node). */
  onError: ((line: string) => void) | null;
  /** Called once when the engine has ended ("quit", or terminate()). */
  onExit: ((status: number) => void) | null;
  /** Settles with the exit status when the engine has ended. */
  readonly exited: Promise<number>;
  /**
   * Puts a file into the engine's file system under `name` (folders on the
   * way are made), e.g. a book or tablebase file the user picked:
   *   await engine.writeFile("/books/user.bin", new Uint8Array(await file.arrayBuffer()));
   *   engine.send("setoption name Book File value /books/user.bin");
   */
  writeFile(name: string, bytes: Uint8Array | ArrayBuffer): Promise<void>;
  /** Ends the engine at once (in a browser its worker is terminated). */
  terminate(): void;
}

/** Starts an engine; resolves once it reads commands. */
declare function Orvane(options?: OrvaneOptions): Promise<OrvaneEngine>;
export default Orvane;
export { Orvane };

declare global {
  interface Window {
    Orvane: typeof Orvane;
  }
}
