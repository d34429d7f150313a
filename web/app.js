// Orvane's analysis page: a board (cm-chessboard) whose moves chess.js checks,
// the engine (WebAssembly, loaded from /engine/orvane.mjs) analysing the
// position or playing against the user, and an opening book the user picks.

import { Chess, DEFAULT_POSITION } from 'chess.js';
import { Chessboard, COLOR, INPUT_EVENT_TYPE, BORDER_TYPE } from 'cm-chessboard/src/Chessboard.js';
import { Markers, MARKER_TYPE } from 'cm-chessboard/src/extensions/markers/Markers.js';
import { Arrows, ARROW_TYPE } from 'cm-chessboard/src/extensions/arrows/Arrows.js';
import { PromotionDialog, PROMOTION_DIALOG_RESULT_TYPE } from 'cm-chessboard/src/extensions/promotion-dialog/PromotionDialog.js';
import { parseInfo, whiteScore, formatScore, whiteShare, pvToSan, playMoveList, fenProblem, uciToMove } from './uci.js';

const ENGINE_URL = '/engine/orvane.mjs';
const BOOK_NAME = '/books/user.bin';
const LOG_LINES = 300;

const $ = (id) => document.getElementById(id);

// The game on the board: the position it started from and the moves since.
const state = {
  rootFen: DEFAULT_POSITION,
  game: new Chess(),
  mode: 'idle',          // 'idle' | 'analyse' | 'play'
  userColour: 'w',       // in play mode, the side the user moves
  bookLoaded: false,
};

// What the engine is doing: the search running (if any), the one wanted next,
// and the options last sent.
const engine = {
  api: null,
  ready: false,
  current: null,         // job whose "go" has no bestmove yet
  stopSent: false,
  wanted: null,          // job to start once the engine is free
  options: new Map(),
  lines: [],             // analysis lines of the current job, by multipv - 1
  nps: null,
  log: [],
};

let board = null;
let renderPending = false;

// ---- the engine --------------------------------------------------------------

// Loads the engine module, starts the engine and waits for uciok and readyok.
async function startEngine() {
  const module = await import(ENGINE_URL);
  const factory = module.default || module.Orvane || window.Orvane;
  if (typeof factory !== 'function') throw new Error(`${ENGINE_URL} gives no Orvane factory`);
  window.Orvane = factory;
  const isolated = window.crossOriginIsolated === true;
  const threads = isolated ? Math.max(1, Math.min(navigator.hardwareConcurrency || 1, 8)) : 1;
  const api = await factory({ threads });
  engine.api = api;
  // What the engine writes to its standard error goes to the log only.
  api.onError = (line) => logLine(`! ${line}`);
  api.onExit = (status) => {
    engine.ready = false;
    $('engine-status').textContent = `the engine stopped (status ${status}); reload the page`;
    scheduleRender();
  };
  let name = 'Orvane';
  await new Promise((resolve) => {
    api.onLine = (line) => {
      logLine(`< ${line}`);
      if (line.startsWith('id name ')) name = line.slice(8).trim();
      if (line === 'uciok') send('isready');
      if (line === 'readyok') resolve();
    };
    send('uci');
  });
  api.onLine = onEngineLine;
  const readyMs = Math.round(performance.now());
  window.orvaneReadyMs = readyMs;
  engine.ready = true;
  const threaded = api.flavour ? api.flavour === 'threads' : isolated;
  const mode = threaded ? `threaded engine, ${threads} thread${threads > 1 ? 's' : ''}, cross-origin isolated`
    : `single-threaded engine${isolated ? '' : ', page not isolated'}`;
  $('engine-status').textContent = `${name} · ${mode} · ready ${readyMs} ms after page load`;
  document.body.dataset.engineReady = 'true';
}

function send(line) {
  logLine(`> ${line}`);
  engine.api.send(line);
}

function logLine(line) {
  engine.log.push(line);
  if (engine.log.length > LOG_LINES) engine.log.splice(0, engine.log.length - LOG_LINES);
  scheduleRender();
}

