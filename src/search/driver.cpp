// The search driver: root set-up, iterative deepening with aspiration
// windows, the decision to go on after each iteration, and the answer.
#include "search/driver.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "board/movegen.h"
#include "board/movetext.h"
#include "board/output.h"
#include "board/settings.h"
#include "book/book.h"
#include "eval/evaluate.h"
#include "search/flags.h"
#include "search/level.h"
#include "search/picker.h"
#include "search/report.h"
#include "search/search.h"
#include "search/searchthread.h"
#include "search/tables.h"
#include "search/threads.h"
#include "search/timeman.h"
#include "tb/tbsearch.h"
#include "tt/tt.h"

double searchStart = 0.0;
int tbRootScore = NoTbRootScore;
int tbProbeLimit = 0;
bool infiniteSearch = false;
int lastIteration = 0;

namespace {

// Aspiration windows: half-width of the first window, and the score beyond
// which a failing window is opened all the way (the bound is then far from
// any ordinary evaluation).
constexpr int AspirationDelta = 7;
constexpr int AspirationOpenLimit = 701;
// Helpers centre their windows slightly apart so they do not all search the
// same tree (indexed by thread number modulo 16).
constexpr int aspirationOffset[16] = {0, 0, -1, 1, -2, 2, -3, 3, -4, 4, -5, 5, -6, 6, -7, 7};
// A search limited to fewer plies than this is a fixed-depth search: mate
// scores and a single legal move may end it early.
constexpr int UnlimitedDepth = 99;

// The evaluation's table builder runs after every changed option; the
// search's tables depend on options too, and a table filled by an earlier
// search holds results of the old settings.
void rebuildSearchTables() {
  initSearchTables();
  if (tt.ttDirty) ttClearSilently();
}
[[maybe_unused]] const bool searchTablesHooked = (afterInitTables = rebuildSearchTables, true);

bool firstSearchDone = false;
double easy = 0.1;  // smoothed share of the root nodes spent on the best move
int timeUp = 0;

// One line for the log (the front end's hook does nothing without a log).
void logLine(const char* format, ...) ORVANE_PRINTF(1, 2);
void logLine(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  logMessage(text);
}

bool mainStopped() { return threadSignals[0].stop.load(std::memory_order_relaxed) != 0; }

void endProcessIfQuitting() {
  if (!quitRequested.load(std::memory_order_relaxed)) return;
  stopPool();
  quitSequence();
}

// "time <ms> nodes <n> nps <n> hashfull <n>": the statistics part shared by
// the driver's own info lines.
std::string statisticsText() {
  // Same rule as the PV reports: real whole milliseconds (0 in the first
  // one), speed over at least one millisecond.
  const double raw = now() - searchStart;
  const double elapsed = elapsedSeconds();
  const uint64_t nodes = totalNodes();
  char text[160];
  std::snprintf(text, sizeof text, "time %lld nodes %llu nps %llu hashfull %d", raw > 0 ? (long long)(raw * 1000.0) : 0LL,
                (unsigned long long)nodes, (unsigned long long)(nodes / elapsed), ttHashfull());
  return text;
}

// Builds thread 0's root move list: the table's move first, then the
// picker's order; only legal moves, and only those named in searchMovesText
// when it is not empty.  When no legal move matches the restriction, every
// legal move is kept (a search must have a legal answer).
int buildRootMoves(Position& root, const char* searchMovesText, RootMove* rootMoves) {
  TTData entry;
  const Move ttMove = ttProbe(root.key, entry) ? entry.move : 0;
  Move ordered[MaxMoves];
  int candidates = 0;
  MovePicker picker(root, root.inCheck ? PlanInCheck : PlanNormal, ttMove, 0, 0, 0, 0, 0);
  for (Move m; candidates < MaxMoves && (m = picker.next());) ordered[candidates++] = m;
  const bool restricted = searchMovesText && searchMovesText[0];
  for (int pass = restricted ? 0 : 1; pass < 2; pass++) {
    int count = 0;
    for (int i = 0; i < candidates && count < MaxRootMoves - 1; i++) {
      Position child;
      if (!makeMove(root, child, ordered[i])) continue;
      if (pass == 0 && !std::strstr(searchMovesText, moveToText(ordered[i]).c_str())) continue;
      rootMoves[count++] = {ordered[i], 0, 0};
    }
    rootMoves[count].move = 0;
    if (count > 0 || pass == 1) return count;
    writeLine("info string no legal move matches searchmoves, searching all moves");
  }
  return 0;
}

// Runs the tablebase root filter, which also fixes this search's tablebase
// score and probe limit, and lists the moves it selected (restricted to
// searchMovesText when that is not empty).  Returns 0 when the tables do not
// resolve the root, or when none of the requested moves keeps the tablebase
// result: the requested moves are then searched normally, probing the
// tables in the tree, and the root shows its searched score.
int tablebaseRootMoves(const Position& root, const char* searchMovesText, double targetTime, RootMove* rootMoves) {
  TbRootMove selected[MaxRootMoves];
  const TbRootResult tb = tbRootFilter(root, targetTime, selected, MaxRootMoves);
  tbProbeLimit = tb.probeLimit;
  tbRootScore = tb.rootScore;
  const bool restricted = searchMovesText && searchMovesText[0];
  int count = 0;
  for (int i = 0; i < tb.moveCount; i++)
    if (!restricted || std::strstr(searchMovesText, moveToText(selected[i].move).c_str()))
      rootMoves[count++] = {selected[i].move, 0, 0};
  rootMoves[count].move = 0;
  if (count == 0) {
    tbRootScore = NoTbRootScore;
    tbProbeLimit = tb.limit;
  }
  return count;
}

// The root and the tables of every pool thread before a search: node
// counters, stop flags, killers and counter moves start afresh; history
// carries over from search to search.
void prepareThreads(Position& root) {
  for (int t = 0; t < threadCount; t++) {
    threadSignals[t].nodes.store(0, std::memory_order_relaxed);
    threadSignals[t].stop.store(0, std::memory_order_relaxed);
    clearSearchTables(*searchThreads[t]);
  }
  root.threadIndex = 0;
  root.inCheck = kingAttacked(root, root.sideToMove());
  root.historyTable = &searchThreads[0]->history;
  attachEvalCaches(root, threadCaches[0]);
  if (!firstSearchDone) {
    firstSearchDone = true;
    initPruningTables();
    // History starts in the middle of its range, so first cut-offs move it
    // both ways.
    for (auto& byColour : searchThreads[0]->history.v)
      for (auto& byType : byColour)
        for (int& h : byType) h = 5000;
  }
}

// Gives every helper its own copy of the root and of the root move list,
// pointed at its own tables.
void copyRootToHelpers(const Position& root, int rootMoveCount) {
  const SearchThread& main = *searchThreads[0];
  for (int t = 1; t < threadCount; t++) {
    SearchThread& helper = *searchThreads[t];
    helper.rootPosition = root;
    helper.rootPosition.threadIndex = (int16_t)t;
    helper.rootPosition.historyTable = &helper.history;
    attachEvalCaches(helper.rootPosition, threadCaches[t]);
    std::memcpy(helper.rootMoves, main.rootMoves, sizeof main.rootMoves);
    helper.rootMoveCount = rootMoveCount;
  }
}

// Share of the iteration's root nodes spent on the best move, smoothed over
// iterations; a best move that changed resets it low.  A move that keeps
// taking nearly all the effort is an easy move and lets the search stop
// sooner.  A level's other candidate lines are left out: their effort goes
// to choosing among them, not to doubt about the best one.
void updateEasyMove(const SearchThread& main, int depth, int candidateLines) {
  uint64_t total = main.rootMoves[0].nodes;
  for (int i = candidateLines; main.rootMoves[i].move; i++) total += main.rootMoves[i].nodes;
  if (depth > 1 && main.iterPV[depth][0] == main.iterPV[depth - 1][0] && total > 0)
    easy = 0.25 * easy + 0.75 * (double)main.rootMoves[0].nodes / (double)total;
  else
    easy = 0.05;
}

// The answer's two move texts from the iteration's principal variation.
void takeAnswer(const SearchThread& main, int depth, std::string& best, std::string& ponder) {
  if (main.iterScore[depth] < -MateScore || main.iterPV[depth][0] == 0) return;
  best = moveToText(main.iterPV[depth][0]);
  ponder = moveToText(main.iterPV[depth][1]);
}

// The book's move for the root when the book is on and open, chosen among
// the book moves that are root moves (so "searchmoves" and the tablebase
// filter restrict it too); else 0.  Analysis never asks: a GUI that sends
// "go infinite", or any "go" with "UCI_AnalyseMode" on, wants the search's
// lines and score, and a book move would answer it with neither.
Move askBook(const Position& root, const SearchThread& main) {
  if (!settings::ownBook || !bookIsOpen() || infiniteSearch || settings::analyseMode) return 0;
  Move allowed[MaxRootMoves];
  int count = 0;
  for (; main.rootMoves[count].move; count++) allowed[count] = main.rootMoves[count].move;
  return probeBook(root, allowed, count);
}

// A ponder or infinite search that ended by itself keeps handling commands
// until "ponderhit" or "stop": only then may it answer.
void waitForRelease() {
  while ((pondering.load(std::memory_order_relaxed) || infiniteSearch) && !mainStopped()) {
    endProcessIfQuitting();
    stopOpenSearchAtEndOfInput();
    if (!commandQueueIsEmpty())
      commandPoller();
    else if (waitForCommand)
      waitForCommand();  // woken by the next line, the end of input or a quit
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  endProcessIfQuitting();
}

// A playing level's limits for one search: its node budget (the tighter of
// it and "go nodes"), its candidate lines, and a clock poll fine enough to
// keep a small budget.  Analysis ("go infinite") keeps full strength.
LevelPlan startLevel() {
  LevelPlan plan = currentLevelPlan();
  if (infiniteSearch) plan.active = false;
  if (!plan.active) return plan;
  nodeLimit = std::min(nodeLimit, plan.nodeBudget);
  setLevelLines(plan.lines);
  clockPollMask = LevelClockPollMask;
  return plan;
}

// The most of its time a search may spend, as a share of the target.  A
// level that weighs several lines gets half: those lines keep its best move
// from ever looking easy, and a weaker player should not think longer than
// the full-strength engine would.  With one line a level is the
// full-strength search under a budget, which can only stop it sooner.
double timeShareCap(const LevelPlan& plan) { return plan.active && plan.lines > 1 ? 0.5 : 2.0; }

void endLevel(const LevelPlan& plan, uint64_t savedNodeLimit) {
  if (!plan.active) return;
  nodeLimit = savedNodeLimit;
  setLevelLines(0);
  clockPollMask = DefaultClockPollMask;
}

// The level's answer: one of the best lines of the search, drawn by the
// level's rule; the move to ponder on is the reply that line expects.
bool isRootMove(const SearchThread& main, Move m) {
  for (int i = 0; main.rootMoves[i].move; i++)
    if (main.rootMoves[i].move == m) return true;
  return false;
}

void takeLevelAnswer(const LevelPlan& plan, const SearchThread& main, std::string& best, std::string& ponder) {
  Move bestMove = 0;
  for (int i = 0; main.rootMoves[i].move && !bestMove; i++)
    if (moveToText(main.rootMoves[i].move) == best) bestMove = main.rootMoves[i].move;
  LevelCandidate found[MaxRootMoves];
  const int foundCount = rootCandidates(bestMove, found, plan.lines);
  // Only moves of this root list may be played.
  LevelCandidate candidates[MaxRootMoves];
  int count = 0;
  for (int i = 0; i < foundCount; i++)
    if (isRootMove(main, found[i].move)) candidates[count++] = found[i];
  if (count <= 1 || candidates[0].move != bestMove) return;
  const LevelCandidate& chosen = candidates[chooseLevelCandidate(candidates, count, plan)];
  if (chosen.move == candidates[0].move) return;
  best = moveToText(chosen.move);
  ponder = moveToText(chosen.reply);
}

}  // namespace

void stopOpenSearchAtEndOfInput() {
  if (!inputEnded.load(std::memory_order_acquire) || !commandQueueIsEmpty()) return;
  if (pondering.load(std::memory_order_relaxed) || infiniteSearch)
    threadSignals[0].stop.store(1, std::memory_order_relaxed);
}

// A narrow window around the previous iteration's score; helpers shift
// theirs a little, and from thread 2 on half of them search a window that
// is open on one side just past that score.
AspirationWindow firstWindow(int previous, int thread, int threads) {
  const int centre = previous + aspirationOffset[thread % 16];
  AspirationWindow w{centre - AspirationDelta, centre + AspirationDelta, AspirationDelta};
  if (thread > 1 && threads > 1) {
    if (thread & 1)
      w.alpha = previous - 1;
    else
      w.beta = previous + 1;
  }
  w.alpha = std::max(w.alpha, -NoScore);
  w.beta = std::min(w.beta, NoScore);
  return w;
}

// After a result v outside the window: the failing side moves past the
// result by the margin, the other side comes halfway in, and the margin
// grows; far from ordinary scores the failing side opens completely.
void widenAfterFail(AspirationWindow& w, int v) {
  if (v <= w.alpha) {
    w.beta = (w.alpha + w.beta) / 2;
    w.alpha = v - w.delta;
  } else {
    w.alpha = (w.alpha + w.beta) / 2;
    w.beta = v + w.delta;
  }
  w.delta = (int)(w.delta * 1.5);
  if (w.alpha <= -AspirationOpenLimit) w.alpha = -NoScore;
  if (w.beta >= AspirationOpenLimit) w.beta = NoScore;
  w.alpha = std::max(w.alpha, -NoScore);
  w.beta = std::min(w.beta, NoScore);
}

void iterate(Position& pos, int depth) {
  const int t = pos.threadIndex;
  SearchThread& thread = *searchThreads[t];
  Move pv[PvLength];
  auto record = [&](int v) {
    std::memcpy(thread.iterPV[depth], pv, sizeof pv);
    thread.iterScore[depth] = v;
  };
  if (depth < 5 || rootLineCount() > 1) {
    const int v = searchRoot(pos, 2 * depth, -NoScore, NoScore, pv);
    if (!threadSignals[t].stop.load(std::memory_order_relaxed)) record(v);
    return;
  }
  AspirationWindow w = firstWindow(thread.iterScore[depth - 1], t, threadCount);
  for (;;) {
    const int v = searchRoot(pos, 2 * depth, w.alpha, w.beta, pv);
    if (threadSignals[t].stop.load(std::memory_order_relaxed)) return;
    record(v);
    if (v > w.alpha && v < w.beta) return;
    // A fully open side cannot fail again; never loop on it.
    if ((v <= w.alpha && w.alpha <= -NoScore) || (v >= w.beta && w.beta >= NoScore)) return;
    widenAfterFail(w, v);
  }
}

int search(Position& root, int depthLimit, const char* searchMovesText, double targetTime, double maxTime) {
  // Step 1. Root and threads.
  searching.store(1, std::memory_order_relaxed);
  if (settings::threads != threadCount) {
    buildPool();
    writeLine("info string Threads now set to %d", threadCount);
  }
  searchStart = now();
  timeUp = 0;
  easy = 0.1;
  const uint64_t savedNodeLimit = nodeLimit;
  const LevelPlan level = startLevel();
  prepareThreads(root);
  SearchThread& main = *searchThreads[0];

  // Step 2. Draw score from the root's phase: a draw is worth less (or
  // more) the more material remains.
  root.psq = computePsq(root);
  root.phase = (int16_t)computePhase(root);
  // The lazy evaluations below the root start from its own full evaluation,
  // not from whatever position this record was last evaluated in.
  root.lastPositional = 0;
  drawScore = root.phase * contempt / 48;
  tt.ttDirty = 1;
  logLine("fen: %s\n", positionToFen(root).c_str());
  logLine("lastmove: %s\n", moveToText((Move)(root.lastMove & 0xFFFF)).c_str());
  // The root's evaluation is only worth its time when it is written down.
  if (logIsActive()) logLine("eval: %d\n", evaluate(root, -33000, 33000));
  logLine("%s ply: %d\n", pondering.load(std::memory_order_relaxed) ? "ponder" : "search", (int)root.ply);
  logLine("target: %0.3f\n", targetTime);
  logLine("depth: %d\n", depthLimit);

  // Step 3. Root move list: the moves that keep the tablebase result when
  // the tables resolve the root, otherwise every legal move; then a new
  // table generation.
  std::string bestMoveText = "0000", ponderMoveText;
  // The root's published score lives through the whole search (the time
  // poll reads the last one while the next root call is on its first move).
  rootBestScore.store(-NoScore, std::memory_order_relaxed);
  rootMovesSearched.store(0, std::memory_order_relaxed);
  main.rootMoveCount = tablebaseRootMoves(root, searchMovesText, targetTime, main.rootMoves);
  if (main.rootMoveCount == 0) main.rootMoveCount = buildRootMoves(root, searchMovesText, main.rootMoves);
  const int rootMoveCount = main.rootMoveCount;
  // Whatever happens next, a legal move is the answer when one exists.
  if (rootMoveCount > 0) bestMoveText = moveToText(main.rootMoves[0].move);
  ttNewSearch();
  copyRootToHelpers(root, rootMoveCount);
  setDeadlines(searchStart, targetTime, maxTime);
  const double timeCap = timeShareCap(level);
  if (moveTime == 0 && softDeadline > searchStart + targetTime * timeCap)
    moveSoftDeadline(searchStart, targetTime, timeCap);

  // Step 4. Iterative deepening.
  const int depthCap = std::min({depthLimit, maxIterationDepth, MaxIterations - 1});
  bool bookMovePlayed = false;
  clearRootLines();
  int depth = 0;
  for (int d = 1;; d++) {
    endProcessIfQuitting();
    depth = lastIteration = d;
    if (!benchMode.load(std::memory_order_relaxed)) {
      writeLine("info depth %d %s", d, statisticsText().c_str());
    }
    for (int i = 0; main.rootMoves[i].move; i++) main.rootMoves[i].nodes = 1;
    // A book move is played at once, without a move to ponder on.
    if (d == 1) {
      const Move bookMove = askBook(root, main);
      if (bookMove) {
        bookMovePlayed = true;
        bestMoveText = moveToText(bookMove);
        main.iterScore[d] = 0;
        break;
      }
    }
    main.iterScore[d] = -NoScore;
    main.iterPV[d][0] = 0;

    startIteration(d);
    iterate(root, d);
    finishIteration();
    endProcessIfQuitting();

    takeAnswer(main, d, bestMoveText, ponderMoveText);
    updateEasyMove(main, d, level.active ? level.lines : 1);
    if (moveTime == 0) {
      const double factor = std::min(timeCap, std::sqrt((1.04 - easy) * 1.6));
      if (!mainStopped()) moveSoftDeadline(searchStart, targetTime, factor);
      logLine("easy: %12.2f\n", factor);
    }
    if (mainStopped()) {
      logLine("iteration: aborted\n");
      break;
    }

    // Stop rules: the time for a new iteration is used up, a mate was found
    // quickly, or a fixed-depth search has only one move to play.
    const double t = now();
    const int score = main.iterScore[d];
    if (t > softDeadline) timeUp = 1;
    if (std::abs(score) > MateBound - 1 && t > mateDeadline) timeUp = 1;
    if (d > 4 && rootMoveCount <= 1 && depthLimit < UnlimitedDepth) timeUp = 1;
    if (nodeLimit != NoNodeLimit && totalNodes() >= nodeLimit) timeUp = 1;
    // A level's budget also ends a ponder search's deepening: it then waits
    // for "ponderhit" or "stop" like a search that reached its depth.
    const bool levelSpent = level.active && totalNodes() >= level.nodeBudget;
    if ((timeUp && !pondering.load(std::memory_order_relaxed)) || levelSpent ||
        (depthLimit < UnlimitedDepth && std::abs(score) > MateBound - 1) || d >= depthCap)
      break;
  }

  // Step 5. The answer.
  if (!mainStopped()) logLine("iteration: completed\n");
  static const char* const boundNames[3] = {"exact", "high", "low"};
  logLine("itcomp: %d out of %d  %s\n", rootMovesSearched.load(std::memory_order_relaxed), rootMoveCount,
          boundNames[std::clamp(lastBoundType.load(std::memory_order_relaxed), 0, 2)]);
  waitForRelease();
  if (level.active && !bookMovePlayed) takeLevelAnswer(level, main, bestMoveText, ponderMoveText);
  endLevel(level, savedNodeLimit);
  if (benchMode.load(std::memory_order_relaxed)) {
    searching.store(0, std::memory_order_relaxed);
    return main.iterScore[depth];
  }
  writeLine("info %s", statisticsText().c_str());
  if (!ponderMoveText.empty())
    writeLine("bestmove %s ponder %s", bestMoveText.c_str(), ponderMoveText.c_str());
  else
    writeLine("bestmove %s", bestMoveText.c_str());
  logLine("bestmove: %s\n", bestMoveText.c_str());
  if (!ponderMoveText.empty()) logLine("ponder: %s\n", ponderMoveText.c_str());
  searching.store(0, std::memory_order_relaxed);
  return main.iterScore[depth];
}
