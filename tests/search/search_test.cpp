// The node routines and the root through a small harness: forced mates with
// their exact distance, mate and stalemate at tree nodes, draws by
// repetition across the game line and by the fifty-move rule, the ply-limit
// guard, the quiescence search's stand pat, MultiPV output and determinism.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "board/movegen.h"
#include "board/movetext.h"
#include "board/position.h"
#include "board/settings.h"
#include "eval/evaluate.h"
#include "search/driver.h"
#include "search/flags.h"
#include "search/report.h"
#include "search/search.h"
#include "search/searchthread.h"
#include "search/tables.h"
#include "search/threads.h"
#include "search/timeman.h"
#include "tt/tt.h"

namespace {

struct SearchResult {
  int score;
  Move best;
  uint64_t nodes;
};

class SearchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static const bool ready = [] {
      initBitboards();
      initZobrist();
      buildSpecialMaterialTable();
      initTables();
      initSearchTables();
      ttAllocate(16);
      buildPool();
      return true;
    }();
    (void)ready;
  }

  void SetUp() override {
    savedMultiPV = settings::multiPV;
    benchMode = 1;
    drawScore = 0;
    contempt = 0;
    tbRootScore = NoTbRootScore;
    searchStart = now();
    setDeadlines(now(), NoTimeLimit, NoTimeLimit);
    freshState();
  }
  void TearDown() override {
    settings::multiPV = savedMultiPV;
    benchMode = 0;
    drawScore = 0;
    threadSignals[0].stop.store(0);
  }

  static SearchThread& main() { return *searchThreads[0]; }

  // Forgets everything a previous search learnt.  The evaluation caches are
  // replaced, so Positions must be attached again afterwards.
  static void freshState() {
    ttClearSilently();
    clearSearchTables(main());
    for (auto& byColour : main().history.v)
      for (auto& byType : byColour)
        for (int& h : byType) h = 5000;
    threadSignals[0].nodes.store(0);
    threadSignals[0].stop.store(0);
    main().pollCounter = 0;
    allocateEvalCaches(threadCaches[0], settings::tableMemory, 1);  // zero-filled
  }

  // Makes pos a search root of thread 0.
  static void attach(Position& pos) {
    pos.threadIndex = 0;
    pos.historyTable = &main().history;
    attachEvalCaches(pos, threadCaches[0]);
    pos.inCheck = kingAttacked(pos, pos.sideToMove());
  }

  static void setUpRoot(Position& pos, const char* fen) {
    std::string error;
    ASSERT_TRUE(setPosition(pos, fen, &error)) << error;
    attach(pos);
  }

  // Fills thread 0's root move list with the legal moves of pos.
  static int buildRootMoves(Position& pos) {
    int list[MaxMoves];
    const int n = generateAll(pos, list);
    int count = 0;
    for (int i = 0; i < n; i++) {
      Position child;
      if (makeMove(pos, child, entryMove(list[i]))) main().rootMoves[count++] = {entryMove(list[i]), 0, 0};
    }
    main().rootMoves[count].move = 0;
    main().rootMoveCount = count;
    return count;
  }

  // Iterative deepening with full windows, as the driver does below
  // iteration 5.
  static SearchResult runSearch(Position& root, int iterations) {
    buildRootMoves(root);
    Move pv[PvLength];
    int score = 0;
    for (int d = 1; d <= iterations; d++) {
      main().iterScore[d] = -NoScore;
      score = searchRoot(root, 2 * d, -NoScore, NoScore, pv);
    }
    return {score, main().iterPV[iterations][0], threadSignals[0].nodes.load()};
  }

  static Move rootScoreOf(Move m) {
    for (int i = 0; main().rootMoves[i].move; i++)
      if (main().rootMoves[i].move == m) return main().rootMoves[i].score;
    return -NoScore - 1;
  }

  int savedMultiPV = 1;
};

// ---------------------------------------------------------------- mates

TEST_F(SearchTest, MateInOneScoresMateOne) {
  Position root;
  setUpRoot(root, "6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1");
  const SearchResult r = runSearch(root, 3);
  EXPECT_EQ(r.score, MateScore - 1);
  EXPECT_EQ(moveToText(r.best), "a1a8");
  EXPECT_EQ(scoreToText(r.score, 0).text, "mate 1");
}

TEST_F(SearchTest, MateInTwoWithASacrifice) {
  Position root;
  setUpRoot(root, "6k1/pp4p1/2p5/2bp4/8/P5Pb/1P3rrP/2BRRN1K b - - 0 1");
  const SearchResult r = runSearch(root, 4);
  EXPECT_EQ(r.score, MateScore - 3);
  EXPECT_EQ(moveToText(r.best), "g2g1");
  EXPECT_EQ(scoreToText(r.score, 0).text, "mate 2");
  EXPECT_EQ(moveToText(main().iterPV[4][1]), "h1g1");
  EXPECT_EQ(moveToText(main().iterPV[4][2]), "f2f1");
}

TEST_F(SearchTest, MateInThreeKeepsItsDistanceThroughTheTable) {
  Position root;
  setUpRoot(root, "r5rk/5p1p/5R2/4B3/8/8/7P/7K w - - 0 1");
  const SearchResult first = runSearch(root, 5);
  EXPECT_EQ(first.score, MateScore - 5);
  EXPECT_EQ(scoreToText(first.score, 0).text, "mate 3");
  // A second search meets the stored mates at other plies: the distance
  // from the root must not change.
  for (int d = 1; d <= 6; d++) {
    Move pv[PvLength];
    main().iterScore[d] = -NoScore;
    const int v = searchRoot(root, 2 * d, -NoScore, NoScore, pv);
    if (d >= 5) {
      EXPECT_EQ(v, MateScore - 5) << "iteration " << d;
    }
  }
}