// Sends an option only when its value differs from the one the engine has.
function setOption(name, value) {
  const text = String(value);
  if (engine.options.get(name) === text) return;
  engine.options.set(name, text);
  send(`setoption name ${name} value ${text}`);
}

// Asks for a search: started at once when the engine is free, otherwise the
// running one is stopped and this one starts after its bestmove. A newer
// request replaces one still waiting.
function requestSearch(job) {
  engine.wanted = job;
  if (!engine.ready) return;
  if (engine.current) {
    if (!engine.stopSent) {
      engine.stopSent = true;
      send('stop');
    }
    return;
  }
  startWanted();
}

// Stops whatever runs and forgets what was waiting.
function cancelSearch() {
  engine.wanted = null;
  if (engine.current && !engine.stopSent) {
    engine.stopSent = true;
    send('stop');
  }
}

function startWanted() {
  const job = engine.wanted;
  engine.wanted = null;
  if (!job) return;
  engine.current = job;
  engine.stopSent = false;
  engine.lines = [];
  engine.nps = null;
  if (job.kind === 'analyse') {
    setOption('UCI_AnalyseMode', 'true');
    setOption('OwnBook', 'false');
    setOption('MultiPV', job.multipv);
  } else {
    setOption('UCI_AnalyseMode', 'false');
    setOption('OwnBook', state.bookLoaded && $('use-book').checked ? 'true' : 'false');
    setOption('MultiPV', 1);
  }
  send(job.position);
  send(job.go);
  scheduleRender();
}

function onEngineLine(line) {
  logLine(`< ${line}`);
  const job = engine.current;
  if (line.startsWith('bestmove')) {
    engine.current = null;
    const stopped = engine.stopSent;
    engine.stopSent = false;
    if (job && job.kind === 'play' && !stopped) playEngineMove(job, line.split(/\s+/)[1]);
    startWanted();
    scheduleRender();
    return;
  }
  if (line.startsWith('info string')) {
    showMessage(line.slice(12));
    return;
  }
  // Lines of a search being stopped for another belong to a position no
  // longer shown.
  if (!job || engine.stopSent) return;
  const info = parseInfo(line);
  if (!info) return;
  if (info.nps !== undefined) engine.nps = info.nps;
  if (info.score && info.pv.length > 0) {
    engine.lines[info.multipv - 1] = {
      depth: info.depth,
      score: whiteScore(info.score, job.sideToMove),
      bound: info.bound,
      uci: info.pv,
      san: pvToSan(job.fen, info.pv),
    };
  }
  scheduleRender();
}

// ---- jobs ---------------------------------------------------------------------

function positionCommand() {
  const moves = state.game.history({ verbose: true }).map((move) => move.lan);
  const base = state.rootFen === DEFAULT_POSITION ? 'position startpos' : `position fen ${state.rootFen}`;
  return moves.length ? `${base} moves ${moves.join(' ')}` : base;
}

function searchJob(kind, go) {
  return {
    kind,
    go,
    position: positionCommand(),
    fen: state.game.fen(),
    sideToMove: state.game.turn(),
    multipv: Number($('multipv').value),
  };
}

// Starts, or starts again after a change, whatever the mode asks for the
// position on the board.
function refreshSearch() {
  if (state.game.isGameOver()) {
    cancelSearch();
    engine.lines = [];
    scheduleRender();
    return;
  }
  if (state.mode === 'analyse') {
    requestSearch(searchJob('analyse', 'go infinite'));
  } else if (state.mode === 'play' && state.game.turn() !== state.userColour) {
    const seconds = Math.max(0.1, Number($('movetime').value) || 2);
    requestSearch(searchJob('play', `go movetime ${Math.round(seconds * 1000)}`));
  } else {
    cancelSearch();
  }
  scheduleRender();
}

function playEngineMove(job, uci) {
  if (state.mode !== 'play' || job.fen !== state.game.fen() || !uci || uci === '(none)' || uci === '0000') return;
  try {
    state.game.move(uciToMove(uci));
  } catch {
    console.error(`engine move ${uci} is not legal in ${job.fen}`);
    return;
  }
  positionChanged(true);
}

