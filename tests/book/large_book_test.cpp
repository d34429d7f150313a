// A book larger than 4 GiB: every entry of a real book lies past the 4 GiB
// mark, so a size or an offset cut to 32 bits finds none of its moves.
// Built for Windows too, where `long` has 32 bits.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "../board/board_test_util.h"
#include "book/book.h"

namespace {

std::string dataFile(const char* name) { return std::string(ORVANE_TEST_DATA) + "/" + name; }

// book-slice.bin after 2^28 + 1 entries of key 0 (all zero bytes, which
// sort first): a sparse file of 4 GiB + 16 bytes before the real entries.
// Written by the C++ library, not by the layer under test.
std::string writeLargeBook() {
  std::ifstream in(dataFile("book-slice.bin"), std::ios::binary);
  const std::string slice((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_GT(slice.size(), 100000u) << "book-slice.bin is missing";
  const std::string path = ::testing::TempDir() + "orvane_large_book.bin";
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.seekp((int64_t(1) << 32) + 16);
  out.write(slice.data(), (std::streamsize)slice.size());
  EXPECT_TRUE(out.good()) << path;
  return path;
}

// Every position of book-expected.txt gets its listed moves and weights, in
// book order, from the entries past 4 GiB.
TEST(LargeBook, EntriesPastFourGiBAnswer) {
  Chess960Guard standard(0);
  const std::string path = writeLargeBook();
  settings::ownBook = 1;
  settings::bookFile = path;
  openBook();
  ASSERT_TRUE(bookIsOpen()) << path;
  std::ifstream listed(dataFile("book-expected.txt"));
  int positions = 0;
  for (std::string line; std::getline(listed, line);) {
    const std::string fen = line.substr(0, line.find(" ;"));
    std::string want = line.substr(line.find("; moves ") + 8);
    for (const char* castle : {"e1h1", "e8h8"})
      if (size_t at = want.find(castle); at != std::string::npos) want[at + 2] = 'g';
    BookMove moves[MaxBookMoves];
    testing::internal::CaptureStdout();
    const int n = findBookMoves(fenPosition(fen), moves);
    const std::string said = testing::internal::GetCapturedStdout();
    std::string got;
    for (int i = 0; i < n; ++i) got += (i ? " " : "") + moveToText(moves[i].move) + ":" + std::to_string(moves[i].weight);
    EXPECT_EQ(got, want) << fen << "\n" << said;
    ++positions;
  }
  EXPECT_EQ(positions, 7);
  settings::ownBook = 0;
  openBook();  // closes it
  settings::ownBook = 1;
  settings::bookFile = "orvane.bin";
  std::remove(path.c_str());
}

}  // namespace
