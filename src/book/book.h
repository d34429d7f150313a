// The opening book: a move for the root position from a file in the
// Polyglot book format.
//
// A book file is a sequence of 16-byte entries sorted by key, all numbers
// big-endian: the position's Polyglot key (64 bits), a move (16 bits), a
// weight (16 bits) and a learn field (32 bits, unused).  The key is built
// from the published Polyglot random numbers (polyglot_random.h), so any
// Polyglot book works.  Moves are to-square in bits 0-5, from-square in bits
// 6-11 and promotion in bits 12-14 (1 knight, 2 bishop, 3 rook, 4 queen);
// castling is written as the king taking its own rook on the standard
// squares.
//
// The book owns one open file: opened at start-up, when "Book File" changes
// and when "OwnBook" is switched on.  The driver asks it once per search, at
// the first iteration, on the main thread; nothing else reads the file, so
// it needs no lock.  A file that cannot be positioned or read costs that
// search its book move and one "info string" line, never the process.
#pragma once

#include <cstdio>
#include <string>

#include "board/position.h"

// One decoded book entry.
struct BookEntry {
  Key key;
  uint16_t move;
  uint16_t weight;
  uint32_t learn;
};

// The Polyglot key of a position.
Key bookKey(const Position& pos);

// Closes the open book and, when "OwnBook" is on, opens "Book File" for
// reading.  A name that cannot be opened as a regular file leaves no book,
// silently (the default name need not exist).
void openBook();
bool bookIsOpen();
// Makes an open stream the book (closing the previous one; null = no
// book): openBook hands it the file it opened, and a book held in memory
// (fmemopen) is read by the same code.
void useBookStream(FILE* stream, const std::string& name);

// A move of the book with its weight.
struct BookMove {
  Move move;
  int weight;
};
// Room for the moves of one position; a run with more entries (a damaged
// book repeating moves) is still checked, but its surplus is not offered.
constexpr int MaxBookMoves = 256;

// The book's moves for root in file order, those of weight 0 left out; the
// count.  0 when there is no book, no entry for the position, or the file
// cannot be read, and also when one entry is not a legal move (the run then
// belongs to another position with the same key, or the book is damaged).
// Prints the book's progress lines.
int findBookMoves(const Position& root, BookMove* moves);

// Chooses at random with probability weight / total weight; with
// heaviestOnly only among the moves of the greatest weight.  Reorders
// moves.  count > 0.  The random numbers come from std::rand unless a
// source is given (tests pass one that counts through every value).
Move chooseBookMove(BookMove* moves, int count, bool heaviestOnly, int (*random)() = nullptr);

// A book move for root that is one of the allowed moves (the search's root
// moves, which "go searchmoves" or the tablebases may narrow), or 0 when no
// book move is allowed.  The book moves that are not allowed are left out
// before the weighted choice; "Best Book Line" restricts it to the heaviest
// of those left.
Move probeBook(const Position& root, const Move* allowed, int allowedCount);