// Forced mates (score "mate k" with the exact distance) and winning
// tactics (the one move that wins material), checked with a black-box
// engine.  Small iteration counts keep the whole set fast.
struct TacticCase {
  const char* fen;
  int iterations;
  const char* best;  // expected move; nullptr when several moves mate
  int mateMoves;     // 0 for a material-winning tactic
};
// Quiet sacrifices need a few more iterations than their length: at small
// remaining depth the static null move and razoring trust the material.
constexpr TacticCase tacticCases[] = {
    {"2rr3k/pp3pp1/1nnqbN1p/3pN3/2pP4/2P3Q1/PPB4P/R4RK1 w - - 0 1", 8, "g3g6", 2},
    {"r1bq2rk/pp3pbp/2p1p1pQ/7P/3P4/2PB1N2/PP3PPR/2KR4 w - - 0 1", 4, "h6h7", 2},
    {"5k2/6pp/p1qN4/1p1p4/3P4/2PKP2Q/PP3r2/3R4 b - - 0 1", 6, "c6c4", 2},
    {"r2qkb1r/pp2nppp/3p4/2pNN1B1/2BnP3/3P4/PPP2PPP/R2bK2R w KQkq - 1 1", 4, "d5f6", 2},
    {"4r1k1/pQ3pp1/7p/4q3/4r3/P7/1P2nPPP/2BR1R1K b - - 0 1", 4, "e5h2", 2},
    {"3r1r1k/1p3p1p/p2p4/4n1NN/6bQ/1BPq4/P3p1PP/1R5K w - - 0 1", 5, "g5f7", 3},
    {"r1b1kb1r/pppp1ppp/5q2/4n3/3KP3/2N3PN/PPP4P/R1BQ1B1R b kq - 0 1", 5, "f8c5", 3},
    {"2r3k1/p4p2/3Rp2p/1p2P1pK/8/1P4P1/P3Q2P/1q6 b - - 0 1", 5, "b1g6", 3},
    {"r1bqr3/ppp1B1kp/1b4p1/n2B4/3PQ1P1/2P5/P4P2/RN4K1 w - - 1 1", 7, "e4e5", 4},
    // Reduced searches see the longer mates first; the shortest one needs
    // a few more iterations.
    {"8/8/8/8/8/2k5/1r6/K7 b - - 0 1", 11, nullptr, 3},
    {"rnbqkb1r/pppp1ppp/8/4P3/6n1/7P/PPPNPPP1/R1BQKBNR b KQkq - 0 1", 7, "g4e3", 0},
    {"5rk1/1ppb3p/p1pb4/6q1/3P1p1r/2P1R2P/PP1BQ1P1/5RKN w - - 0 1", 6, "e3g3", 0},
    {"2br2k1/2q3rn/p2NppQ1/2p1P3/Pp5R/4P3/1P3PPP/3R2K1 w - - 0 1", 6, "h4h7", 0},
    {"7k/p7/1R5K/6r1/6p1/6P1/8/8 w - - 0 1", 6, "b6b7", 0},
};

TEST_F(SearchTest, MatesAndTacticsFromASmallSuite) {
  for (const TacticCase& c : tacticCases) {
    freshState();
    Position root;
    setUpRoot(root, c.fen);
    const SearchResult r = runSearch(root, c.iterations);
    if (c.best) {
      EXPECT_EQ(moveToText(r.best), c.best) << c.fen;
    }
    if (c.mateMoves) {
      EXPECT_EQ(r.score, MateScore - (2 * c.mateMoves - 1)) << c.fen;
      EXPECT_EQ(scoreToText(r.score, 0).text, "mate " + std::to_string(c.mateMoves)) << c.fen;
    } else {
      EXPECT_GT(r.score, 150) << c.fen;
      EXPECT_LT(r.score, MateBound) << c.fen;
    }
  }
}

TEST_F(SearchTest, BeingMatedInOne) {
  Position root;
  setUpRoot(root, "k7/8/1K6/8/8/8/8/7R b - - 0 1");
  const SearchResult r = runSearch(root, 3);
  EXPECT_EQ(r.score, 2 - MateScore);
  EXPECT_EQ(scoreToText(r.score, 0).text, "mate -1");
  EXPECT_EQ(moveToText(r.best), "a8b8");
}

TEST_F(SearchTest, RootWithoutMoves) {
  drawScore = 25;
  Position root;
  Move pv[PvLength];
  setUpRoot(root, "k7/8/1Q6/8/8/8/8/7K b - - 0 1");  // stalemate
  EXPECT_EQ(buildRootMoves(root), 0);
  EXPECT_EQ(searchRoot(root, 4, -NoScore, NoScore, pv), 0);  // not the draw score
  EXPECT_EQ(pv[0], 0);
  setUpRoot(root, "k7/1Q6/1K6/8/8/8/8/8 b - - 0 1");  // mated
  EXPECT_EQ(buildRootMoves(root), 0);
  EXPECT_EQ(searchRoot(root, 4, -NoScore, NoScore, pv), -MateScore);
  EXPECT_EQ(rootBestScore.load(), -MateScore);
}

