#include "board/movetext.h"

#include "board/settings.h"

std::string moveToText(Move m) {
  m &= 0xFFFF;
  if (m == 0) return "0000";
  Square from = moveFrom(m), to = moveTo(m);
  // Castling is stored as king takes own rook; standard notation names the
  // king's destination on the g- or c-file instead.
  if (moveKind(m) == KindCastle && !settings::chess960) to = (from & 56) + (from < to ? 6 : 2);
  std::string text;
  text += char('a' + fileOf(from));
  text += char('1' + rankOf(from));
  text += char('a' + fileOf(to));
  text += char('1' + rankOf(to));
  if (isPromotion(m)) text += "qnrb"[moveKind(m) - KindPromoQueen];
  return text;
}

std::string pvToText(const Move* pv) {
  std::string text;
  for (int i = 0; i < 64 && (pv[i] & 0xFFFF); i++) text += moveToText(pv[i]) + " ";
  return text;
}
