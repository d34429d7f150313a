#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "board/movegen.h"
#include "board/position.h"
#include "search/picker.h"

namespace {

HistoryTable history;

void initBoard() {
  static bool done = false;
  if (done) return;
  initBitboards();
  initZobrist();
  std::mt19937 rng(7);
  for (auto& side : history.v)
    for (auto& type : side)
      for (int& v : type) v = (int)(rng() % 32641);
  done = true;
}

Position fromFen(const std::string& fen) {
  initBoard();
  Position pos{};
  std::string error;
  EXPECT_TRUE(setPosition(pos, fen.c_str(), &error)) << fen << ": " << error;
  pos.historyTable = &history;
  return pos;
}

bool isLegal(const Position& pos, Move m) {
  Position child;
  return makeMove(pos, child, m);
}

std::vector<Move> legalMoves(const Position& pos) {
  int list[MaxMoves];
  int n = generateAll(pos, list);
  std::vector<Move> legal;
  for (int i = 0; i < n; ++i)
    if (isLegal(pos, list[i] & 0xFFFF)) legal.push_back(list[i] & 0xFFFF);
  return legal;
}

std::vector<std::string> perftFens(const char* file) {
  std::vector<std::string> fens;
  std::ifstream in(std::string(ORVANE_TEST_DATA) + "/" + file);
  std::string line;
  while (std::getline(in, line)) {
    auto semi = line.find(';');
    if (semi != std::string::npos) line = line.substr(0, semi);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (!line.empty()) fens.push_back(line);
  }
  return fens;
}

// Calls visit on every perft position and on positions reached from it by
// random play (a fixed seed, so every run sees the same positions).  Each
// position is visited right after its own set-up, while the castling data
// are still the ones it was derived from.
void forEachSample(const std::function<void(const Position&)>& visit, int walks = 4, int plies = 24,
                   const char* file = "perft.epd") {
  std::vector<std::string> fens = perftFens(file);
  ASSERT_GT(fens.size(), 30u);
  std::mt19937 rng(2024);
  for (const std::string& fen : fens) {
    Position root = fromFen(fen);
    visit(root);
    for (int w = 0; w < walks; ++w) {
      Position pos = root;
      for (int ply = 0; ply < plies; ++ply) {
        std::vector<Move> legal = legalMoves(pos);
        if (legal.empty()) break;
        Position child;
        makeMove(pos, child, legal[rng() % legal.size()]);
        child.inCheck = kingAttacked(child, child.sideToMove()) ? 1 : 0;
        child.previous = nullptr;
        pos = child;
        visit(pos);
      }
    }
  }
}

struct Picked {
  Move move;
  int stage;
};

std::vector<Picked> runPicker(MovePicker& mp) {
  std::vector<Picked> out;
  for (Move m; (m = mp.next()) != 0;) {
    out.push_back({m, mp.stage});
    if (out.size() > 400) break;
  }
  return out;
}

// A random move word: a legal move, a pseudo-legal one, a move of another
// position or plain noise, so the picker meets every kind of stale hint.
Move randomHint(const Position& pos, const std::vector<Move>& legal, std::mt19937& rng) {
  switch (rng() % 5) {
    case 0: return 0;
    case 1:
    case 2: return legal.empty() ? 0 : legal[rng() % legal.size()];
    case 3: return (Move)(rng() & 0x7FFF);
    default: return makeMove16(rng() % 64, rng() % 64);
  }
}

// Runs a picker with random (often stale or repeated) hints and checks that
// it hands out each move once, only pseudo-legal ones, in plan order, and
// every legal move the generators know.
void checkPickerCoversTheMoves(const Position& pos, std::mt19937& rng) {
  std::vector<Move> legal = legalMoves(pos);
  const int plan = pos.inCheck ? PlanInCheck : PlanNormal;
  Move hints[5];
  for (Move& h : hints) h = randomHint(pos, legal, rng);
  if (rng() % 3 == 0) hints[1] = hints[0];  // killer equal to the table move
  if (rng() % 3 == 0) hints[3] = hints[1];  // counter move equal to a killer
  const int depth = 2 + (int)(rng() % 24);
  MovePicker mp(pos, plan, hints[0], hints[1], hints[2], hints[3], hints[4], depth);
  std::vector<Picked> picked = runPicker(mp);
  std::set<Move> seen;
  int lastStageIndex = 0;
  for (const Picked& p : picked) {
    EXPECT_TRUE(seen.insert(p.move).second) << "duplicate " << p.move;
    EXPECT_TRUE(isPseudoLegal(pos, p.move)) << p.move;
    // Stages come in plan order: the normal node's table move, good
    // captures, killers, counter moves, quiet moves and the deferred bad
    // moves; in check the table move, evasions and the deferred ones.
    static const std::vector<int> normalOrder = {1, 2, 3, 4, 5, 6, 7, 11};
    static const std::vector<int> inCheckOrder = {1, 8, 11};
    const std::vector<int>& order = pos.inCheck ? inCheckOrder : normalOrder;
    const int at = (int)(std::find(order.begin(), order.end(), p.stage) - order.begin());
    EXPECT_LT(at, (int)order.size()) << "stage " << p.stage;
    EXPECT_GE(at, lastStageIndex);
    lastStageIndex = at;
  }
  std::set<Move> legalPicked;
  for (Move m : seen)
    if (isLegal(pos, m)) legalPicked.insert(m);
  // In check the evasion generator writes a blocking promotion only as a
  // queen: under-promotions that block are the one legal kind it leaves out.
  std::set<Move> expected;
  int list[MaxMoves];
  int n = pos.inCheck ? generateEvasions(pos, list) : generateAll(pos, list);
  for (int i = 0; i < n; ++i)
    if (isLegal(pos, list[i] & 0xFFFF)) expected.insert(list[i] & 0xFFFF);
  if (isPseudoLegal(pos, hints[0]) && isLegal(pos, hints[0])) expected.insert(hints[0]);
  for (Move m : legalPicked) EXPECT_TRUE(std::count(legal.begin(), legal.end(), m));
  EXPECT_EQ(legalPicked, expected) << positionToFen(pos) << " hints " << hints[0] << " " << hints[1] << " "
                                   << hints[2] << " " << hints[3] << " " << hints[4] << " depth " << depth;
  EXPECT_EQ(mp.next(), 0);
  EXPECT_EQ(mp.stage, StageEnd);
}

TEST(MovePicker, ReturnsEveryLegalMoveExactlyOnce) {
  std::mt19937 rng(99);
  int positions = 0, inCheck = 0;
  forEachSample([&](const Position& pos) {
    checkPickerCoversTheMoves(pos, rng);
    ++positions;
    inCheck += pos.inCheck ? 1 : 0;
  });
  EXPECT_GT(positions, 1000);
  EXPECT_GT(inCheck, 20);
}

TEST(MovePicker, InCheckReturnsTheEvasionsOnly) {
  forEachSample([&](const Position& pos) {
    if (!pos.inCheck) return;
    int list[MaxMoves];
    int n = generateEvasions(pos, list);
    std::multiset<Move> evasions;
    for (int i = 0; i < n; ++i) evasions.insert(list[i] & 0xFFFF);
    MovePicker mp(pos, PlanInCheck, 0, 0, 0, 0, 0, 10);
    std::set<Move> picked;
    for (const Picked& p : runPicker(mp)) {
      EXPECT_TRUE(p.stage == StageEvasions || p.stage == StageBadMoves);
      EXPECT_TRUE(evasions.count(p.move));
      // Deferred evasions are the losing ones.
      EXPECT_EQ(p.stage == StageBadMoves, moveKind(p.move) != KindEnPassant && losesMaterial(pos, p.move));
      picked.insert(p.move);
    }
    EXPECT_EQ(picked, std::set<Move>(evasions.begin(), evasions.end()));
  });
}

// Captures come out best victim first, good ones at once, losing ones after
// every quiet move and in the order they were met.
TEST(MovePicker, CaptureOrderAndDeferral) {
  forEachSample([&](const Position& pos) {
    if (pos.inCheck) return;
    int list[MaxMoves];
    int n = generateCaptures(pos, list);
    sortMoves(list, n);
    std::vector<Move> good, losing;
    for (int i = 0; i < n; ++i) {
      Move m = list[i] & 0xFFFF;
      (moveKind(m) != KindEnPassant && losesMaterial(pos, m) ? losing : good).push_back(m);
    }
    MovePicker mp(pos, PlanNormal, 0, 0, 0, 0, 0, 8);
    std::vector<Move> stage2, stage11;
    bool quietSeen = false;
    for (const Picked& p : runPicker(mp)) {
      if (p.stage == StageGoodCaptures) {
        EXPECT_FALSE(quietSeen);
        stage2.push_back(p.move);
      }
      if (p.stage == StageQuiets) quietSeen = true;
      if (p.stage == StageBadMoves) stage11.push_back(p.move);
    }
    EXPECT_EQ(stage2, good);
    EXPECT_EQ(stage11, losing);
  }, 2, 20);
}

TEST(MovePicker, QuietOrderFollowsHistoryStably) {
  forEachSample([&](const Position& pos) {
    if (pos.inCheck) return;
    int list[MaxMoves];
    int n = generateQuiets(pos, list);
    std::vector<int> expected(list, list + n);
    std::stable_sort(expected.begin(), expected.end(), [](int a, int b) { return (a >> 16) > (b >> 16); });
    for (int depth : {8, 14}) {
      MovePicker mp(pos, PlanNormal, 0, 0, 0, 0, 0, depth);
      std::vector<Move> quiets, deferred;
      for (const Picked& p : runPicker(mp)) {
        if (p.stage == StageQuiets) quiets.push_back(p.move);
        if (p.stage == StageBadMoves && !pos.board[moveTo(p.move)] && !isPromotion(p.move)) deferred.push_back(p.move);
      }
      std::vector<Move> want, wantDeferred;
      for (int e : expected) {
        Move m = e & 0xFFFF;
        (depth > 11 && losesMaterial(pos, m) ? wantDeferred : want).push_back(m);
      }
      EXPECT_EQ(quiets, want);
      EXPECT_EQ(deferred, wantDeferred);
    }
  }, 2, 16);
}

TEST(MovePicker, FutilityPlansNeverReturnLosingMoves) {
  forEachSample([&](const Position& pos) {
    if (pos.inCheck) return;
    for (int plan : {PlanFutilityShallow, PlanFutilityDeep}) {
      MovePicker mp(pos, plan, 0, 0, 0, 0, 0, 6);
      std::set<Move> seen;
      for (const Picked& p : runPicker(mp)) {
        EXPECT_TRUE(seen.insert(p.move).second);
        const bool loses = moveKind(p.move) != KindEnPassant && losesMaterial(pos, p.move);
        EXPECT_EQ(loses, p.stage == StageBadMoves);
        EXPECT_NE(p.stage, StageQuiets);
        if (plan == PlanFutilityShallow) {
          EXPECT_NE(p.stage, StageBadMoves);
        }
        if (p.stage == StageAdvancedPushes) {
          EXPECT_EQ(typeOfCode(pos.board[moveFrom(p.move)]), Pawn);
        }
      }
    }
  }, 2, 16);
}

TEST(MovePicker, HintsAreCheckedAndNeverRepeated) {
  // White: Ke1, Qd1, Nb1, pawns; black: Ke8, pawn d6 defended by e7.
  Position pos = fromFen("4k3/4p3/3p4/8/8/8/PP6/1N1QK3 w - - 0 1");
  const Move ttMove = makeMove16(1, 18);                   // Nb1-c3
  const Move notLegalHere = makeMove16(6, 21);             // g1-f3: no knight on g1
  const Move losingCapture = makeMove16(3, 43);            // Qd1xd6, defended pawn
  const Move quiet = makeMove16(8, 16);                    // a2-a3
  MovePicker mp(pos, PlanNormal, ttMove, ttMove, notLegalHere, quiet, losingCapture, 8);
  std::vector<Picked> picked = runPicker(mp);
  ASSERT_GE(picked.size(), 3u);
  EXPECT_EQ(picked[0].move, ttMove);
  EXPECT_EQ(picked[0].stage, StageTableMove);
  EXPECT_EQ(picked[1].move, quiet);
  EXPECT_EQ(picked[1].stage, StageCounter1);
  // The losing capture is the very last move, from the deferred list.
  EXPECT_EQ(picked.back().move, losingCapture);
  EXPECT_EQ(picked.back().stage, StageBadMoves);
  std::set<Move> seen;
  for (const Picked& p : picked) EXPECT_TRUE(seen.insert(p.move).second);
  EXPECT_EQ(seen.size(), legalMoves(pos).size());
}

TEST(MovePicker, ManyLosingMovesAreAllReturned) {
  // Eight queens in a crowd of black pieces: more than 64 losing moves.
  Position pos = fromFen("kr5Q/p1Q2Q2/2pbp3/2p3n1/1pp3K1/p3Qn2/QbQrQ1p1/7Q w - - 0 1");
  int losing = 0;
  for (Move m : legalMoves(pos)) losing += losesMaterial(pos, m) ? 1 : 0;
  MovePicker mp(pos, PlanNormal, 0, 0, 0, 0, 0, 20);
  std::set<Move> seen;
  for (const Picked& p : runPicker(mp)) {
    EXPECT_TRUE(seen.insert(p.move).second);
    if (!isLegal(pos, p.move)) seen.erase(p.move);
  }
  std::vector<Move> legal = legalMoves(pos);
  EXPECT_EQ(seen, std::set<Move>(legal.begin(), legal.end()));
  EXPECT_GT(losing, BadRoom);
  EXPECT_EQ(mp.badCount, BadRoom);
}

TEST(MovePicker, SortIsStableAndHighestFirst) {
  int list[6] = {makeEntry(1, 5), makeEntry(2, -3), makeEntry(3, 5), makeEntry(4, 30000), makeEntry(5, -3),
                 makeEntry(6, 0)};
  sortMoves(list, 6);
  const Move order[6] = {4, 1, 3, 6, 2, 5};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(list[i] & 0xFFFF, order[i]);

  // Against a library stable sort on random lists: few distinct scores (many
  // ties), negative scores, moves using all 16 bits, lengths 0 to 80.
  std::mt19937 rng(12345);
  for (int round = 0; round < 2000; ++round) {
    const int n = (int)(rng() % 81);
    std::vector<int> mine(n);
    for (int& e : mine) e = makeEntry((Move)(rng() & 0xFFFF), (int)(rng() % 7) * 4000 - 12000);
    std::vector<int> expected = mine;
    std::stable_sort(expected.begin(), expected.end(), [](int a, int b) { return (a >> 16) > (b >> 16); });
    sortMoves(mine.data(), n);
    ASSERT_EQ(mine, expected) << "round " << round;
  }
}

// givesCheck against making each legal move; returns the number of checks.
int verifyGivesCheck(const Position& pos) {
  int checks = 0;
  int list[MaxMoves];
  int n = pos.inCheck ? generateEvasions(pos, list) : generateAll(pos, list);
  for (int i = 0; i < n; ++i) {
    Move m = list[i] & 0xFFFF;
    Position child;
    if (!makeMove(pos, child, m)) continue;
    const bool check = kingAttacked(child, child.sideToMove());
    EXPECT_EQ(givesCheck(pos, m), check) << positionToFen(pos) << " move " << m;
    checks += check;
  }
  return checks;
}

TEST(StaticTests, GivesCheckMatchesMakingTheMove) {
  int checks = 0;
  auto verify = [&](const Position& pos) { checks += verifyGivesCheck(pos); };
  forEachSample(verify);
  // Castling, en passant (both lines) and promotions that check.
  for (const char* fen : {"5k2/8/8/8/8/8/8/4K2R w K - 0 1", "3k4/8/8/8/8/8/8/R3K3 w Q - 0 1",
                          "7k/8/8/3pP3/8/8/8/B3K3 w - d6 0 1", "8/8/8/R2pP2k/8/8/8/4K3 w - d6 0 1",
                          "1k6/6P1/8/8/8/8/8/4K3 w - - 0 1", "k7/8/8/8/8/8/1p6/R3K3 b Q - 0 1",
                          "4k3/8/8/8/8/8/8/4K2R w K - 0 1", "r3k3/8/8/8/8/8/8/4K3 b q - 0 1"})
    verify(fromFen(fen));
  EXPECT_TRUE(givesCheck(fromFen("5k2/8/8/8/8/8/8/4K2R w K - 0 1"), makeMove16(4, 7, KindCastle)));
  EXPECT_TRUE(givesCheck(fromFen("7k/8/8/3pP3/8/8/8/B3K3 w - d6 0 1"), makeMove16(36, 43, KindEnPassant)));
  EXPECT_TRUE(givesCheck(fromFen("8/8/8/R2pP2k/8/8/8/4K3 w - d6 0 1"), makeMove16(36, 43, KindEnPassant)));
  EXPECT_TRUE(givesCheck(fromFen("1k6/6P1/8/8/8/8/8/4K3 w - - 0 1"), makeMove16(54, 62, KindPromoQueen)));
  EXPECT_FALSE(givesCheck(fromFen("1k6/6P1/8/8/8/8/8/4K3 w - - 0 1"), makeMove16(54, 62, KindPromoKnight)));
  EXPECT_GT(checks, 500);
}

TEST(StaticTests, Chess960CastlingChecksAndPicker) {
  std::mt19937 rng(960);
  int checks = 0;
  forEachSample([&](const Position& pos) {
    checks += verifyGivesCheck(pos);
    checkPickerCoversTheMoves(pos, rng);
  }, 3, 20, "perft960.epd");
  // Castling with the rook landing on f1 next to a king on f8.
  Position pos = fromFen("1r3k2/8/8/8/8/8/8/1R2K2R w HB - 0 1");
  EXPECT_TRUE(givesCheck(pos, makeMove16(4, 7, KindCastle)));
  EXPECT_FALSE(givesCheck(pos, makeMove16(4, 1, KindCastle)));
  EXPECT_GT(checks, 100);
}

TEST(StaticTests, ExposesOwnKingMatchesLegality) {
  int pinned = 0;
  forEachSample([&](const Position& pos) {
    if (pos.inCheck) return;
    int list[MaxMoves];
    int n = generateAll(pos, list);
    for (int i = 0; i < n; ++i) {
      Move m = list[i] & 0xFFFF;
      if (moveKind(m) == KindEnPassant || moveKind(m) == KindCastle) continue;
      if (typeOfCode(pos.board[moveFrom(m)]) == King) continue;
      const bool exposes = !isLegal(pos, m);
      EXPECT_EQ(exposesOwnKing(pos, m), exposes) << positionToFen(pos) << " move " << m;
      pinned += exposes;
    }
  });
  EXPECT_GT(pinned, 50);
}

// The quiet-check generator lists every quiet checking move except the
// discovered checks of bishops, rooks and queens it deliberately leaves out.
TEST(StaticTests, QuietChecksCoverTheCheckingQuietMoves) {
  forEachSample([&](const Position& pos) {
    if (pos.inCheck) return;
    int list[MaxMoves];
    int n = generateQuietChecks(pos, list);
    std::set<Move> generated;
    for (int i = 0; i < n; ++i) {
      Move m = list[i] & 0xFFFF;
      EXPECT_TRUE(generated.insert(m).second) << "duplicate";
      EXPECT_TRUE(isPseudoLegal(pos, m)) << positionToFen(pos) << " move " << m;
      EXPECT_EQ(pos.board[moveTo(m)], 0);
      EXPECT_LE(moveKind(m), KindDouble);
    }
    for (Move m : legalMoves(pos)) {
      if (moveKind(m) > KindDouble || pos.board[moveTo(m)] || !givesCheck(pos, m) || generated.count(m)) continue;
      const int type = typeOfCode(pos.board[moveFrom(m)]);
      EXPECT_TRUE(type == Bishop || type == Rook || type == Queen) << positionToFen(pos) << " move " << m;
    }
    // Advanced pushes: exactly the single pushes to ranks 6 and 7 with a free square beyond.
    n = generateAdvancedPushes(pos, list);
    std::set<Move> pushes;
    for (int i = 0; i < n; ++i) pushes.insert(list[i] & 0xFFFF);
    std::set<Move> want;
    const int us = pos.sideToMove();
    int all[MaxMoves];
    int count = generateAll(pos, all);
    for (int i = 0; i < count; ++i) {
      Move m = all[i] & 0xFFFF;
      const Square to = moveTo(m);
      if (moveKind(m) != KindNormal || typeOfCode(pos.board[moveFrom(m)]) != Pawn || pos.board[to]) continue;
      if (fileOf(to) != fileOf(moveFrom(m))) continue;
      const int rank = relativeRank(us, to);
      if ((rank == 5 || rank == 6) && !pos.board[to + (us == White ? 8 : -8)]) want.insert(m);
    }
    EXPECT_EQ(pushes, want);
  }, 2, 20);
}

// A piece that shields the enemy king from an own slider moves every way it
// can: a pawn's pushes along the line too (they do not check; the search
// tests the child).
TEST(StaticTests, QuietChecksListEveryPushOfAShieldingPawn) {
  const Position pos = fromFen("4k3/8/8/8/8/8/4P3/4R1K1 w - - 0 1");
  int list[MaxMoves];
  const int n = generateQuietChecks(pos, list);
  std::set<Move> generated;
  for (int i = 0; i < n; ++i) generated.insert(list[i] & 0xFFFF);
  EXPECT_EQ(generated, (std::set<Move>{makeMove16(12, 20), makeMove16(12, 28, KindDouble)}));
}

struct ExchangeCase {
  const char* fen;
  Move move;
  bool loses;
};

TEST(StaticTests, LosesMaterialHandChecked) {
  const ExchangeCase cases[] = {
      {"4k3/8/3p4/4p3/8/8/8/4QK2 w - - 0 1", makeMove16(4, 36), true},     // Qxe5, pawn defended by d6
      {"4k3/8/8/4p3/8/5N2/8/4K3 w - - 0 1", makeMove16(21, 36), false},    // Nxe5, undefended
      {"4k3/8/3p4/4n3/3P4/8/8/4K3 w - - 0 1", makeMove16(27, 36), false},  // dxe5, pawn takes knight
      {"4k3/8/3p4/4n3/8/8/8/4RK2 w - - 0 1", makeMove16(4, 36), true},     // Rxe5, knight defended by a pawn
      // Bxd5 Rxd5 Rxd5: bishop for pawn and rook.
      {"3rk3/8/8/3p4/8/1B6/8/3RK3 w - - 0 1", makeMove16(17, 35), false},
      // Bxd5 with the defending rook alone: loses the bishop for a pawn.
      {"3rk3/8/8/3p4/8/1B6/8/4K3 w - - 0 1", makeMove16(17, 35), true},
      // Nxd5: the only defender, Nf6, is pinned by Bb2 against Kh8.
      {"7k/8/5n2/3p4/1N6/8/1B6/4K3 w - - 0 1", makeMove16(25, 35), false},
      // Same without the pinning bishop.
      {"7k/8/5n2/3p4/1N6/8/8/4K3 w - - 0 1", makeMove16(25, 35), true},
      {"4k3/8/8/4p3/8/8/8/4K3 w - - 0 1", makeMove16(4, 12), false},       // king moves never lose
      {"4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", makeMove16(36, 43, KindEnPassant), false},
      {"4k3/8/3p4/8/8/5N2/8/4K3 w - - 0 1", makeMove16(21, 36), true},     // Ne5?? attacked by d6
      // Rxe7 next to the king: the king may only take when nothing defends e7.
      {"8/4pk2/8/8/8/8/8/4RK2 w - - 0 1", makeMove16(4, 52), true},
      {"8/4pk2/8/8/8/8/8/3BRK2 w - - 0 1", makeMove16(4, 52), true},
      {"8/4pk2/8/8/1B6/8/8/4RK2 w - - 0 1", makeMove16(4, 52), false},
      // Knight to a square the bishop covers: an even trade when defended by the rook.
      {"4k3/8/8/8/8/1b2N3/8/R3K3 w - - 0 1", makeMove16(20, 3), false},
      {"4k3/8/8/8/8/1b2N3/8/R3K3 w - - 0 1", makeMove16(20, 10), true},
  };
  for (const ExchangeCase& c : cases) EXPECT_EQ(losesMaterial(fromFen(c.fen), c.move), c.loses) << c.fen;
}

TEST(StaticTests, PieceEnPriseHandChecked) {
  // Knight on d4 attacked by a pawn: lost even though defended.
  EXPECT_TRUE(pieceEnPrise(fromFen("4k3/8/8/4p3/3N4/2P5/8/4K3 w - - 0 1"), makeMove16(27, 37)));
  // Rook attacked by a rook and defended by a pawn: an even trade, safe.
  EXPECT_FALSE(pieceEnPrise(fromFen("3rk3/8/8/8/3R4/2P5/8/4K3 w - - 0 1"), makeMove16(27, 31)));
  // Undefended rook attacked by a rook.
  EXPECT_TRUE(pieceEnPrise(fromFen("3rk3/8/8/8/3R4/8/8/4K3 w - - 0 1"), makeMove16(27, 31)));
  // Nothing attacks it.
  EXPECT_FALSE(pieceEnPrise(fromFen("4k3/8/8/8/3R4/8/8/4K3 w - - 0 1"), makeMove16(27, 31)));
  // Rook takes bishop, pawn takes rook, the queen behind takes the pawn: still ahead.
  EXPECT_FALSE(pieceEnPrise(fromFen("3qk3/3r4/8/8/3B4/2P5/8/4K3 w - - 0 1"), makeMove16(27, 36)));
  // Without the pawn the bishop simply hangs.
  EXPECT_TRUE(pieceEnPrise(fromFen("3qk3/3r4/8/8/3B4/8/8/4K3 w - - 0 1"), makeMove16(27, 36)));
}

TEST(StaticTests, ExchangeValuesHandChecked) {
  // Black (not to move) pawn e5 takes the knight on d4, recaptured by c3: wins 3 - 1.
  Position p = fromFen("4k3/8/8/4p3/3N4/2P5/8/4K3 w - - 0 1");
  EXPECT_EQ(opponentExchangeValue(p, makeMove16(36, 27)), 2);
  // Black queen takes a pawn defended by a pawn: loses 9 for 1.
  p = fromFen("4k3/8/8/3q4/4P3/3P4/8/4K3 w - - 0 1");
  EXPECT_EQ(opponentExchangeValue(p, makeMove16(35, 28)), -8);
  // Black pawn pushes to a square a white pawn covers.
  p = fromFen("4k3/8/3p4/8/2P5/8/8/4K3 w - - 0 1");
  EXPECT_EQ(opponentExchangeValue(p, makeMove16(43, 35)), -1);
  EXPECT_EQ(opponentExchangeValue(p, makeMove16(43, 35, KindPromoRook)), 0);

  // Square exchange loss, from the side to move's view.
  p = fromFen("4k3/8/8/4p3/3N4/8/8/4K3 w - - 0 1");
  EXPECT_EQ(squareExchangeLoss(p, 27), -6);  // undefended knight attacked by a pawn
  p = fromFen("4k3/8/8/4p3/3N4/2P5/8/4K3 w - - 0 1");
  EXPECT_EQ(squareExchangeLoss(p, 27), -5);  // defended: knight 6 for pawn 1
  p = fromFen("4k3/8/8/8/3N4/2P5/8/4K3 w - - 0 1");
  EXPECT_EQ(squareExchangeLoss(p, 27), 0);
  p = fromFen("4k3/8/8/8/3R4/2P5/8/1b2K3 w - - 0 1");
  EXPECT_EQ(squareExchangeLoss(p, 27), 0);   // rook not on the bishop's line
  p = fromFen("7k/8/6b1/8/4R3/3P4/8/4K3 w - - 0 1");
  EXPECT_EQ(squareExchangeLoss(p, 28), -7);  // rook 10 for bishop 3
  p = fromFen("7k/8/6r1/8/4R3/3P4/8/4K3 w - - 0 1");
  EXPECT_EQ(squareExchangeLoss(p, 28), 0);   // the rook on g6 does not attack e4
}

}  // namespace