TEST_F(SearchTest, TreeNodesWithoutMoves) {
  drawScore = 25;
  Position pos;
  Move pv[PvLength];
  setUpRoot(pos, "k7/8/1Q6/8/8/8/8/7K b - - 0 1");
  EXPECT_EQ(searchPV(pos, -100, 100, 6, 3, pv), 0);
  // A shallow null-window node this far below beta looks only at captures
  // and checks (futility mode) and answers with its static evaluation; a
  // deep one sees the stalemate.
  EXPECT_EQ(searchNonPV(pos, 1, 16, 3, pv, 0, false, false), 0);
  EXPECT_LT(searchNonPV(pos, 1, 6, 3, pv, 0, false, false), -500);
  setUpRoot(pos, "k7/1Q6/1K6/8/8/8/8/8 b - - 0 1");
  EXPECT_EQ(searchPV(pos, -NoScore, NoScore, 6, 5, pv), 5 - MateScore);
  EXPECT_EQ(searchNonPV(pos, 0, 6, 5, pv, 0, false, true), 5 - MateScore);
  EXPECT_EQ(qsearch(pos, -NoScore, NoScore, 0, 7, pv), 7 - MateScore);
  // The terminal entry brings the same distance back at another ply.
  EXPECT_EQ(searchPV(pos, -NoScore, NoScore, 6, 9, pv), 9 - MateScore);
}

TEST_F(SearchTest, StalemateEntryNeverCutsANullWindowNode) {
  // A stored stalemate (terminal, score 0) carries both bound bits; it must
  // still not answer a null-window node whose beta lies on either side of 0.
  Position pos;
  Move pv[PvLength];
  setUpRoot(pos, "4k3/8/8/8/8/8/8/Q3K3 w - - 0 1");
  ttStore(pos.key, 100, 0, BoundExact | BoundTerminal, 0, 0);
  EXPECT_GT(searchNonPV(pos, -50, 4, 2, pv, 0, false, false), 300);
  ttStore(pos.key, 100, 0, BoundExact | BoundTerminal, 0, 0);
  EXPECT_GT(searchNonPV(pos, 50, 4, 2, pv, 0, false, false), 300);
  // A proven mate does settle it.
  Position mated;
  setUpRoot(mated, "k7/8/1K6/8/8/8/8/7R w - - 0 1");
  ttStore(mated.key, 100, MateScore - 3, BoundExact | BoundTerminal, 0, 0);
  const uint64_t before = threadSignals[0].nodes.load();
  EXPECT_EQ(searchNonPV(mated, 50, 4, 2, pv, 0, false, false), MateScore - 3 - 2);
  EXPECT_EQ(threadSignals[0].nodes.load(), before);
}

// ---------------------------------------------------------------- draws

TEST_F(SearchTest, RepetitionThroughTheGameLineIsADraw) {
  drawScore = 17;
  // 1. Nf3 Nf6 2. Ng1 Ng8: the root is the start position again, and
  // 3. Nf3 would repeat the position after 1. Nf3.
  Position line[5];
  setUpRoot(line[0], StartFen);
  const Move moves[4] = {makeMove16(6, 21), makeMove16(62, 45), makeMove16(21, 6), makeMove16(45, 62)};
  for (int i = 0; i < 4; i++) ASSERT_TRUE(makeMove(line[i], line[i + 1], moves[i]));
  Position& root = line[4];
  attach(root);
  EXPECT_EQ(root.key, line[0].key);
  runSearch(root, 2);
  EXPECT_EQ(rootScoreOf(makeMove16(6, 21)), 17);
  EXPECT_NE(rootScoreOf(makeMove16(1, 18)), 17);  // Nc3 repeats nothing
  Position child;
  ASSERT_TRUE(makeMove(root, child, makeMove16(6, 21)));
  EXPECT_TRUE(child.rule50 >= 4);
}

TEST_F(SearchTest, RepetitionSeenFromTheOtherSide) {
  drawScore = 17;
  // 1. Nf3 Nf6 2. Ng1: black to move; Ng8 repeats the start position.
  Position line[4];
  setUpRoot(line[0], StartFen);
  const Move moves[3] = {makeMove16(6, 21), makeMove16(62, 45), makeMove16(21, 6)};
  for (int i = 0; i < 3; i++) ASSERT_TRUE(makeMove(line[i], line[i + 1], moves[i]));
  attach(line[3]);
  runSearch(line[3], 2);
  // The draw score is the root side's value of a draw, whatever its colour.
  EXPECT_EQ(rootScoreOf(makeMove16(45, 62)), 17);
}

TEST_F(SearchTest, FiftyMoveRuleOutranksMate) {
  drawScore = 11;
  Position root;
  setUpRoot(root, "6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1");
  root.rule50 = 99;
  // Every white move is quiet and reaches the limit: even Ra8# is a draw.
  const SearchResult r = runSearch(root, 3);
  EXPECT_EQ(r.score, 11);
  EXPECT_EQ(rootScoreOf(makeMove16(0, 56)), 11);
}

