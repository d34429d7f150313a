// Orvane's analysis page: a board (cm-chessboard) whose moves chess.js checks,
// the engine (WebAssembly, loaded from /engine/orvane.mjs) analysing the
// position or playing against the user, and an opening book the user picks;
// the game as a move list to walk, and its review (review-view.js and the
// review module shared with orvane-review) on an engine of its own.
//
// Every search is a job tagged with the position it was asked for. The engine
// runs one job at a time; a job that is stopped, refused by the engine or no
// longer about the board loses its lines at the door and its bestmove is
// never played. Lines are turned into SAN only when painted, once a frame.

import { Chess, DEFAULT_POSITION } from 'chess.js';
import { Chessboard, COLOR, INPUT_EVENT_TYPE, BORDER_TYPE } from 'cm-chessboard/src/Chessboard.js';
import { Markers, MARKER_TYPE } from 'cm-chessboard/src/extensions/markers/Markers.js';
import { Arrows, ARROW_TYPE } from 'cm-chessboard/src/extensions/arrows/Arrows.js';
import { PromotionDialog, PROMOTION_DIALOG_RESULT_TYPE } from 'cm-chessboard/src/extensions/promotion-dialog/PromotionDialog.js';
import { parseInfo, whiteScore, formatScore, whiteShare, readGame, fenProblem, uciToMove, pvToSan } from './uci.js';
import { readOpenings, nameOpening } from './openings.js';
import { startReviewEngine, createGraph } from './review-view.js';
import { reviewGame, summarise } from '/engine/review.mjs';
import { reviewPgn, gameFromSan, formatEval } from '/engine/review-pgn.mjs';

const ENGINE_URL = '/engine/orvane.mjs';
const BOOK_NAME = '/mem/books/user.bin';
const LOG_LINES = 300;
const PAINTED_PLIES = 14;          // moves of a line written out; the rest is cut off by the panel anyway
const MAX_LINES = 5;
const ELO_MIN = 800;
const ELO_MAX = 2850;

const $ = (id) => document.getElementById(id);

// The game on the board: the position it started from and the moves since.
// What is worked out once a position (its FEN, the moves in SAN and UCI, how
// the game ended) is kept here, so drawing a frame asks chess.js nothing.
const state = {
  rootFen: DEFAULT_POSITION,
  game: new Chess(),
  fen: DEFAULT_POSITION,
  played: [],            // {san, lan, from, to, after} of each move of the game since rootFen
  ply: 0,                // the position shown: after this many of the moves
  tags: {},              // the tags of a pasted game
  ending: { over: false, result: '', text: '' },
  mode: 'idle',          // 'idle' | 'analyse' | 'play'
  userColour: 'w',       // in play mode, the side the user moves
  bookLoaded: false,
  refusedMoves: 0,       // engine moves refused in this position
  userMovesForEngine: false,
  message: null,         // {text, scope: 'position' | 'mode', fen, mode}
};

// What the engine is doing: the job whose "go" has no bestmove yet, the one
// wanted next, the options it has, and whether new jobs are held back (while
// a book is handed over).
const engine = {
  api: null,
  name: 'Orvane',        // as the engine names itself in "id name"
  ready: false,
  current: null,
  wanted: null,
  held: false,
  nextId: 1,
  options: new Map(),
  idleWaiters: [],
  note: '',
  log: [],
};

let board = null;

// The game review: the game reviewed ({fen, moves (UCI), san, ending}), the
// FEN before each of its moves, its latest result (complete or stopped), and
// while it runs, the AbortController that stops it.
const review = {
  game: null,
  fens: [],
  result: null,
  running: null,
  engine: null,
  graph: null,
  limit: null,           // a limit from the address ({nodes} or {depth}), else the depth picked
  flavour: '',           // the build the review engine runs: 'threads' or 'single'
  error: '',
};

let openings = new Map();

// For scripts and tests: the review and its graph (review.graph.plot).
window.orvaneReview = review;

// The lines in SAN come from a worker: the page sends the lines it is about
// to paint, at most once a frame and one request at a time, and paints each
// job's lines with the latest SAN written for that job.
const san = {
  worker: null,
  asked: null,           // {id, job, key, scores} of the request in flight
  lastKey: '',
  written: null,         // {job, texts, scores}: the latest answer
  painted: null,         // {job, lines}: the lines on the panel now
};

// ---- the engine --------------------------------------------------------------

