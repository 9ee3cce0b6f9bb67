// The data file is read piece by piece and only as far as the table needs,
// so that a huge or endless file costs no more than its table.  Reading it
// that way must give exactly the table that reading the whole file gives.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "driver/observation_file.hpp"

namespace {

std::string folded_in_pieces(std::string_view raw, const std::vector<std::size_t>& cuts) {
  LineEndFolding folding;
  std::size_t at = 0;
  for (const std::size_t cut : cuts) {
    fold_more_line_ends(folding, raw.substr(at, cut - at));
    at = cut;
  }
  fold_more_line_ends(folding, raw.substr(at));
  finish_line_end_folding(folding);
  return folding.text;
}

}  // namespace

TEST(PiecewiseReading, FoldingInPiecesGivesTheWholeFilesFoldingWhereverThePiecesBreak) {
  // Carriage returns alone, in pairs, before line feeds and at the very end.
  const std::string raw = "2 3\r\nN\r\rX\r\n\r\r\nXXN\r";
  const std::string whole = fold_line_ends(raw);
  ASSERT_EQ(whole, "2 3\nN\r\rX\n\r\nXXN\r");
  for (std::size_t first = 0; first <= raw.size(); ++first) {
    for (std::size_t second = first; second <= raw.size(); ++second) {
      EXPECT_EQ(folded_in_pieces(raw, {first, second}), whole) << first << " " << second;
    }
  }
}

TEST(PiecewiseReading, AHeaderIsSettledOnlyOnceTheTextGoesOnPastWhatDecidedIt) {
  struct Case {
    const char* prefix;
    bool settled;
  };
  const Case cases[] = {
      {"", false},        // the first count may still come
      {"  \n ", false},   // white space may go on into a count
      {"12", false},      // the digits may go on: 120, 123...
      {"12 3", false},    // the same for the second count
      {"12 3\n", false},  // the thrown-away character might be a CR of a CR LF
      {"12 3\nN", true},  // nothing later changes the counts
      {"0", false},       // "05" would be a count of 5
      {"0 ", true},       // refused whatever follows
      {"x", true},        // no count can start here
      {"12 -", false},    // a sign waits for its digits
      {"12 -x", true},   {"99999999999", false}, {"99999999999 ", true},
  };
  for (const Case& c : cases) {
    const std::string_view prefix = c.prefix;
    EXPECT_EQ(header_is_settled(read_observation_header(prefix), prefix.size()), c.settled)
        << "\"" << c.prefix << "\"";
  }
}

TEST(PiecewiseReading, ASettledHeaderIsTheHeaderOfEveryLongerFile) {
  // The second file is refused for its byte-order mark; the mark's first
  // bytes alone must not settle on another refusal.
  for (const std::string whole : {"  7\r\n 2 \nNR\nRN\n",
                                  "\xEF\xBB\xBF"
                                  "2 2\nNR\nRN\n"}) {
    const std::string folded = fold_line_ends(whole);
    const ObservationFileHeader full = read_observation_header(folded);
    for (std::size_t size = 0; size <= folded.size(); ++size) {
      const ObservationFileHeader part =
          read_observation_header(std::string_view(folded).substr(0, size));
      if (!header_is_settled(part, size)) continue;
      EXPECT_EQ(part.problem, full.problem) << size;
      EXPECT_EQ(part.observation_count, full.observation_count) << size;
      EXPECT_EQ(part.interval_count, full.interval_count) << size;
      EXPECT_EQ(part.codes_begin, full.codes_begin) << size;
    }
  }
}

TEST(PiecewiseReading, TheTableNeedsTheHeaderAndOneCharacterPerSlot) {
  // Two rows of three codes: 8 slots after the four header characters.
  EXPECT_EQ(observation_text_needed(read_observation_header("2 3\nNRX\nXXN\n")), 12U);
  const std::string folded = "2 3\nNRX\nXXN\nlines that are never read\n";
  const ObservationFileHeader header = read_observation_header(folded);
  ASSERT_EQ(header.problem, "");
  const auto slots = static_cast<int>(observation_table_slots(header));
  ObservationTable from_whole = cvector(0, slots - 1);
  ObservationTable from_needed = cvector(0, slots - 1);
  fill_observation_table(folded, header, from_whole);
  fill_observation_table(std::string_view(folded).substr(0, observation_text_needed(header)),
                         header, from_needed);
  for (int s = 0; s < slots; ++s) EXPECT_EQ(from_whole[s], from_needed[s]) << s;
  release_cvector(from_whole, 0, slots - 1);
  release_cvector(from_needed, 0, slots - 1);
}

TEST(PiecewiseReading, IntervalCountsUpToTheLargestAreReadAndBeyondItRefused) {
  const std::string largest = std::to_string(largest_fitted_interval_count);
  EXPECT_EQ(read_observation_header("1 " + largest + "\n").problem, "");
  EXPECT_EQ(read_observation_header("1 " + std::to_string(largest_fitted_interval_count + 1) + "\n")
                .problem,
            "the data file gives " + std::to_string(largest_fitted_interval_count + 1) +
                " as the number of intervals; it must be at most " + largest);
}
