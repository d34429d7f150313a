// The tree node routines searchPV and searchNonPV.
#include "search/search.h"

#include <cstring>

SearchThread* searchThreads[MaxThreads];

int drawScore = 0;
int contempt = 0;
std::atomic<int> rootBestScore{0};
std::atomic<int> rootMovesSearched{0};
std::atomic<int> currentMoveNumber{0};
std::atomic<int> lastBoundType{0};

void clearSearchTables(SearchThread& thread) {
  std::memset(thread.killers, 0, sizeof thread.killers);
  std::memset(thread.counterMoves, 0, sizeof thread.counterMoves);
}

Bitboard passedZone(const Position& pos) {
  const int us = pos.sideToMove(), them = other(us);
  // Squares each enemy pawn can still reach or capture on: its own file and
  // the two beside it, from its rank onwards in its direction of travel.
  Bitboard contested = 0;
  Bitboard theirPawns = pos.bb(them, Pawn);
  Bitboard front = shiftUp(them, theirPawns);
  front |= besideBB(front);
  while (front) {
    contested |= front;
    front = shiftUp(them, front);
  }
  const Bitboard ranks678 = us == White ? 0xFFFFFF0000000000ull : 0x0000000000FFFFFFull;
  return ranks678 & ~contested;
}