// Loads the engine module, starts the engine and waits for uciok and readyok;
// the options' defaults are read from the "option" lines.
async function startEngine() {
  const module = await import(ENGINE_URL);
  const factory = module.default || module.Orvane || window.Orvane;
  if (typeof factory !== 'function') throw new Error(`${ENGINE_URL} gives no Orvane factory`);
  window.Orvane = factory;
  const isolated = window.crossOriginIsolated === true;
  // One core is left to the page, so the board answers while the engine thinks.
  const threads = isolated ? Math.max(1, Math.min((navigator.hardwareConcurrency || 2) - 1, 8)) : 1;
  const api = await factory({ threads });
  engine.api = api;
  // What the engine writes to its standard error goes to the log only.
  api.onError = (line) => logLine(`! ${line}`);
  api.onExit = onEngineExit;
  let name = 'Orvane';
  await new Promise((resolve, reject) => {
    api.onLine = (line) => {
      logLine(`< ${line}`);
      if (line.startsWith('id name ')) name = line.slice(8).trim();
      const option = /^option name (.+?) type \S+(?: default (.*?))?(?: min | max | var |$)/.exec(line);
      if (option) engine.options.set(option[1], option[2] ?? '');
      if (line === 'uciok') send('isready');
      if (line === 'readyok') resolve();
    };
    api.onExit = (status) => reject(new Error(`the engine stopped while starting (status ${status})`));
    send('uci');
  });
  api.onLine = onEngineLine;
  api.onExit = onEngineExit;
  const readyMs = Math.round(performance.now());
  window.orvaneReadyMs = readyMs;
  engine.ready = true;
  engine.name = name;
  const threaded = api.flavour ? api.flavour === 'threads' : isolated;
  const mode = threaded ? `threaded engine, ${threads} thread${threads > 1 ? 's' : ''}, cross-origin isolated`
    : `single-threaded engine${isolated ? '' : ', page not isolated'}`;
  $('engine-status').textContent = `${name} · ${mode} · ready ${readyMs} ms after page load`;
  document.body.dataset.engineReady = 'true';
}

// The engine has ended: nothing runs or waits any more.
function onEngineExit(status) {
  engine.ready = false;
  engine.current = null;
  engine.wanted = null;
  wakeIdleWaiters();
  $('engine-status').textContent = `the engine stopped (status ${status}); reload the page`;
  renderSoon();
}

function send(line) {
  logLine(`> ${line}`);
  engine.api.send(line);
}

function logLine(line) {
  engine.log.push(line);
  if (engine.log.length > LOG_LINES) engine.log.splice(0, engine.log.length - LOG_LINES);
  renderSoon();
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
  if (engine.current) stopCurrent();
  else startWanted();
}

// Stops whatever runs and forgets what was waiting.
function cancelSearch() {
  engine.wanted = null;
  stopCurrent();
}

// Marks the running job stopped, so nothing it says is shown or played.
function stopCurrent() {
  const job = engine.current;
  if (!job || job.stopped) return;
  job.stopped = true;
  send('stop');
}

function startWanted() {
  const job = engine.wanted;
  if (!job || !engine.ready || engine.current || engine.held) return;
  engine.wanted = null;
  engine.current = job;
  engine.note = '';
  if (job.kind === 'analyse') {
    setOption('UCI_AnalyseMode', 'true');
    setOption('OwnBook', 'false');
    if (engine.options.has('UCI_LimitStrength')) setOption('UCI_LimitStrength', 'false');
    setOption('MultiPV', job.multipv);
  } else {
    setOption('UCI_AnalyseMode', 'false');
    setOption('OwnBook', state.bookLoaded && $('use-book').checked ? 'true' : 'false');
    setOption('MultiPV', 1);
    // Analysis is always at full strength; a level holds for play only.
    if (job.elo || engine.options.has('UCI_LimitStrength')) setOption('UCI_LimitStrength', job.elo ? 'true' : 'false');
    if (job.elo) setOption('UCI_Elo', job.elo);
  }
  send(job.position);
  send(job.go);
  renderSoon();
}

function wakeIdleWaiters() {
  const waiters = engine.idleWaiters.splice(0);
  for (const resolve of waiters) resolve();
}

// Resolves once no search runs, or the engine has ended.
function waitForIdle() {
  if (!engine.current || !engine.ready) return Promise.resolve();
  return new Promise((resolve) => engine.idleWaiters.push(resolve));
}

// Whether a job's output may be shown: it runs, was not stopped or refused,
// and is about the position on the board in the mode it was asked for.
function isLive(job) {
  return job !== null && !job.stopped && !job.refused && job.fen === state.fen && job.kind === modeJobKind();
}

function modeJobKind() {
  return state.mode === 'analyse' ? 'analyse' : state.mode === 'play' ? 'play' : null;
}

function onEngineLine(line) {
  logLine(`< ${line}`);
  const job = engine.current;
  if (line.startsWith('bestmove')) {
    engine.current = null;
    wakeIdleWaiters();
    if (job && job.kind === 'play' && isLive(job)) playEngineMove(job, line.split(/\s+/)[1]);
    startWanted();
    renderSoon();
    return;
  }
  if (line.startsWith('info string')) {
    // The engine's notes have a line of their own; the user's message stays.
    engine.note = line.slice(12);
    if (job && /position unchanged|are ignored/.test(line)) {
      job.refused = engine.note;
      showMessage(`The engine refused this position: ${engine.note}`, 'position');
    }
    renderSoon();
    return;
  }
  if (!isLive(job)) return;
  const info = parseInfo(line);
  if (!info) return;
  if (info.nps !== undefined) job.nps = info.nps;
  if (info.score && info.pv.length > 0 && info.multipv <= job.multipv) {
    job.lines[info.multipv - 1] = {
      depth: info.depth,
      score: whiteScore(info.score, job.sideToMove),
      bound: info.bound,
      uci: info.pv,
    };
  }
  renderSoon();
}

// ---- jobs ---------------------------------------------------------------------

function positionCommand() {
  const moves = state.played.slice(0, state.ply).map((move) => move.lan);
  const base = state.rootFen === DEFAULT_POSITION ? 'position startpos' : `position fen ${state.rootFen}`;
  return moves.length ? `${base} moves ${moves.join(' ')}` : base;
}