// ---- the board -----------------------------------------------------------------

function userMayMove() {
  if (state.game.isGameOver()) return false;
  if (state.mode === 'play') return state.game.turn() === state.userColour;
  return true;
}

function onBoardInput(event) {
  switch (event.type) {
    case INPUT_EVENT_TYPE.moveInputStarted: {
      if (!userMayMove()) return false;
      const moves = state.game.moves({ square: event.squareFrom, verbose: true });
      board.removeMarkers(MARKER_TYPE.dot);
      for (const move of moves) board.addMarker(MARKER_TYPE.dot, move.to);
      return moves.length > 0;
    }
    case INPUT_EVENT_TYPE.validateMoveInput: {
      board.removeMarkers(MARKER_TYPE.dot);
      const candidates = state.game.moves({ square: event.squareFrom, verbose: true })
        .filter((move) => move.to === event.squareTo);
      if (candidates.length === 0) return false;
      if (candidates.some((move) => move.promotion)) {
        const colour = state.game.turn() === 'w' ? COLOR.white : COLOR.black;
        board.showPromotionDialog(event.squareTo, colour, (result) => {
          if (result.type === PROMOTION_DIALOG_RESULT_TYPE.pieceSelected) {
            userMove({ from: event.squareFrom, to: event.squareTo, promotion: result.piece.charAt(1) });
          } else {
            board.setPosition(state.game.fen(), true);
          }
        });
        return true;
      }
      userMove({ from: event.squareFrom, to: event.squareTo });
      return true;
    }
    case INPUT_EVENT_TYPE.moveInputCanceled:
      board.removeMarkers(MARKER_TYPE.dot);
      return true;
    case INPUT_EVENT_TYPE.moveInputFinished:
      // Castling, en passant and promotion move more than the dragged piece.
      if (event.legalMove && !board.isPromotionDialogShown()) board.setPosition(state.game.fen(), false);
      return true;
    default:
      return true;
  }
}

function userMove(move) {
  try {
    state.game.move(move);
  } catch {
    board.setPosition(state.game.fen(), true);
    return;
  }
  positionChanged(false);
}

function positionChanged(animate) {
  board.setPosition(state.game.fen(), animate);
  $('fen').value = state.game.fen();
  renderMoves();
  engine.lines = [];
  showGameEnd();
  refreshSearch();
}

// Puts a new game on the board from a FEN and optional moves already played.
function setGame(rootFen, moves = []) {
  state.rootFen = rootFen;
  state.game = new Chess(rootFen);
  for (const move of moves) state.game.move(move);
  positionChanged(false);
}

function showGameEnd() {
  const game = state.game;
  let text = '';
  if (game.isCheckmate()) text = `Checkmate: ${game.turn() === 'w' ? 'Black' : 'White'} wins.`;
  else if (game.isStalemate()) text = 'Stalemate: a draw.';
  else if (game.isInsufficientMaterial()) text = 'Draw: neither side can mate.';
  else if (game.isThreefoldRepetition()) text = 'Draw by repetition.';
  else if (game.isDraw()) text = 'Draw by the fifty-move rule.';
  if (text) showMessage(text);
}

function showMessage(text) {
  $('message').textContent = text;
}

// ---- drawing ------------------------------------------------------------------

function scheduleRender() {
  if (renderPending) return;
  renderPending = true;
  setTimeout(render, 40);
}

function render() {
  renderPending = false;
  const job = engine.current;
  const lines = engine.lines.filter(Boolean);
  const first = engine.lines[0];
  $('depth').textContent = first ? String(first.depth) : '–';
  $('score').textContent = first ? formatScore(first.score) : '–';
  $('nps').textContent = engine.nps ? `${(engine.nps / 1000).toFixed(0)} kN/s` : '–';
  renderLines(lines);
  renderEvalBar(first);
  renderArrow(job, first);
  renderMoves();
  renderButtons();
  const log = $('log');
  if (log.parentElement.open) log.textContent = engine.log.join('\n');
}

