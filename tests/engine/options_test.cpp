// Unit tests of the option table: registration, lookup, value text, setting
// from text and the listing line.
#include <gtest/gtest.h>

#include "board/settings.h"
#include "engine/options.h"
#include "search/level.h"

namespace {

class OptionTable : public ::testing::Test {
 protected:
  void SetUp() override { registerEngineOptions(); }
  void TearDown() override { registerEngineOptions(); }  // defaults back for other tests
};

TEST_F(OptionTable, RegistersTheDesignsOptionsThenTheLevelsWithDefaults) {
  EXPECT_EQ(engineOptions.size(), 31u);
  EXPECT_EQ(optionListing().size(), 31u);
  EXPECT_EQ(settings::hashMb, 128);
  EXPECT_EQ(settings::tableMemory, 64);
  EXPECT_EQ(settings::drawScore, -7);
  EXPECT_EQ(settings::bookFile, "orvane.bin");
  EXPECT_EQ(settings::reduction, 0);
  std::string name;
  OptionRecord* r = findOption("reduction", &name);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(name, "Reduction");
  EXPECT_EQ(r->index, 28u);
  EXPECT_EQ(findOption("Ponder")->index, 0u);
  EXPECT_EQ(findOption("UCI_LimitStrength")->index, 29u);
  EXPECT_EQ(findOption("UCI_Elo")->index, 30u);
  EXPECT_EQ(settings::limitStrength, 0);
  EXPECT_EQ(settings::uciElo, 1500);
}

TEST_F(OptionTable, LookupIgnoresCaseButNotSpelling) {
  EXPECT_NE(findOption("SYZYGYPATH"), nullptr);
  EXPECT_NE(findOption("king safety"), nullptr);
  EXPECT_EQ(findOption("KingSafety"), nullptr);
  EXPECT_EQ(findOption("King Safety "), nullptr);
  EXPECT_EQ(findOption(""), nullptr);
  // A name that is a prefix of another is a different option.
  EXPECT_NE(findOption("Hash"), findOption("Hash File Name"));
}

TEST_F(OptionTable, ValueTextAndListingLines) {
  EXPECT_EQ(optionValueText(*findOption("Ponder")), "true");
  EXPECT_EQ(optionValueText(*findOption("Log File")), "<empty>");
  EXPECT_EQ(optionValueText(*findOption("Clear Hash")), "<none>");
  EXPECT_EQ(optionListingLine("Clear Hash", *findOption("Clear Hash")), "option name Clear Hash type button");
  EXPECT_EQ(optionListingLine("Reduction", *findOption("Reduction")),
            "option name Reduction type spin default 0 min -1000 max 150");
  uint64_t big = 0;
  registerSpin64("Big", &big, 5, 0, 10);
  EXPECT_EQ(optionListingLine("Big", *findOption("big")), "option name Big type spin default 5 min 0 max 10");
}

TEST_F(OptionTable, SpinValuesAreClampedAndCheckedForNumbers) {
  OptionRecord& threads = *findOption("Threads");
  EXPECT_TRUE(setOptionFromText(threads, "100"));
  EXPECT_EQ(settings::threads, 64);
  EXPECT_TRUE(setOptionFromText(threads, "-3"));
  EXPECT_EQ(settings::threads, 1);
  EXPECT_TRUE(setOptionFromText(threads, "99999999999999999999999"));
  EXPECT_EQ(settings::threads, 64);
  std::string error;
  for (const char* bad : {"", "abc", "4x", "--4", "+", "4 4"}) {
    EXPECT_FALSE(setOptionFromText(threads, bad, &error)) << bad;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(settings::threads, 64) << bad;
  }
  EXPECT_TRUE(setOptionFromText(*findOption("Drawscore"), "-500"));
  EXPECT_EQ(settings::drawScore, -200);
  EXPECT_TRUE(setOptionFromText(*findOption("Overhead ms"), "-1"));
  EXPECT_EQ(settings::overheadMs, 0);
}

TEST_F(OptionTable, CheckValuesAcceptWordsAndNumbers) {
  OptionRecord& book = *findOption("OwnBook");
  EXPECT_TRUE(setOptionFromText(book, "0"));
  EXPECT_EQ(settings::ownBook, 0);
  EXPECT_TRUE(setOptionFromText(book, "true"));
  EXPECT_EQ(settings::ownBook, 1);
  EXPECT_TRUE(setOptionFromText(book, "false"));
  EXPECT_EQ(settings::ownBook, 0);
  EXPECT_TRUE(setOptionFromText(book, "7"));
  EXPECT_EQ(settings::ownBook, 1);
  EXPECT_FALSE(setOptionFromText(book, "TRUE"));
  EXPECT_FALSE(setOptionFromText(book, "on"));
  EXPECT_EQ(settings::ownBook, 1);
}

TEST_F(OptionTable, StringValuesKeepTheirText) {
  EXPECT_TRUE(setOptionFromText(*findOption("Hash File Name"), "a b  c"));
  EXPECT_EQ(settings::hashFileName, "a b  c");
  EXPECT_TRUE(setOptionFromText(*findOption("Log File"), "<empty>"));
  EXPECT_EQ(settings::logFile, "");
  settings::syzygyProbeLimit = 9;
  EXPECT_TRUE(setOptionFromText(*findOption("SyzygyPath"), "/nowhere"));
  EXPECT_EQ(settings::syzygyPath, "/nowhere");
  EXPECT_EQ(settings::syzygyProbeLimit, 6);
}

}  // namespace