function searchJob(kind, go) {
  return {
    id: engine.nextId++,
    kind,
    go,
    position: positionCommand(),
    fen: state.fen,
    sideToMove: state.game.turn(),
    multipv: kind === 'analyse' ? Number($('multipv').value) : 1,
    elo: kind === 'play' ? Number($('level').value) || 0 : 0,
    stopped: false,
    refused: null,
    lines: [],
    nps: null,
  };
}

// Starts, or starts again after a change, whatever the mode asks for the
// position on the board.
function refreshSearch() {
  if (state.ending.over) {
    cancelSearch();
  } else if (state.mode === 'analyse') {
    requestSearch(searchJob('analyse', 'go infinite'));
  } else if (state.mode === 'play' && state.game.turn() !== state.userColour && !state.userMovesForEngine) {
    const seconds = Math.max(0.1, Number($('movetime').value) || 2);
    requestSearch(searchJob('play', `go movetime ${Math.round(seconds * 1000)}`));
  } else {
    cancelSearch();
  }
  renderNow();
}

// Plays the engine's answer; one the rules refuse is shown to the user, the
// engine is asked once more, and then the user may move for it.
function playEngineMove(job, uci) {
  if (!uci || uci === '(none)' || uci === '0000') return;
  try {
    playMove(uciToMove(uci));
  } catch {
    state.refusedMoves++;
    const said = `Orvane answered ${uci}, which is not a legal move here;`;
    if (state.refusedMoves < 2) {
      showMessage(`${said} it is asked again.`, 'position');
      refreshSearch();
    } else {
      state.userMovesForEngine = true;
      showMessage(`${said} move for it, or stop playing.`, 'position');
      renderNow();
    }
    return;
  }
  positionChanged(true);
}

// ---- the board -----------------------------------------------------------------

// Plays a move in the position shown (chess.js throws when it is not
// legal): the game's next move when it is that one, else the game goes on
// from here with it instead of the moves that followed.
function playMove(move) {
  const played = state.game.move(move);
  const next = state.played[state.ply];
  if (!next || next.lan !== played.lan) {
    state.played.length = state.ply;
    state.played.push({ san: played.san, lan: played.lan, from: played.from, to: played.to, after: played.after });
  }
  state.ply++;
}

// Takes back the move that led to the position shown, and what followed.
function undoMove() {
  if (state.ply === 0 || !state.game.undo()) return;
  state.ply--;
  state.played.length = state.ply;
}

// Shows the position after `ply` moves of the game.
function goToPly(ply) {
  const wanted = Math.max(0, Math.min(ply, state.played.length));
  if (wanted === state.ply) return;
  const step = Math.abs(wanted - state.ply) === 1;
  while (state.ply > wanted) {
    state.game.undo();
    state.ply--;
  }
  while (state.ply < wanted) {
    state.game.move(state.played[state.ply].san);
    state.ply++;
  }
  positionChanged(step);
}

function userMayMove() {
  if (state.ending.over) return false;
  if (state.mode === 'play') return state.game.turn() === state.userColour || state.userMovesForEngine;
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
            board.setPosition(state.fen, true);
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
      if (event.legalMove && !board.isPromotionDialogShown()) board.setPosition(state.fen, false);
      return true;
    default:
      return true;
  }
}

function userMove(move) {
  try {
    playMove(move);
  } catch {
    board.setPosition(state.fen, true);
    return;
  }
  positionChanged(false);
}

// Shows the new position, and in the same task empties the panel of the
// last position's lines, so no frame pairs the two.
function positionChanged(animate) {
  state.fen = state.game.fen();
  state.ending = readEnding(state.game);
  board.setPosition(state.fen, animate);
  $('board').dataset.fen = state.fen;
  $('fen').value = state.fen;
  renderMoveList();
  markLastMove();
  renderOpening();
  state.refusedMoves = 0;
  state.userMovesForEngine = false;
  refreshSearch();
}

// Puts a new game on the board from a FEN (already checked) and moves played
// from it.
function setGame(rootFen, moves = []) {
  state.rootFen = rootFen;
  state.game = new Chess(rootFen);
  state.played = [];
  state.ply = 0;
  state.tags = {};
  for (const move of moves) playMove(move);
  positionChanged(false);
}

// How the game in `game` has ended: {over, result ("1-0", "0-1", "½-½" or
// ''), text}.
function readEnding(game) {
  if (game.isCheckmate()) {
    const white = game.turn() === 'b';
    return { over: true, result: white ? '1-0' : '0-1', text: `Checkmate: ${white ? 'White' : 'Black'} wins.` };
  }
  const draw = (text) => ({ over: true, result: '½-½', text });
  if (game.isStalemate()) return draw('Stalemate: a draw.');
  if (game.isInsufficientMaterial()) return draw('Draw: neither side can mate.');
  if (game.isThreefoldRepetition()) return draw('Draw by repetition.');
  if (game.isDraw()) return draw('Draw by the fifty-move rule.');
  return { over: false, result: '', text: '' };
}

// A message to the user, true for as long as its scope: 'position' while the
// position and the mode stay as they were, 'board' while the position does,
// 'mode' while the mode does.
function showMessage(text, scope = 'position') {
  state.message = text ? { text, scope, fen: state.fen, mode: state.mode } : null;
  if (board) renderNow();
}