TEST_F(SearchTest, OddPlyDrawsUseTheNegatedDrawScore) {
  drawScore = 40;
  // 1. Kb1 Kg8 2. Ka1 Kh8 brings the root back; after 3. Kb1 black (at
  // ply 1 of the search) can repeat with Kg8.  Down a rook, black takes
  // that draw, worth -drawScore from its side.
  Position line[5];
  setUpRoot(line[0], "7k/8/8/8/8/8/1R6/K7 w - - 0 1");
  const Move moves[4] = {makeMove16(0, 1), makeMove16(63, 62), makeMove16(1, 0), makeMove16(62, 63)};
  for (int i = 0; i < 4; i++) ASSERT_TRUE(makeMove(line[i], line[i + 1], moves[i]));
  attach(line[4]);
  Position child;
  ASSERT_TRUE(makeMove(line[4], child, makeMove16(0, 1)));
  child.inCheck = 0;
  Move pv[PvLength];
  EXPECT_EQ(searchPV(child, -NoScore, NoScore, 4, 1, pv), -40);
  EXPECT_EQ(moveToText(pv[0]), "h8g8");
  EXPECT_EQ(pv[1], 0);  // a draw has no continuation
  // Searched as the root's own move (even ply) the same draw is +40.
  freshState();
  attach(child);  // the fresh caches
  EXPECT_EQ(searchPV(child, -NoScore, NoScore, 4, 2, pv), 40);
}

// ------------------------------------------------------- ply limit guard

TEST_F(SearchTest, NodesAtThePlyLimitAnswerWithTheEvaluation) {
  Position pos;
  Move pv[PvLength];
  setUpRoot(pos, "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4");
  const int eval = evaluate(pos, -35000, 35000);
  EXPECT_EQ(searchPV(pos, -NoScore, NoScore, 20, MaxPly, pv), eval);
  EXPECT_EQ(pv[0], 0);
  EXPECT_EQ(searchNonPV(pos, 0, 20, MaxPly + 5, pv, 0, false, false), eval);
  EXPECT_EQ(qsearch(pos, -NoScore, NoScore, 0, MaxPly, pv), eval);
}

TEST_F(SearchTest, DeepSearchNearThePlyLimitStaysInBounds) {
  // Starting a few plies below the limit with a large depth drives many
  // lines into the guard; killers of ply + 2 and the PV buffers must stay
  // inside their tables (checked by the sanitizer build).
  static_assert(MaxPly + 2 < KillerPlies, "killer slots of ply + 2 must exist at the limit");
  Position pos;
  Move pv[PvLength];
  setUpRoot(pos, "4k3/8/8/8/8/8/8/R3K2R w KQ - 0 1");
  const int v = searchPV(pos, -NoScore, NoScore, 16, MaxPly - 6, pv);
  // Ra7 and Rh8 mate (or Rh7 and Ra8): the mated side stands three plies
  // below this node, still inside the limit.
  EXPECT_EQ(v, MateScore - (MaxPly - 6 + 3));
}

// ------------------------------------------------------------ frontier

TEST_F(SearchTest, NullWindowFrontierLooksOnePlyDeeperOnlyNearBeta) {
  Position pos;
  Move pv[PvLength];
  setUpRoot(pos, StartFen);
  const int eval = evaluate(pos, -35000, 35000);
  // Far below beta: straight to the quiescence search, which has nothing
  // to try in the start position.
  uint64_t before = threadSignals[0].nodes.load();
  searchNonPV(pos, eval + 200, 1, 3, pv, 0, false, false);
  EXPECT_EQ(threadSignals[0].nodes.load(), before);
  EXPECT_EQ(pos.frontierExtended, 0);
  // Just below beta: the moves are searched (until one fails high).
  before = threadSignals[0].nodes.load();
  searchNonPV(pos, eval + 5, 1, 3, pv, 0, false, false);
  EXPECT_GT(threadSignals[0].nodes.load() - before, 0u);
  EXPECT_NE(pos.frontierExtended, 0);
  // Once a line has been deepened, its depth-1 nodes are not deepened again.
  before = threadSignals[0].nodes.load();
  searchNonPV(pos, eval + 5, 1, 3, pv, 0, false, false);
  EXPECT_EQ(threadSignals[0].nodes.load(), before);
}

TEST_F(SearchTest, PvFrontierLooksOnePlyDeeperBelowBeta) {
  Position pos;
  Move pv[PvLength];
  setUpRoot(pos, StartFen);
  const int eval = evaluate(pos, -35000, 35000);
  uint64_t before = threadSignals[0].nodes.load();
  searchPV(pos, eval + 200, eval + 300, 1, 3, pv);  // evaluation below alpha
  EXPECT_EQ(threadSignals[0].nodes.load(), before);
  before = threadSignals[0].nodes.load();
  searchPV(pos, eval - 50, eval + 50, 1, 3, pv);  // within 99 below beta
  EXPECT_GT(threadSignals[0].nodes.load() - before, 0u);
  EXPECT_NE(pv[0], 0);
}

TEST_F(SearchTest, PvFrontierAboveBetaLooksDeeperOnlyWhenSomethingHangs) {
  Position pos;
  Move pv[PvLength];
  // The knight on e5 is attacked by the pawn on d6: one real ply is searched.
  setUpRoot(pos, "4k3/8/3p4/4N3/8/8/8/4K3 w - - 0 1");
  int eval = evaluate(pos, -35000, 35000);
  uint64_t before = threadSignals[0].nodes.load();
  searchPV(pos, eval - 150, eval - 50, 1, 3, pv);
  EXPECT_GT(threadSignals[0].nodes.load() - before, 0u);
  // Nothing attacked: the quiescence search stands pat at once.
  setUpRoot(pos, "4k3/3p4/8/4N3/8/8/8/4K3 w - - 0 1");
  eval = evaluate(pos, -35000, 35000);
  before = threadSignals[0].nodes.load();
  EXPECT_EQ(searchPV(pos, eval - 150, eval - 50, 1, 3, pv), eval);
  EXPECT_EQ(threadSignals[0].nodes.load(), before);
}

