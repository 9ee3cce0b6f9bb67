// The data summary before a scan: shares of the codes per interval, the
// refusal of data the model cannot read, and the warning for an interval
// that says nothing.
#include "driver/data_summary.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The summary of rows of equal length, laid out as the loader lays them.
DataSummary summary_of(const std::vector<std::string>& rows) {
  const int m = static_cast<int>(rows.size());
  const int n = static_cast<int>(rows.front().size());
  ObservationTable table = cvector(0, (n + 1) * m - 1);
  for (int i = 0; i < m; ++i) {
    for (int t = 0; t < n; ++t) {
      table[i * n + t] = static_cast<unsigned char>(
          rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(t)]);
    }
  }
  DataSummary summary = summarise_observations("data.txt", table, m, n);
  release_cvector(table, 0, (n + 1) * m - 1);
  return summary;
}

void expect_lines_within_80_columns(const std::string& text) {
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos;
       start = end + 1, end = text.find('\n', start)) {
    EXPECT_LE(end - start, 80u) << text;
  }
  EXPECT_EQ(start, text.size()) << "the paragraph ends with a line end:\n" << text;
}

}  // namespace

TEST(DataSummary, CodesTheModelCannotReadAreRefusedByName) {
  const DataSummary summary = summary_of({"nr", "rn", "n0"});
  EXPECT_NE(summary.refusal.find("no interval has an R or an N code"), std::string::npos);
  EXPECT_NE(summary.refusal.find("'n' (50%), 'r' (33%), '0' (17%)"), std::string::npos)
      << summary.refusal;
  // X alone carries too little to fit: still refused.
  EXPECT_FALSE(summary_of({"XX", "X-"}).refusal.empty());
}

TEST(DataSummary, GivesEachIntervalsSharesAndWarnsOfAnIntervalWithoutROrN) {
  const DataSummary summary = summary_of({"RNX-", "NNX-", "RRXX", "NRN-"});
  EXPECT_EQ(summary.refusal, "");
  EXPECT_EQ(summary.paragraph.rfind("data.txt: 4 rows, 4 intervals;", 0), 0u) << summary.paragraph;
  // R/N/X/other in % of the rows.
  for (const char* shares : {"1:50/50/0/0,", "2:50/50/0/0,", "3:0/25/75/0,", "4:0/0/25/75\n"}) {
    EXPECT_NE(summary.paragraph.find(shares), std::string::npos) << summary.paragraph;
  }
  ASSERT_EQ(summary.warnings.size(), 1u);
  EXPECT_EQ(summary.warnings[0].rfind("interval 4 has no R and no N code", 0), 0u)
      << summary.warnings[0];
  expect_lines_within_80_columns(summary.paragraph);
}

TEST(DataSummary, ManyIntervalsGiveTheRangeOfEachShareOnAFewLines) {
  std::string row(400, 'N');
  row[0] = 'R';
  for (std::size_t t = 300; t < 400; ++t) row[t] = '-';
  std::string other = row;
  other[0] = 'N';
  const DataSummary summary = summary_of({row, other});
  for (const char* range : {"R 0-50,", "N 0-100,", "X 0-0,", "other 0-100\n"}) {
    EXPECT_NE(summary.paragraph.find(range), std::string::npos) << summary.paragraph;
  }
  EXPECT_LE(summary.paragraph.size(), 3u * 81u) << summary.paragraph;
  expect_lines_within_80_columns(summary.paragraph);
  ASSERT_EQ(summary.warnings.size(), 1u);
  EXPECT_EQ(summary.warnings[0].rfind("intervals 301-400 have no R and no N code", 0), 0u);
}