function messageText() {
  const message = state.message;
  const stands = message && (message.scope === 'board' || message.mode === state.mode) &&
    (message.scope === 'mode' || message.fen === state.fen);
  return [state.ending.text, stands ? message.text : ''].filter(Boolean).join(' ');
}

// ---- drawing ------------------------------------------------------------------

// Draws at the next frame; many engine lines between two frames cost one
// drawing.
let framePending = false;
function renderSoon() {
  if (framePending) return;
  framePending = true;
  requestAnimationFrame(() => {
    if (framePending) renderNow();
  });
}

// What the panel may show now: the live job's lines, unless the user plays
// and has not asked to see the engine's thoughts.
function shownJob() {
  const job = engine.current;
  if (!isLive(job)) return null;
  if (job.kind === 'play' && !$('show-thinking').checked) return null;
  return job;
}

// Changes an element's text only when it differs, so an unchanged frame
// costs the browser no layout.
function setText(element, text) {
  if (element.textContent !== text) element.textContent = text;
}

function renderNow() {
  framePending = false;
  const job = shownJob();
  const lines = job ? job.lines.filter(Boolean) : [];
  if (lines.length > 0) askForSan(job, lines);
  // Depth, score, lines, bar and arrow all come from the lines last written
  // in SAN, so one frame never mixes two of the engine's answers.
  const written = job && san.written && san.written.job === job ? san.written : { texts: [], lines: [] };
  const first = written.lines[0];
  setText($('depth'), first ? String(first.depth) : '–');
  setText($('score'), first ? formatScore(first.score) : state.ending.result || '–');
  setText($('nps'), job && job.nps ? `${(job.nps / 1000).toFixed(0)} kN/s` : '–');
  renderLines(written);
  san.painted = written.texts.length ? { job, lines: written.lines } : null;
  renderEvalBar(first);
  renderArrow(job && job.kind === 'analyse' ? first : null);
  setText($('message'), messageText());
  setText($('engine-note'), engine.note);
  renderButtons();
  const log = $('log');
  if (log.parentElement.open) log.textContent = engine.log.join('\n');
}

// Asks the worker for the SAN of the lines of `job` unless it is writing, or
// has written, these very lines.
function askForSan(job, lines) {
  const uci = lines.map((line) => line.uci.slice(0, PAINTED_PLIES));
  const key = `${job.id} ${lines.map((line, i) => `${line.depth} ${line.score.type} ${line.score.value} ${uci[i].join(' ')}`).join(',')}`;
  if (san.asked || key === san.lastKey) return;
  san.lastKey = key;
  san.asked = { id: key, job, lines };
  san.worker.postMessage({ id: key, fen: job.fen, lines: uci, limit: PAINTED_PLIES });
}

function onSanWritten({ data }) {
  const asked = san.asked;
  san.asked = null;
  if (asked && asked.id === data.id) san.written = { job: asked.job, texts: data.texts, lines: asked.lines };
  renderSoon();
}

// The lines written in SAN for the job shown, with their scores: a line
// shows only once its SAN is back, and never a line of another job.
function renderLines(written) {
  const list = $('lines');
  const items = list.children;
  const wanted = Math.max(1, written.texts.length);
  while (items.length < wanted) {
    const item = document.createElement('li');
    item.innerHTML = '<span class="line-score"></span> <span class="line-moves"></span>';
    item.querySelector('.line-moves').dataset.testid = `pv-${items.length + 1}`;
    list.appendChild(item);
  }
  while (items.length > wanted) list.lastElementChild.remove();
  list.classList.toggle('empty', written.texts.length === 0);
  for (let i = 0; i < items.length; i++) {
    const text = written.texts[i] || '';
    setText(items[i].querySelector('.line-score'), text ? formatScore(written.lines[i].score) : '');
    setText(items[i].querySelector('.line-moves'), text);
  }
}

// The bar's short label: pawns to one decimal, or the mate.
function barLabel(score) {
  if (score.type === 'mate') return formatScore(score);
  const pawns = Math.abs(score.value) / 100;
  return `${score.value < 0 ? '-' : '+'}${pawns.toFixed(1)}`;
}

// The bar: the first line's score, the result of a game that has ended, or
// even when nothing is known.
function renderEvalBar(first) {
  const result = state.ending.result;
  let share = 0.5;
  if (first) share = whiteShare(first.score);
  else if (result === '1-0') share = 1;
  else if (result === '0-1') share = 0;
  const height = `${(share * 100).toFixed(1)}%`;
  if ($('eval-fill').style.height !== height) $('eval-fill').style.height = height;
  setText($('eval-text'), first ? barLabel(first.score) : result);
  const flipped = board.getOrientation() === COLOR.black;
  $('eval-bar').classList.toggle('flipped', flipped);
  // The number stands at the end of the side ahead, on its colour.
  $('eval-bar').classList.toggle('black-ahead', share < 0.5);
}

// The best move of the first line of an analysis, as an arrow.
function renderArrow(first) {
  const want = first && first.uci.length > 0 ? first.uci[0].slice(0, 4) : null;
  const arrows = board.getArrows();
  const have = arrows.length === 1 ? arrows[0].from + arrows[0].to : null;
  if (have === want) return;
  board.removeArrows();
  if (want) board.addArrow(ARROW_TYPE.info, want.slice(0, 2), want.slice(2, 4));
}