function renderLines(lines) {
  const list = $('lines');
  const items = list.children;
  const wanted = Math.max(1, lines.length);
  while (items.length < wanted) {
    const item = document.createElement('li');
    item.innerHTML = '<span class="line-score"></span> <span class="line-moves"></span>';
    item.querySelector('.line-moves').dataset.testid = `pv-${items.length + 1}`;
    list.appendChild(item);
  }
  while (items.length > wanted) list.lastElementChild.remove();
  list.classList.toggle('empty', lines.length === 0);
  for (let i = 0; i < items.length; i++) {
    const line = lines[i];
    items[i].querySelector('.line-score').textContent = line ? formatScore(line.score) : '';
    items[i].querySelector('.line-moves').textContent = line ? line.san : '';
  }
}

// The bar's short label: pawns to one decimal, or the mate.
function barLabel(score) {
  if (score.type === 'mate') return formatScore(score);
  const pawns = Math.abs(score.value) / 100;
  return `${score.value < 0 ? '-' : '+'}${pawns.toFixed(1)}`;
}

function renderEvalBar(first) {
  const share = first ? whiteShare(first.score) : 0.5;
  $('eval-fill').style.height = `${(share * 100).toFixed(1)}%`;
  $('eval-text').textContent = first ? barLabel(first.score) : '';
  const flipped = board.getOrientation() === COLOR.black;
  $('eval-bar').classList.toggle('flipped', flipped);
  // The number stands at the end of the side ahead, on its colour.
  $('eval-bar').classList.toggle('black-ahead', share < 0.5);
}

// The best move of the first line, as an arrow, while analysing.
function renderArrow(job, first) {
  const want = state.mode === 'analyse' && first && first.uci.length > 0 ? first.uci[0] : null;
  const arrows = board.getArrows();
  const have = arrows.length === 1 ? arrows[0].from + arrows[0].to : null;
  const wantKey = want ? want.slice(0, 4) : null;
  if (have === wantKey) return;
  board.removeArrows();
  if (want) board.addArrow(ARROW_TYPE.info, want.slice(0, 2), want.slice(2, 4));
}

function renderMoves() {
  $('moves').textContent = pvToSan(state.rootFen, state.game.history({ verbose: true }).map((move) => move.lan));
}

function renderButtons() {
  const ready = engine.ready;
  $('analyse').disabled = !ready;
  $('analyse').textContent = state.mode === 'analyse' ? 'Stop' : 'Analyse';
  $('analyse').classList.toggle('active', state.mode === 'analyse');
  $('play').disabled = !ready;
  $('play-here').disabled = !ready;
  $('stop-play').disabled = state.mode !== 'play';
  $('takeback').disabled = state.game.history().length === 0;
}

// ---- controls ------------------------------------------------------------------

function setMode(mode) {
  state.mode = mode;
  refreshSearch();
}

function startPlaying(fromStart) {
  state.userColour = $('play-colour').value;
  board.setOrientation(state.userColour === 'w' ? COLOR.white : COLOR.black);
  state.mode = 'play';
  if (fromStart) setGame(DEFAULT_POSITION);
  else refreshSearch();
  showMessage(`You play ${state.userColour === 'w' ? 'White' : 'Black'}; Orvane takes ${$('movetime').value} s a move.`);
}

function onSetFen() {
  const fen = $('fen').value.trim();
  const problem = fenProblem(fen);
  if (problem) {
    showMessage(`FEN not set: ${problem}`);
    return;
  }
  setGame(fen);
  showMessage('');
}

function onSetMoves() {
  const text = $('move-text').value;
  const tag = text.match(/\[FEN\s+"([^"]+)"\]/);
  const root = tag ? tag[1] : DEFAULT_POSITION;
  if (tag && fenProblem(root)) {
    showMessage(`Moves not set: the FEN tag is not valid (${fenProblem(root)})`);
    return;
  }
  const result = playMoveList(text, root);
  if (result.error) {
    showMessage(`Moves not set: ${result.error}`);
    return;
  }
  setGame(root, result.moves.map((move) => move.san));
  showMessage(`${result.moves.length} moves played.`);
}

