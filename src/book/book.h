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

// A book move for root, or 0: no book, no entry for the position, all
// weights 0, an entry that is not a legal move, or a file that cannot be
// read.  Chooses at random (std::rand) in proportion to the weights, or
// among the heaviest moves only when "Best Book Line" is on.  Prints the
// book's progress lines.
Move probeBook(const Position& root);