function renderButtons() {
  const ready = engine.ready;
  const over = state.ending.over;
  const analysing = state.mode === 'analyse' && !over;
  $('analyse').disabled = !ready || over;
  setText($('analyse'), analysing ? 'Stop' : 'Analyse');
  $('analyse').classList.toggle('active', analysing);
  $('play').disabled = !ready;
  $('play-here').disabled = !ready || over;
  $('stop-play').disabled = state.mode !== 'play';
  $('takeback').disabled = state.ply === 0;
  renderReviewButton();
}

// ---- the game: the move list, highlights, the opening ----------------------------

// How many moves from the start the shown game shares with the game
// reviewed: only those carry the review's marks.
function sharedWithReview() {
  if (!review.game || review.game.fen !== state.rootFen) return 0;
  let ply = 0;
  while (ply < state.played.length && ply < review.game.moves.length && state.played[ply].lan === review.game.moves[ply]) ply++;
  return ply;
}

const Marks = { inaccuracy: '?!', mistake: '?', blunder: '??' };

// The game's moves, numbered, each a button (move-<ply>) with its review
// class and mark; the position shown is the current one. The text reads as
// the moves are written: "1. e4 e5 2. Nf3".
function renderMoveList() {
  const list = $('moves');
  const shared = sharedWithReview();
  const judged = review.result ? review.result.moves : [];
  const fields = state.rootFen.split(' ');
  let number = Number(fields[5]) || 1;
  let white = fields[1] !== 'b';
  const parts = [];
  state.played.forEach((move, i) => {
    const ply = i + 1;
    if (i > 0) parts.push(' ');
    if (white) parts.push(`${number}. `);
    else if (i === 0) parts.push(`${number}... `);
    const item = document.createElement('span');
    item.className = 'move';
    item.dataset.testid = `move-${ply}`;
    item.dataset.ply = String(ply);
    const verdict = ply <= shared && judged[i] ? judged[i].class : '';
    item.dataset.class = verdict;
    item.textContent = move.san + (Marks[verdict] || '');
    if (judged[i] && ply <= shared && review.result.positions[ply]) item.dataset.eval = formatEval(review.result.positions[ply].score);
    if (ply === state.ply) item.classList.add('current');
    parts.push(item);
    if (!white) number++;
    white = !white;
  });
  list.replaceChildren(...parts);
}

// Marks the last move's squares and a king in check; the board element
// carries them too (data-last-move, data-check) for scripts.
function markLastMove() {
  board.removeMarkers(MARKER_TYPE.square);
  board.removeMarkers(MARKER_TYPE.circleDangerFilled);
  const last = state.ply > 0 ? state.played[state.ply - 1] : null;
  if (last) {
    board.addMarker(MARKER_TYPE.square, last.from);
    board.addMarker(MARKER_TYPE.square, last.to);
  }
  let check = '';
  if (state.game.isCheck()) {
    const side = state.game.turn();
    for (const row of state.game.board()) {
      for (const piece of row) if (piece && piece.type === 'k' && piece.color === side) check = piece.square;
    }
    board.addMarker(MARKER_TYPE.circleDangerFilled, check);
  }
  $('board').dataset.lastMove = last ? last.from + last.to : '';
  $('board').dataset.check = check;
}

function renderOpening() {
  const fens = [state.rootFen, ...state.played.slice(0, state.ply).map((move) => move.after)];
  const found = state.rootFen === DEFAULT_POSITION ? nameOpening(openings, fens) : null;
  setText($('opening'), found ? `${found.eco} ${found.name}` : '');
}

function onMoveListClick(event) {
  const item = event.target.closest('[data-ply]');
  if (item) goToPly(Number(item.dataset.ply));
}

// ←, →, Home and End walk the game, unless a field has the keys.
function onWalkKey(event) {
  if (event.target.closest('input, textarea, select') || event.altKey || event.ctrlKey || event.metaKey) return;
  const target = { ArrowLeft: state.ply - 1, ArrowRight: state.ply + 1, Home: 0, End: state.played.length }[event.key];
  if (target === undefined) return;
  event.preventDefault();
  goToPly(target);
}

// Plays an engine line out on the board from the position it belongs to,
// a move every 300 ms, as moves of the game from there on.
function playOutLine(job, uciMoves) {
  if (!job || job.fen !== state.fen) return;
  const start = state.ply;
  try {
    for (const uci of uciMoves) playMove(uciToMove(uci));
  } catch {
    // The line ends at a move that is not legal; what was played stays.
  }
  const end = state.ply;
  goBack(start);
  state.refusedMoves = 0;
  let ply = start;
  const step = () => {
    if (state.ply !== ply || ply >= end) return;
    ply++;
    goToPly(ply);
    setTimeout(step, 300);
  };
  positionChanged(false);
  setTimeout(step, 0);
}

// Puts the board back `ply` moves into the game without drawing.
function goBack(ply) {
  while (state.ply > ply) {
    state.game.undo();
    state.ply--;
  }
}