// ------------------------------------------------------------- qsearch

TEST_F(SearchTest, QuietPositionStandsPat) {
  Position pos;
  Move pv[PvLength];
  setUpRoot(pos, StartFen);
  const int eval = evaluate(pos, -35000, 35000);
  const uint64_t before = threadSignals[0].nodes.load();
  EXPECT_EQ(qsearch(pos, -1000, 1000, 0, 2, pv), eval);
  EXPECT_EQ(pv[0], 0);
  // With the stand pat at or above beta the node returns at once.
  EXPECT_EQ(qsearch(pos, eval - 60, eval - 50, 0, 2, pv), eval);
  EXPECT_EQ(threadSignals[0].nodes.load(), before);
}

TEST_F(SearchTest, QsearchWinsAHangingQueen) {
  Position pos;
  Move pv[PvLength];
  setUpRoot(pos, "4k3/8/8/3q4/8/8/8/3RK3 w - - 0 1");
  const int v = qsearch(pos, -NoScore, NoScore, 0, 0, pv);
  EXPECT_GT(v, 300);
  EXPECT_EQ(moveToText(pv[0]), "d1d5");
}

TEST_F(SearchTest, DesperateCaptureNeedsAnExchangeThatNeverCostsTheKing) {
  // Bxd5 Rxd5 exd5 Rxd5 Kxd5: the capturing side's balance runs 4, 0, 6,
  // 5, 11 (small values N 4, B 4, R 6, P 1), ahead however either side
  // stops.  With the queen on h5 the line goes on Qxd5 to 11 - 999, below
  // -100: the capture is not worth a look.
  Position pos;
  setUpRoot(pos, "3r3k/8/2K5/3n4/4P3/8/B7/3r4 w - - 0 1");
  EXPECT_TRUE(winsExchange(pos, makeMove16(8, 35)));
  setUpRoot(pos, "3r3k/8/2K5/3n3q/4P3/8/B7/3r4 w - - 0 1");
  EXPECT_FALSE(winsExchange(pos, makeMove16(8, 35)));
}

// ---------------------------------------------------------------- root

TEST_F(SearchTest, BestMoveIsSearchedFirstNextIteration) {
  Position root;
  setUpRoot(root, "4k3/8/8/3q4/8/8/8/3RK3 w - - 0 1");
  const SearchResult r = runSearch(root, 3);
  EXPECT_EQ(moveToText(r.best), "d1d5");
  EXPECT_EQ(main().rootMoves[0].move, r.best);
  EXPECT_EQ(main().iterScore[3], r.score);
}

TEST_F(SearchTest, OnlyTheMainThreadPublishesRootState) {
  // A helper's root search (thread 1, never woken, run here directly) must
  // leave the score and move count the time poll reads alone.
  const int savedThreads = settings::threads;
  settings::threads = 2;
  buildPool();
  SearchThread& helper = *searchThreads[1];
  Position root;
  setUpRoot(root, "4k3/8/8/3q4/8/8/8/3RK3 w - - 0 1");
  buildRootMoves(root);
  std::memcpy(helper.rootMoves, main().rootMoves, sizeof helper.rootMoves);
  root.threadIndex = 1;
  root.historyTable = &helper.history;
  attachEvalCaches(root, threadCaches[1]);
  rootBestScore = -25;
  rootMovesSearched = 3;
  Move pv[PvLength];
  EXPECT_GT(searchRoot(root, 6, -NoScore, NoScore, pv), 300);
  EXPECT_EQ(rootBestScore.load(), -25);
  EXPECT_EQ(rootMovesSearched.load(), 3);
  settings::threads = savedThreads;
  buildPool();
  freshState();
}

TEST_F(SearchTest, StopFlagAbandonsTheSearch) {
  Position root;
  Move pv[PvLength];
  setUpRoot(root, StartFen);
  buildRootMoves(root);
  threadSignals[0].stop.store(1);
  EXPECT_EQ(searchRoot(root, 8, -NoScore, NoScore, pv), 0);
  EXPECT_EQ(searchPV(root, -NoScore, NoScore, 8, 1, pv), 0);
  EXPECT_EQ(searchNonPV(root, 0, 8, 1, pv, 0, false, false), 0);
  EXPECT_EQ(qsearch(root, -NoScore, NoScore, 0, 1, pv), 0);
  threadSignals[0].stop.store(0);
}

TEST_F(SearchTest, MultiPVPrintsOneLinePerRequestedMove) {
  settings::multiPV = 3;
  benchMode = 0;
  Position root;
  setUpRoot(root, "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4");
  testing::internal::CaptureStdout();
  runSearch(root, 5);
  const std::string out = testing::internal::GetCapturedStdout();
  benchMode = 1;
  EXPECT_EQ(out.find("info multipv 1 depth 4"), std::string::npos);  // not before iteration 5
  EXPECT_NE(out.find("info multipv 1 depth 5"), std::string::npos);
  EXPECT_NE(out.find("info multipv 2 depth 5"), std::string::npos);
  EXPECT_NE(out.find("info multipv 3 depth 5"), std::string::npos);
  EXPECT_EQ(out.find("info multipv 4 "), std::string::npos);
  EXPECT_EQ(out.find("info depth"), std::string::npos);  // no single-PV lines with MultiPV
  EXPECT_EQ(out.find("currmove"), std::string::npos);
}

