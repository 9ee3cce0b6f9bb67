#include "driver/observation_file.hpp"

#include <gtest/gtest.h>

#include <string>

#include "foundation/index_ranged_arrays.hpp"

namespace {

// The table a file's bytes give, as a string of all (n+1)*M slots.
struct LoadedTable {
  ObservationFileHeader header;
  std::string slots;
};

LoadedTable load(std::string_view raw) {
  LoadedTable loaded;
  const std::string text = fold_line_ends(raw);
  loaded.header = read_observation_header(text);
  if (!loaded.header.problem.empty()) return loaded;
  const auto slots = static_cast<int>(observation_table_slots(loaded.header));
  ObservationTable table = cvector(0, slots - 1);
  fill_observation_table(text, loaded.header, table);
  for (int s = 0; s < slots; ++s) loaded.slots.push_back(static_cast<char>(table[s]));
  release_cvector(table, 0, slots - 1);
  return loaded;
}

}  // namespace

TEST(ObservationFile, TwoRowsOfThreeCodesFillTheTableWithTheLastTerminatorAndOneBlank) {
  const LoadedTable loaded = load("2 3\nNRX\nXXN\n");
  ASSERT_EQ(loaded.header.problem, "");
  EXPECT_EQ(loaded.header.observation_count, 2);
  EXPECT_EQ(loaded.header.interval_count, 3);
  // Six codes, the last row's line end, one slot never written.
  EXPECT_EQ(loaded.slots, std::string("NRXXXN\n") + static_cast<char>(unfilled_slot));
}

TEST(ObservationFile, CarriageReturnLineFeedLoadsExactlyTheSameTable) {
  EXPECT_EQ(load("2 3\r\nNRX\r\nXXN\r\n").slots, load("2 3\nNRX\nXXN\n").slots);
  // A lone carriage return is an ordinary byte and stays a code.
  EXPECT_EQ(load("1 2\na\rb\n").slots.substr(0, 2), "a\r");
}

TEST(ObservationFile, OneCharacterAfterTheSecondCountIsThrownAwayWhateverItIs) {
  // A blank ends the first line: the line end becomes the first code and
  // every later code moves one place along.
  const LoadedTable shifted = load("2 3 \nNRX\nXXN\n");
  EXPECT_EQ(shifted.slots.substr(0, 6), "\nNR\nXX");
  // The counts may be preceded by any white space, on separate lines.
  const LoadedTable spaced = load("\n\t 2\n\n3\nNRX\nXXN\n");
  EXPECT_EQ(spaced.slots.substr(0, 6), "NRXXXN");
}

TEST(ObservationFile, ShortAndLongRowsShiftEveryLaterRow) {
  // A row one short stores its line end as a code and takes the next row's
  // first character as its terminator.
  EXPECT_EQ(load("2 3\nNR\nXXN\n").slots.substr(0, 6), "NR\nXN\n");
  // A row one long loses its last character as the terminator, and its line
  // end becomes the first code of the next row.
  EXPECT_EQ(load("2 3\nNRXR\nXXN\n").slots.substr(0, 6), "NRX\nXX");
}

TEST(ObservationFile, BlanksAndAnyBytesInsideARowAreCodesStoredUnchanged) {
  const std::string raw = std::string("1 4\nN ") + '\0' + "\xff\n";
  EXPECT_EQ(load(raw).slots.substr(0, 4), std::string("N ") + '\0' + "\xff");
}

TEST(ObservationFile, SlotsAFileNeverFillsHoldABlank) {
  // The file ends in the middle of the second row, whose first code has
  // overwritten the first row's terminator.
  const LoadedTable loaded = load("3 2\nNR\nX");
  const char blank = static_cast<char>(unfilled_slot);
  EXPECT_EQ(loaded.slots, "NRX" + std::string(6, blank));
  // The file ends right after a terminator: that line end stays as the
  // next row's first code.
  EXPECT_EQ(load("2 2\nNR\n").slots, "NR\n" + std::string(3, blank));
  // Nothing at all after the counts.
  EXPECT_EQ(load("1 2").slots, std::string(3, blank));
  // Extra lines after the last row are not read.
  EXPECT_EQ(load("1 2\nNR\nXXXX\n").slots, "NR\n");
}

TEST(ObservationFile, CountsThatAreMissingOrBelowOneAreRefusedWithAReason) {
  struct Case {
    const char* raw;
    const char* problem;
  };
  const Case cases[] = {
      {"", "the data file gives no number of observations where a whole number should stand"},
      {"abc\nNR\n",
       "the data file gives no number of observations where a whole number should stand"},
      {"-\n", "the data file gives no number of observations where a whole number should stand"},
      {"5", "the data file gives no number of intervals where a whole number should stand"},
      {"5 x\n", "the data file gives no number of intervals where a whole number should stand"},
      {"0 3\n", "the data file gives 0 as the number of observations; it must be at least 1"},
      {"2 -1\n", "the data file gives -1 as the number of intervals; it must be at least 1"},
      {"99999999999 3\n", "the number of observations in the data file is too large"},
      {"2 -99999999999\n",
       "the data file gives a negative number of intervals; it must be at least 1"},
      {"\xEF\xBB\xBF"
       "2 3\n",
       "the data file begins with a UTF-8 byte-order mark (bytes EF BB BF) where the number of "
       "observations should stand; save it as plain text without one"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read_observation_header(c.raw).problem, c.problem) << "file: " << c.raw;
  }
  // The largest int is still a count; it is the table that will not fit.
  const ObservationFileHeader huge = read_observation_header("2147483647 2\n");
  EXPECT_EQ(huge.problem, "");
  EXPECT_EQ(huge.observation_count, 2147483647);
  EXPECT_EQ(observation_table_slots(huge), -1);
}