function onLineClick(event) {
  const item = event.target.closest('li');
  const job = shownJob();
  if (!item || !job || !san.painted || san.painted.job !== job) return;
  const index = [...$('lines').children].indexOf(item);
  const line = san.painted.lines[index];
  // The moves painted, no more.
  if (line) playOutLine(job, line.uci.slice(0, PAINTED_PLIES));
}

async function copyFen() {
  try {
    await navigator.clipboard.writeText(state.fen);
    showMessage('FEN copied.', 'board');
  } catch {
    $('fen').select();
    showMessage('The clipboard is not open to this page: the FEN is selected in its field to copy.', 'board');
  }
}

// The game as PGN: with the review's evaluations, marks and better lines
// when the game shown is the one reviewed, else its moves alone.
function gamePgn() {
  const tags = { ...state.tags };
  const shared = sharedWithReview();
  if (review.result && shared === state.played.length && shared === review.game.moves.length) {
    return reviewPgn(review.result, tags, engine.name);
  }
  const chess = new Chess(state.rootFen);
  for (const [name, value] of Object.entries(tags)) chess.setHeader(name, value);
  for (const move of state.played) chess.move(move.san);
  return `${chess.pgn()}\n`;
}

function downloadPgn() {
  const text = gamePgn();
  window.lastPgn = text;
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([text], { type: 'application/x-chess-pgn' }));
  link.download = 'game.pgn';
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

// ---- the review ------------------------------------------------------------------

function reviewLimit() {
  return review.limit || { depth: Number($('review-depth').value) };
}

// Starts a review of the game on the board, resumes one stopped on the
// same game, or stops the one running.
async function onReview() {
  if (review.running) {
    review.running.abort();
    return;
  }
  const sans = state.played.map((move) => move.san);
  if (sans.length === 0) {
    showMessage('No moves to review: play or paste a game.', 'board');
    return;
  }
  const same = review.result !== null && !review.result.complete && sharedWithReview() === state.played.length &&
    review.game.moves.length === state.played.length;
  if (!same) {
    review.game = gameFromSan(state.rootFen, sans);
    const chess = new Chess(state.rootFen);
    review.fens = [chess.fen(), ...sans.map((text) => { chess.move(text); return chess.fen(); })];
    review.result = null;
    if (review.engine) review.engine.close();
    review.engine = null;
  }
  cancelSearch();
  state.mode = 'idle';
  review.error = '';
  const controller = new AbortController();
  review.running = controller;
  const total = review.game.moves.length + 1;
  const done = review.result ? review.result.positions.length : 0;
  const limit = review.result ? review.result.limit : reviewLimit();
  showProgress(done, total);
  renderReview();
  try {
    if (!review.engine) review.engine = await startReviewEngine(window.Orvane, logLine);
    review.flavour = review.engine.flavour;
    const positions = review.result ? review.result.positions.slice() : [];
    review.result = await reviewGame(review.game, review.engine.analyse, {
      limit,
      signal: controller.signal,
      resume: review.result || undefined,
      onProgress: (count, all, entry) => {
        positions.push(entry);
        review.result = { game: review.game, limit, positions: positions.slice(), complete: false,
                          ...summarise(review.game, positions) };
        showProgress(count, all);
        renderReviewSoon();
      },
    });
  } catch (error) {
    review.error = `Review stopped: ${error.message}`;
    if (review.engine) review.engine.close();
    review.engine = null;
  } finally {
    review.running = null;
  }
  showProgress(null);
  if (review.result && review.result.complete && review.engine) {
    review.engine.close();
    review.engine = null;
  }
  renderReview();
  renderMoveList();
  renderButtons();
}

function showProgress(done, total) {
  const bar = $('review-progress');
  bar.hidden = done === null;
  if (done !== null) {
    bar.max = total;
    bar.value = done;
  }
}

let reviewPending = false;
function renderReviewSoon() {
  if (reviewPending) return;
  reviewPending = true;
  requestAnimationFrame(() => {
    reviewPending = false;
    renderReview();
    renderMoveList();
  });
}

function renderReviewButton() {
  const button = $('review');
  button.disabled = !engine.ready;
  const stopped = review.result && !review.result.complete && !review.running &&
    sharedWithReview() === state.played.length && review.game.moves.length === state.played.length;
  setText(button, review.running ? 'Stop review' : stopped ? 'Resume review' : 'Review');
}

function countText(counts) {
  const plural = (n, one, many) => `${n} ${n === 1 ? one : many}`;
  return `${plural(counts.inaccuracy, 'inaccuracy', 'inaccuracies')}, ${plural(counts.mistake, 'mistake', 'mistakes')}, ` +
    plural(counts.blunder, 'blunder', 'blunders');
}