TEST_F(SearchTest, SingleLineReportsAndQuietBenchmark) {
  Position root;
  setUpRoot(root, "6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1");
  benchMode = 0;
  testing::internal::CaptureStdout();
  runSearch(root, 2);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("info depth 1 "), std::string::npos);
  EXPECT_NE(out.find("info depth 2 "), std::string::npos);
  EXPECT_NE(out.find("score mate 1 "), std::string::npos);
  benchMode = 1;
  freshState();
  attach(root);
  testing::internal::CaptureStdout();
  runSearch(root, 2);
  out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "");
}

TEST_F(SearchTest, CurrentMoveLinesOnlyLateAndUnlessMinimal) {
  Position root;
  setUpRoot(root, "4k3/8/8/8/8/8/8/R3K3 w - - 0 1");
  benchMode = 0;
  searchStart = now() - 10.0;  // the search has been running for a while
  const int savedMinimal = settings::minimalReporting;
  settings::minimalReporting = 0;
  testing::internal::CaptureStdout();
  runSearch(root, 5);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("currmove"), std::string::npos);  // before iteration 6
  Move pv[PvLength];
  testing::internal::CaptureStdout();
  searchRoot(root, 12, -NoScore, NoScore, pv);
  out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("info currmove "), std::string::npos) << out;
  EXPECT_NE(out.find(" currmovenumber 1\n"), std::string::npos);
  settings::minimalReporting = 1;
  testing::internal::CaptureStdout();
  searchRoot(root, 14, -NoScore, NoScore, pv);
  out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("currmove"), std::string::npos);
  EXPECT_NE(out.find("info depth 7 "), std::string::npos);
  settings::minimalReporting = savedMinimal;
  searchStart = now();
}

TEST_F(SearchTest, CurrentMoveChoiceHoldsForTheWholeIteration) {
  Position root;
  setUpRoot(root, "4k3/8/8/8/8/8/8/R3K3 w - - 0 1");
  benchMode = 0;
  const int savedMinimal = settings::minimalReporting;
  settings::minimalReporting = 0;
  Move pv[PvLength];
  // Iteration 6 starts early in the search: no current-move lines, and an
  // aspiration re-search of the same iteration keeps that choice even once
  // the delay has passed.
  searchStart = now();
  testing::internal::CaptureStdout();
  runSearch(root, 5);
  searchRoot(root, 12, -NoScore, NoScore, pv);
  searchStart = now() - 10.0;
  searchRoot(root, 12, -NoScore, NoScore, pv);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("currmove"), std::string::npos) << out;
  // The next iteration decides afresh.
  testing::internal::CaptureStdout();
  searchRoot(root, 14, -NoScore, NoScore, pv);
  out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("info currmove "), std::string::npos) << out;
  settings::minimalReporting = savedMinimal;
  searchStart = now();
}

TEST_F(SearchTest, UnderPromotionsAreSearchedAtTheRoot) {
  Position root;
  setUpRoot(root, "8/P7/8/8/8/8/k7/7K w - - 0 1");
  runSearch(root, 3);
  int promotions = 0;
  for (int i = 0; main().rootMoves[i].move; i++)
    if (isPromotion(main().rootMoves[i].move)) {
      promotions++;
      EXPECT_GT(main().rootMoves[i].nodes, 1u) << moveToText(main().rootMoves[i].move);
    }
  EXPECT_EQ(promotions, 4);
}

TEST_F(SearchTest, SameSearchTwiceFromAFreshStateIsIdentical) {
  Position root;
  setUpRoot(root, "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4");
  const SearchResult a = runSearch(root, 6);
  freshState();
  // The root record itself carries evaluation state (the last positional
  // term), so it is set up afresh as well.
  setUpRoot(root, "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4");
  const SearchResult b = runSearch(root, 6);
  EXPECT_EQ(a.nodes, b.nodes);
  EXPECT_EQ(a.best, b.best);
  EXPECT_EQ(a.score, b.score);
  EXPECT_GT(a.nodes, 100u);
}

// ---------------------------------------------------------------- helpers

TEST(PassedZone, EnemyPawnsContestTheirFilesAndNeighbours) {
  initBitboards();
  initZobrist();
  Position pos;
  ASSERT_TRUE(setPosition(pos, "4k3/8/8/8/8/8/8/4K3 w - - 0 1"));
  EXPECT_EQ(passedZone(pos), 0xFFFFFF0000000000ull);
  // A black pawn on d5 contests c4..e1 (its way down), not ranks 6-8.
  ASSERT_TRUE(setPosition(pos, "4k3/8/8/3p4/8/8/8/4K3 w - - 0 1"));
  EXPECT_EQ(passedZone(pos), 0xFFFFFF0000000000ull);
  // A black pawn on d7 contests c6, d6, e6 and every square below them.
  ASSERT_TRUE(setPosition(pos, "4k3/3p4/8/8/8/8/8/4K3 w - - 0 1"));
  const Bitboard cde = 0x1C1C1C0000000000ull & 0x0000FF0000000000ull;
  EXPECT_EQ(passedZone(pos), 0xFFFFFF0000000000ull & ~cde);
  // Black's zone is ranks 3-1, contested by white pawns below them.
  ASSERT_TRUE(setPosition(pos, "4k3/8/8/8/8/8/P7/4K3 b - - 0 1"));
  EXPECT_EQ(passedZone(pos), 0x0000000000FFFFFFull & ~0x0000000000030000ull);  // a3, b3
}

}  // namespace