function onTakeBack() {
  // Against the engine a take-back returns the move to the user.
  state.game.undo();
  if (state.mode === 'play' && state.game.turn() !== state.userColour && state.game.history().length > 0) state.game.undo();
  positionChanged(false);
}

// Hands the picked book to the engine's file system and names it.
async function onBookPicked() {
  const file = $('book-file').files[0];
  if (!file) return;
  if (file.size % 16 !== 0 || file.size === 0) {
    showMessage(`${file.name} is not a Polyglot book: its size is not a multiple of 16 bytes.`);
    return;
  }
  const bytes = new Uint8Array(await file.arrayBuffer());
  await engine.api.writeFile(BOOK_NAME, bytes);
  // Options may change only between searches.
  const wasMode = state.mode;
  cancelSearch();
  await waitForIdle();
  engine.options.delete('Book File');
  setOption('Book File', BOOK_NAME);
  state.bookLoaded = true;
  $('book-status').textContent = `Book: ${file.name}, ${(file.size / 16).toLocaleString()} entries; used in play when ticked.`;
  state.mode = wasMode;
  refreshSearch();
}

function waitForIdle() {
  return new Promise((resolve) => {
    const check = () => (engine.current ? setTimeout(check, 10) : resolve());
    check();
  });
}

function wireControls() {
  $('analyse').addEventListener('click', () => setMode(state.mode === 'analyse' ? 'idle' : 'analyse'));
  $('multipv').addEventListener('change', () => refreshSearch());
  $('flip').addEventListener('click', () => {
    board.setOrientation(board.getOrientation() === COLOR.white ? COLOR.black : COLOR.white);
    scheduleRender();
  });
  $('takeback').addEventListener('click', onTakeBack);
  $('play').addEventListener('click', () => startPlaying(true));
  $('play-here').addEventListener('click', () => startPlaying(false));
  $('stop-play').addEventListener('click', () => {
    showMessage('');
    setMode('idle');
  });
  $('set-fen').addEventListener('click', onSetFen);
  $('fen').addEventListener('keydown', (event) => { if (event.key === 'Enter') onSetFen(); });
  $('set-moves').addEventListener('click', onSetMoves);
  $('start-position').addEventListener('click', () => setGame(DEFAULT_POSITION));
  $('book-file').addEventListener('change', () => {
    onBookPicked().catch((error) => showMessage(`Book not loaded: ${error.message}`));
  });
  $('use-book').addEventListener('change', () => refreshSearch());
  $('log').parentElement.addEventListener('toggle', scheduleRender);
}

// Reads ?fen=<FEN>&analyse=1 (also &multipv=N).
function applyUrl() {
  const params = new URLSearchParams(window.location.search);
  const fen = params.get('fen');
  if (fen) {
    const problem = fenProblem(fen);
    if (problem) showMessage(`FEN in the address not used: ${problem}`);
    else setGame(fen);
  }
  const lines = Number(params.get('multipv'));
  if (lines >= 1 && lines <= 5) $('multipv').value = String(lines);
  return params.get('analyse') === '1';
}

async function main() {
  board = new Chessboard($('board'), {
    position: state.game.fen(),
    assetsUrl: '/vendor/cm-chessboard/assets/',
    style: { borderType: BORDER_TYPE.frame, showCoordinates: true, pieces: { file: 'pieces/standard.svg' }, animationDuration: 200 },
    extensions: [{ class: Markers }, { class: Arrows }, { class: PromotionDialog }],
  });
  board.enableMoveInput(onBoardInput);
  wireControls();
  $('fen').value = state.game.fen();
  const analyseAtOnce = applyUrl();
  scheduleRender();
  try {
    await startEngine();
  } catch (error) {
    $('engine-status').textContent = `engine not loaded: ${error.message}`;
    console.error('Orvane could not be started:', error);
    return;
  }
  if (analyseAtOnce) setMode('analyse');
  else scheduleRender();
}

main();