// The graph, each side's accuracy and counts, and the mistakes with the
// better move and its line.
function renderReview() {
  const result = review.result;
  $('review-results').hidden = !result;
  setText($('review-error'), review.error);
  renderReviewButton();
  if (!result) return;
  const limit = Object.entries(result.limit).map(([name, value]) => `${name} ${value}`).join(', ');
  const build = review.flavour === 'threads' ? 'threaded engine' : 'single-threaded engine';
  setText($('review-note'), `Reviewed by the ${build}, one search thread, ${limit} a position.`);
  if (!review.graph) review.graph = createGraph($('review-graph'), goToReviewPly);
  review.graph.update(result.positions, review.game.moves.length + 1);
  for (const side of ['white', 'black']) {
    const accuracy = result.complete ? result.accuracy[side] : null;
    setText($(`accuracy-${side}`), accuracy === null ? '–' : `${accuracy.toFixed(1)}%`);
    setText($(`counts-${side}`), countText(result.counts[side]));
  }
  const list = $('review-mistakes');
  const items = result.moves.filter((move) => move.class === 'mistake' || move.class === 'blunder').map((move) => {
    const item = document.createElement('li');
    const played = review.game.san[move.ply - 1];
    const line = pvToSan(review.fens[move.ply - 1], move.pv, 8);
    item.innerHTML = '<button class="move"></button> <span></span> <button class="better"></button>';
    item.children[0].textContent = `${played}${Marks[move.class]}`;
    item.children[0].dataset.ply = String(move.ply);
    item.children[1].textContent = 'better:';
    item.children[2].textContent = line;
    item.children[2].dataset.testid = `better-${move.ply}`;
    item.children[2].dataset.better = String(move.ply);
    return item;
  });
  list.replaceChildren(...items);
}

// Shows the position after `ply` moves of the reviewed game, putting that
// game back on the board when another is shown.
function goToReviewPly(ply) {
  if (!review.game) return;
  if (sharedWithReview() !== review.game.moves.length || state.played.length !== review.game.moves.length) {
    const tags = state.tags;
    setGame(review.game.fen, review.game.moves.map(uciToMove));
    state.tags = tags;
  }
  goToPly(ply);
}

function onMistakesClick(event) {
  const button = event.target.closest('button');
  if (!button) return;
  if (button.dataset.ply) {
    goToReviewPly(Number(button.dataset.ply));
    return;
  }
  const ply = Number(button.dataset.better);
  const judged = review.result.moves[ply - 1];
  goToReviewPly(ply - 1);
  playOutLine({ fen: state.fen }, judged.pv);
}

// ---- controls ------------------------------------------------------------------

function setMode(mode) {
  state.mode = mode;
  refreshSearch();
}

function levelText() {
  const elo = Number($('level').value);
  return elo ? `at ${elo} Elo` : 'at full strength';
}

function startPlaying(fromStart) {
  state.userColour = $('play-colour').value;
  board.setOrientation(state.userColour === 'w' ? COLOR.white : COLOR.black);
  state.mode = 'play';
  if (fromStart) setGame(DEFAULT_POSITION);
  else positionChanged(false);
  showMessage(`You play ${state.userColour === 'w' ? 'White' : 'Black'}; Orvane plays ${levelText()}, ${$('movetime').value} s a move.`, 'mode');
}

// A FEN typed or given in the address: set in chess.js's own spelling when
// both chess.js and the engine take it, else the board stays and the reason
// is shown.
function trySetFen(text, refusal, scope = 'position') {
  const fen = text.trim();
  const problem = fenProblem(fen);
  if (problem) {
    showMessage(`${refusal}: ${problem}; position unchanged.`, scope);
    $('fen').value = state.fen;
    return;
  }
  setGame(new Chess(fen).fen());
  showMessage('');
}

function onSetMoves() {
  const result = readGame($('move-text').value);
  const problem = result.error || fenProblem(result.root);
  if (problem) {
    showMessage(`Moves not set: ${problem}`);
    return;
  }
  setGame(result.root, result.moves.map((move) => move.san));
  state.tags = result.tags;
  showMessage(`${result.moves.length} moves played.`, 'board');
}

function onTakeBack() {
  // Against the engine a take-back returns the move to the user.
  undoMove();
  if (state.mode === 'play' && state.game.turn() !== state.userColour && state.played.length > 0) undoMove();
  positionChanged(false);
}

// Hands the picked book to the engine's file system and names it. Options
// change only between searches, so new searches wait meanwhile; the mode is
// the user's and stays as it is.
async function onBookPicked() {
  const file = $('book-file').files[0];
  if (!file) return;
  if (file.size % 16 !== 0 || file.size === 0) {
    showMessage(`${file.name} is not a Polyglot book: its size is not a multiple of 16 bytes.`);
    return;
  }
  const bytes = new Uint8Array(await file.arrayBuffer());
  await engine.api.writeFile(BOOK_NAME, bytes);
  engine.held = true;
  try {
    stopCurrent();
    await waitForIdle();
    if (!engine.ready) throw new Error('the engine has stopped');
    engine.options.delete('Book File');
    setOption('Book File', BOOK_NAME);
    state.bookLoaded = true;
    $('book-status').textContent = `Book: ${file.name}, ${(file.size / 16).toLocaleString()} entries; used in play when ticked.`;
  } finally {
    engine.held = false;
    refreshSearch();
  }
}