// ---------------------------------------------------------------- pruning

namespace {

class PruningTest : public SearchTest {
 protected:
  void SetUp() override {
    SearchTest::SetUp();
    savedNull = settings::nullMovePruning;
    savedLmr = settings::useLmr;
  }
  void TearDown() override {
    settings::nullMovePruning = savedNull;
    settings::useLmr = savedLmr;
    SearchTest::TearDown();
  }
  // Nodes of a fresh search of fen to the given iteration.
  static uint64_t treeSize(const char* fen, int iterations) {
    freshState();
    Position root;
    setUpRoot(root, fen);
    return runSearch(root, iterations).nodes;
  }
  // Nodes of one fresh null-window node search.
  static uint64_t nodeSize(const char* fen, int beta, int depth) {
    freshState();
    Position pos;
    setUpRoot(pos, fen);
    Move pv[PvLength];
    searchNonPV(pos, beta, depth, 2, pv, 0, false, false);
    return threadSignals[0].nodes.load();
  }
  int savedNull = 1, savedLmr = 1;
};

constexpr const char* MiddleGame = "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N2N2/PP2BPPP/R2QKB1R w KQ - 0 8";

TEST_F(PruningTest, NullMoveOptionShapesTheTree) {
  settings::nullMovePruning = 1;
  const uint64_t with = treeSize(MiddleGame, 6);
  settings::nullMovePruning = 0;
  const uint64_t without = treeSize(MiddleGame, 6);
  EXPECT_NE(with, without);
}

TEST_F(PruningTest, NoNullMoveWithOnlyPawnsOrInCheck) {
  // Kings and pawns only: passing could hide a zugzwang, so the option
  // changes nothing.
  const char* pawnEnding = "8/5k2/3p2p1/2pP3p/2P2P1P/6P1/4K3/8 w - - 0 1";
  settings::nullMovePruning = 1;
  const uint64_t withPawns = treeSize(pawnEnding, 7);
  settings::nullMovePruning = 0;
  EXPECT_EQ(treeSize(pawnEnding, 7), withPawns);
  // A queen up but in check (by a pawn; the other side has only pawns, so
  // none of its nodes may pass either): no null move at this node.
  const char* inCheck = "7k/p7/8/8/Q7/8/3p4/4K3 w - - 0 1";
  settings::nullMovePruning = 1;
  const uint64_t withCheck = nodeSize(inCheck, 0, 6);
  settings::nullMovePruning = 0;
  EXPECT_EQ(nodeSize(inCheck, 0, 6), withCheck);
  // The same material out of check does try the null move.
  const char* quiet = "7k/p7/8/8/Q7/1p6/8/4K3 w - - 0 1";
  settings::nullMovePruning = 1;
  const uint64_t withQuiet = nodeSize(quiet, 0, 14);
  settings::nullMovePruning = 0;
  EXPECT_NE(withQuiet, nodeSize(quiet, 0, 14));
}

TEST_F(PruningTest, NullMoveQuiescenceSearchesTheChildsPly) {
  // Black has just played Rb8-a8 under a reduction of 2; white, two bishops
  // for the rook ahead, passes at depth 6 and the null-move child's
  // quiescence search finds Ra1 mate.  That fails low by more than 100
  // under a small reduction, so the node returns the mate: white is mated
  // two plies below the node, at ply 5.
  settings::nullMovePruning = 1;
  freshState();
  Position parent, node;
  setUpRoot(parent, "1r4k1/5ppp/2BB4/8/8/8/5PPP/6K1 b - - 0 1");
  ASSERT_TRUE(makeMove(parent, node, makeMove16(57, 56)));
  node.inCheck = 0;
  parent.reductionMark = 2;
  const int eval = evaluate(node, -35000, 35000);
  ASSERT_LT(eval, 400);  // no way-ahead reduction
  Move pv[PvLength];
  EXPECT_EQ(searchNonPV(node, eval - 50, 6, 3, pv, 0, false, false), 5 - MateScore);
}

TEST_F(PruningTest, PassedPushesAreReducedLessOnlyLateInTheGame) {
  // A quiet tenth move at depth 10, history 5000 (above the threshold of
  // move count 20), not a counter move, on an improving non-cut node: the
  // table's reduction, less 2 for a passed push once the phase is below 49.
  const LateMove late{10, 10, 20, true, false, false, false, 5000};
  const int base = reductionNonPV[1][10][10];
  ASSERT_GE(base, 4);
  const Move passed = makeMove16(35, 43), plain = makeMove16(8, 16);  // d5d6, a2a3
  Position pos;
  setUpRoot(pos, "r3q1k1/p4ppp/8/3P4/8/8/P4PPP/R2Q2K1 w - - 0 1");  // phase 60
  pos.phase = (int16_t)computePhase(pos);
  EXPECT_EQ(reductionNonPVFor(pos, passed, late, passedZone(pos)), base);
  EXPECT_EQ(reductionNonPVFor(pos, plain, late, passedZone(pos)), base);
  setUpRoot(pos, "r5k1/p4ppp/8/3P4/8/8/P4PPP/R5K1 w - - 0 1");  // phase 16
  pos.phase = (int16_t)computePhase(pos);
  EXPECT_EQ(reductionNonPVFor(pos, passed, late, passedZone(pos)), base - 2);
  EXPECT_EQ(reductionNonPVFor(pos, plain, late, passedZone(pos)), base);
}

TEST_F(PruningTest, RootReducesAPassedPushThatLosesThePawn) {
  // Iteration 5 (depth 10) with the null move off, so that every child
  // stores its own depth.  d5-d6 is a passed push; where the bishop on e7
  // takes the pawn it is a late quiet move like any other and is reduced
  // below the unextended 8; where the pawn is safe it is extended by a ply
  // and searched at the full 10.
  settings::nullMovePruning = 0;
  for (const bool safe : {false, true}) {
    freshState();
    Position root, child;
    setUpRoot(root, safe ? "6k1/5pp1/6bp/3P4/8/8/5PPP/R5K1 w - - 0 1" : "6k1/4bpp1/7p/3P4/8/8/5PPP/R5K1 w - - 0 1");
    runSearch(root, 5);
    ASSERT_TRUE(makeMove(root, child, makeMove16(35, 43)));
    TTData entry;
    ASSERT_TRUE(ttProbe(child.key, entry));
    if (safe) {
      EXPECT_EQ(entry.depth, 10);
    } else {
      EXPECT_LT(entry.depth, 8);
    }
  }
}

TEST_F(PruningTest, PrunedMovesAreNotMade) {
  // Depth 2 without the null move, a queen up, queen moves tried first: Qa1
  // hangs the queen and is pruned unmade, Qb1 is searched and its child
  // (black without a capture or a check) stands pat: one node in all.
  settings::nullMovePruning = 0;
  freshState();
  for (auto& byColour : main().history.v)
    for (auto& byType : byColour)
      for (int& h : byType) h = 0;
  for (int& h : main().history.v[White][Queen]) h = 30000;
  Position pos;
  setUpRoot(pos, "r5k1/5ppp/8/8/8/8/6PP/3Q3K w - - 0 1");
  Move pv[PvLength];
  EXPECT_GE(searchNonPV(pos, 0, 2, 2, pv, 0, false, false), 0);
  EXPECT_EQ(moveToText(pv[0]), "d1b1");
  EXPECT_EQ(threadSignals[0].nodes.load(), 1u);
}

TEST_F(PruningTest, ReversalOfAPinnedPieceIsNotValued) {
  // White played Nc3-e2 and black pinned the knight with Ra8-e8: taking the
  // knight back to c3 is illegal, so it cannot lend the node the draw
  // value, however far the other moves fall below it.
  Position line[3];
  setUpRoot(line[0], "r5k1/5ppp/8/8/8/2N5/1B3PPP/4K3 w - - 5 30");
  ASSERT_TRUE(makeMove(line[0], line[1], makeMove16(18, 12)));
  ASSERT_TRUE(makeMove(line[1], line[2], makeMove16(56, 60)));
  Position& node = line[2];
  attach(node);
  ASSERT_FALSE(node.inCheck);
  const int eval = evaluate(node, -35000, 35000);
  drawScore = eval + 10;
  Move pv[PvLength];
  const int v = searchNonPV(node, eval + 20, 4, 2, pv, 0, false, false);
  EXPECT_LT(v, eval + 10);
}

TEST_F(PruningTest, StaticNullMoveOnlyWithTheOption) {
  // A queen up at small depth: the node answers from its evaluation without
  // a single child, unless the option is off.
  const char* queenUp = "7k/p7/8/8/Q7/1p6/8/4K3 w - - 0 1";
  settings::nullMovePruning = 1;
  EXPECT_EQ(nodeSize(queenUp, 0, 4), 0u);
  settings::nullMovePruning = 0;
  EXPECT_GT(nodeSize(queenUp, 0, 4), 0u);
}

TEST_F(PruningTest, LmrOptionShapesTheTree) {
  settings::useLmr = 1;
  const uint64_t with = treeSize(MiddleGame, 6);
  settings::useLmr = 0;
  const uint64_t without = treeSize(MiddleGame, 6);
  EXPECT_LT(with, without);
  // A single null-window node: the option alone decides whether its late
  // quiet moves are reduced.
  settings::useLmr = 1;
  const uint64_t nodeWith = nodeSize(MiddleGame, 30, 16);
  settings::useLmr = 0;
  EXPECT_LT(nodeWith, nodeSize(MiddleGame, 30, 16));
}

TEST_F(PruningTest, MateScoresStayExactWithoutNullMoveOrLmr) {
  // Each selective rule alone (the other one off) keeps the mate distances.
  for (int option = 0; option < 2; option++) {
    settings::nullMovePruning = option;
    settings::useLmr = 1 - option;
    for (const TacticCase& c : tacticCases) {
      if (!c.mateMoves) continue;
      freshState();
      Position root;
      setUpRoot(root, c.fen);
      const SearchResult r = runSearch(root, c.iterations);
      EXPECT_EQ(r.score, MateScore - (2 * c.mateMoves - 1)) << c.fen << " null move " << option;
    }
  }
}

}  // namespace
