// Move ordering: the MovePicker that hands out one node's moves in stages,
// and the static exchange and check tests that ordering and pruning share.
//
// A picker lives on the node's stack and serves one Position.  Moves are
// generated lazily, one group per stage, so that a cutoff by the table move
// or a good capture never pays for quiet-move generation.  Plans (rows of
// pickerPlans) say which stages a node runs; the search reads the current
// stage number after each call of next().  Nothing here allocates or touches
// shared state: the history scores are read from the Position's own thread
// table.
#pragma once

#include "board/position.h"

// Stage numbers.
constexpr int StageTableMove = 1;
constexpr int StageGoodCaptures = 2;
constexpr int StageKiller1 = 3;
constexpr int StageKiller2 = 4;
constexpr int StageCounter1 = 5;
constexpr int StageCounter2 = 6;
constexpr int StageQuiets = 7;
constexpr int StageEvasions = 8;
constexpr int StageQuietChecks = 9;
constexpr int StageAdvancedPushes = 10;
constexpr int StageBadMoves = 11;
constexpr int StageEnd = 12;
constexpr int StageQChecks = 13;     // quiescence: quiet checks, nothing deferred
constexpr int StageQCaptures = 14;   // quiescence: captures and promotions
constexpr int StageQPushes = 15;     // quiescence: advanced pawn pushes

// Plans (rows of pickerPlans).
constexpr int PlanNormal = 0;
constexpr int PlanInCheck = 4;
constexpr int PlanFutilityShallow = 5;  // futility mode, depth/2 < 5
constexpr int PlanFutilityDeep = 6;     // futility mode, depth/2 5..7
constexpr int PlanQCaptures = 7;        // quiescence: captures only
constexpr int PlanQChecksPushes = 8;    // quiescence: captures, checks, pushes
constexpr int PlanQChecksPushesBad = 9;
constexpr int PlanQChecks = 10;         // quiescence: captures and checks
constexpr int PlanCount = 11;
constexpr int PlanLength = 9;

// The stage sequence of each plan; every row ends with StageEnd.
extern const int pickerPlans[PlanCount][PlanLength];

// Room of the picker's lists.  The move list has room for any generator's
// output; the deferred list overflows into immediate return.
constexpr int PickerRoom = MaxMoves;
constexpr int BadRoom = 64;
constexpr int MaxReturned = 6;

struct MovePicker {
  const Position* pos;
  int plan;
  int stageIndex;
  int stage;             // current stage number (read by the search)
  int count;             // entries in the current list
  int index;             // next entry of the current list
  int* list;             // current list: moves or bad
  Move ttMove;
  Move killer1, killer2;
  Move counter1, counter2;  // counter moves of slot 0 and slot 1
  int depth;             // half plies
  bool deferLosing;
  int checkListEnd;      // end of the quiet-check list kept below the pushes
  int badCount;
  int returnedCount;
  Move returned[MaxReturned];
  int bad[BadRoom];
  int moves[PickerRoom];

  // Set-up by the search; nothing is generated yet.
  MovePicker(const Position& p, int planIndex, Move tt, Move k1, Move k2, Move c1, Move c2, int d);
  // The current list may point into the picker itself: it never moves.
  MovePicker(const MovePicker&) = delete;
  MovePicker& operator=(const MovePicker&) = delete;
  // The next move of the plan, or 0 when the plan is exhausted.
  Move next();
  // The move the current list would hand out next, without taking it (0 at
  // the end of a list); it may still be skipped or deferred.
  Move peek() const { return index < count ? (Move)(list[index] & 0xFFFF) : 0; }

 private:
  bool alreadyReturned(Move m) const;
  Move singleMove(Move m);
  void runListStage();
};

// Stable insertion sort of move-list entries by score (high half),
// highest first; equal scores keep their order.
void sortMoves(int* list, int count);

// Static tests shared by ordering and pruning.  m is pseudo-legal for the
// side to move unless stated otherwise.

// SEE-sign test: whether m loses material by a simple exchange on its
// destination.
bool losesMaterial(const Position& pos, Move m);
// Whether m checks the opponent king (direct, discovered, castling, en
// passant and promotions included).
bool givesCheck(const Position& pos, Move m);
// Whether m takes a pinned piece off its line to the own king.
bool exposesOwnKing(const Position& pos, Move m);
// Whether the piece on m's from-square can be won where it stands.
bool pieceEnPrise(const Position& pos, Move m);
// Material the side not to move gains by its capture or push m (> 0 wins).
int opponentExchangeValue(const Position& pos, Move m);
// Exchange result (0 or negative, side-to-move view) of the opponent
// capturing first on s, which holds a piece of the side to move.
int squareExchangeLoss(const Position& pos, Square s);

// Quiet moves that may check the enemy king (discovered checks first, then
// direct ones); unscored, may include some non-checks.  Returns the count.
int generateQuietChecks(const Position& pos, int* list);
// Single pawn pushes to the relative 6th or 7th rank with the two squares
// ahead empty; unscored.  Returns the count.
int generateAdvancedPushes(const Position& pos, int* list);
// Quiet moves in picker order: castling, single pushes, piece moves, double
// pushes, each scored by the side's history.  Returns the count.
int generateQuiets(const Position& pos, int* list);