function wireControls() {
  $('analyse').addEventListener('click', () => setMode(state.mode === 'analyse' ? 'idle' : 'analyse'));
  $('multipv').addEventListener('change', () => refreshSearch());
  $('flip').addEventListener('click', () => {
    board.setOrientation(board.getOrientation() === COLOR.white ? COLOR.black : COLOR.white);
    renderSoon();
  });
  $('takeback').addEventListener('click', onTakeBack);
  $('play').addEventListener('click', () => startPlaying(true));
  $('play-here').addEventListener('click', () => startPlaying(false));
  $('stop-play').addEventListener('click', () => setMode('idle'));
  $('show-thinking').addEventListener('change', renderNow);
  $('set-fen').addEventListener('click', () => trySetFen($('fen').value, 'FEN not set'));
  $('fen').addEventListener('keydown', (event) => { if (event.key === 'Enter') trySetFen($('fen').value, 'FEN not set'); });
  $('set-moves').addEventListener('click', onSetMoves);
  $('start-position').addEventListener('click', () => setGame(DEFAULT_POSITION));
  $('book-file').addEventListener('change', () => {
    onBookPicked().catch((error) => showMessage(`Book not loaded: ${error.message}`));
  });
  $('use-book').addEventListener('change', () => refreshSearch());
  $('log').parentElement.addEventListener('toggle', renderSoon);
  $('moves').addEventListener('click', onMoveListClick);
  $('lines').addEventListener('click', onLineClick);
  document.addEventListener('keydown', onWalkKey);
  $('copy-fen').addEventListener('click', copyFen);
  $('download-pgn').addEventListener('click', downloadPgn);
  $('review').addEventListener('click', () => {
    onReview().catch((error) => showMessage(`Review failed: ${error.message}`, 'board'));
  });
  $('review-mistakes').addEventListener('click', onMistakesClick);
  window.addEventListener('resize', () => { if (review.graph) review.graph.resize(); });
}

// Fills the level list: full strength, then 800 to 2850 Elo.
function fillLevels() {
  const select = $('level');
  const levels = [];
  for (let elo = ELO_MIN; elo < ELO_MAX; elo += 100) levels.push(elo);
  levels.push(ELO_MAX);
  for (const elo of levels) select.add(new Option(`${elo} Elo`, String(elo)));
}

// Reads ?fen=<FEN>&analyse=1, &multipv=N and &elo=N; a value that cannot be
// used is named in the message.
function applyUrl() {
  const params = new URLSearchParams(window.location.search);
  const notes = [];
  const fen = params.get('fen');
  if (fen) trySetFen(fen, 'FEN in the address not used', 'board');
  if (params.has('multipv')) {
    const lines = Number(params.get('multipv'));
    if (Number.isInteger(lines) && lines >= 1 && lines <= MAX_LINES) $('multipv').value = String(lines);
    else notes.push(`multipv=${params.get('multipv')} in the address not used: 1 to ${MAX_LINES} lines; ${$('multipv').value} shown.`);
  }
  if (params.has('elo')) {
    const elo = Number(params.get('elo'));
    if (Number.isInteger(elo) && elo >= ELO_MIN && elo <= ELO_MAX) {
      if (![...$('level').options].some((option) => option.value === String(elo))) $('level').add(new Option(`${elo} Elo`, String(elo)));
      $('level').value = String(elo);
    } else {
      notes.push(`elo=${params.get('elo')} in the address not used: levels go from ${ELO_MIN} to ${ELO_MAX}; full strength kept.`);
    }
  }
  const pgn = params.get('pgn');
  if (pgn) {
    $('move-text').value = pgn;
    onSetMoves();
  }
  for (const name of ['depth', 'nodes']) {
    if (!params.has(name)) continue;
    const value = Number(params.get(name));
    if (Number.isInteger(value) && value >= 1 && value <= (name === 'depth' ? 40 : 1e9)) review.limit = { [name]: value };
    else notes.push(`${name}=${params.get(name)} in the address not used; the review searches to the depth picked.`);
  }
  if (notes.length) showMessage([messageText(), ...notes].filter(Boolean).join(' '), 'board');
  return { analyse: params.get('analyse') === '1', review: params.get('review') === '1' && pgn !== null };
}

// Reads the openings' names (web/openings.tsv) and names the one on the board.
async function loadOpenings() {
  const response = await fetch('/openings.tsv');
  if (!response.ok) throw new Error(`openings.tsv: HTTP ${response.status}`);
  openings = readOpenings(await response.text());
  renderOpening();
}

async function main() {
  board = new Chessboard($('board'), {
    position: state.fen,
    assetsUrl: '/vendor/cm-chessboard/assets/',
    style: { borderType: BORDER_TYPE.frame, showCoordinates: true, pieces: { file: 'pieces/standard.svg' }, animationDuration: 200 },
    extensions: [{ class: Markers }, { class: Arrows }, { class: PromotionDialog }],
  });
  board.enableMoveInput(onBoardInput);
  san.worker = new Worker('/san-worker.js', { type: 'module' });
  san.worker.onmessage = onSanWritten;
  san.worker.onerror = (event) => console.error('the SAN worker failed:', event.message);
  fillLevels();
  wireControls();
  $('fen').value = state.fen;
  $('board').dataset.fen = state.fen;
  const atOnce = applyUrl();
  renderNow();
  loadOpenings().catch((error) => console.error('the openings could not be read:', error));
  try {
    await startEngine();
  } catch (error) {
    $('engine-status').textContent = `engine not loaded: ${error.message}`;
    console.error('Orvane could not be started:', error);
    return;
  }
  renderButtons();
  if (atOnce.review) {
    onReview().catch((error) => showMessage(`Review failed: ${error.message}`, 'board'));
  } else if (atOnce.analyse) {
    setMode('analyse');
  } else {
    refreshSearch();
  }
}

main();
