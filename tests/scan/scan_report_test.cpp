// The scan's report: lengths and standard errors from a covariance, the
// choice of the best order, and the table and CSV as a reader sees them.
#include "driver/scan_report.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/captured_output.hpp"

namespace {

std::string captured(void (*print)(std::FILE*, const std::vector<OrderResult>&,
                                   const std::vector<std::string>&),
                     const std::vector<OrderResult>& results) {
  return captured_output([&](std::FILE* file) { print(file, results, {}); });
}

// An order-p result with the given unscaled parameters and objective, and
// a diagonal-plus-correlation covariance when `definite`.
OrderResult result_of(int order, std::vector<double> parameters, double objective, bool definite) {
  OrderResult r;
  r.order = order;
  r.fit.parameters = std::move(parameters);
  r.fit.objective = objective;
  r.fit.restarts = 1;
  set_lengths(r);
  const int n = static_cast<int>(r.fit.parameters.size());
  if (!definite) {
    set_standard_errors(r, nullptr);
    return r;
  }
  DoubleMatrix covariance = dmatrix(1, n, 1, n);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) covariance[i][j] = i == j ? 0.04 * i : -0.01;
  }
  set_standard_errors(r, &covariance);
  release_dmatrix(covariance, 1, n, 1, n);
  return r;
}

}  // namespace

TEST(ScanReport, LengthsAndStandardErrorsAreDividedByTwiceTheOrder) {
  const OrderResult r = result_of(2, {0.8, 1.2, 0.4}, 123.5, true);
  EXPECT_DOUBLE_EQ(r.log_likelihood, -123.5);
  EXPECT_DOUBLE_EQ(r.lengths[1], 0.3);
  EXPECT_DOUBLE_EQ(r.total_length, 0.2 + 0.3 + 0.1);
  EXPECT_DOUBLE_EQ(r.standard_errors[0], std::sqrt(0.04) / 4);
  EXPECT_DOUBLE_EQ(r.standard_errors[2], std::sqrt(0.12) / 4);
}

TEST(ScanReport, TotalLengthStandardErrorCountsTheCovariances) {
  const OrderResult r = result_of(1, {0.5, 0.5, 0.5}, 10.0, true);
  // Var(sum) = (0.04 + 0.08 + 0.12) + 6 * (-0.01) = 0.18, not 0.24.
  EXPECT_DOUBLE_EQ(r.total_standard_error, std::sqrt(0.18) / 2);
}

TEST(ScanReport, BestOrderHasTheHighestLogLikelihoodAndTiesGoToTheLowerOrder) {
  std::vector<OrderResult> results = {result_of(1, {0.5}, 20.0, true),
                                      result_of(2, {0.5}, 15.0, true),
                                      result_of(3, {0.5}, 15.0, true)};
  EXPECT_EQ(best_result(results), 1);
  // A fit whose likelihood is infinite has failed: never best, never in
  // the support set.
  results[1].log_likelihood = std::numeric_limits<double>::infinity();
  results[2].log_likelihood = -std::numeric_limits<double>::infinity();
  EXPECT_EQ(best_result(results), 0);
  EXPECT_EQ(support_set(results), std::vector<int>{1});
  results[0].log_likelihood = NAN;
  EXPECT_EQ(best_result(results), -1);
  EXPECT_TRUE(support_set(results).empty());
  EXPECT_EQ(best_result({}), -1);
}

TEST(ScanReport, TableShowsEveryOrderTheDifferenceAndTheBestOrdersIntervals) {
  const std::vector<OrderResult> results = {result_of(1, {0.4, 0.6}, 1000.25, true),
                                            result_of(2, {0.8, 1.2}, 1003.5, true)};
  const std::string table = captured(print_scan_table, results);
  EXPECT_NE(table.find("    1      -1000.250000      0.000000  yes"), std::string::npos) << table;
  EXPECT_NE(table.find("    2      -1003.500000     -3.250000  yes"), std::string::npos) << table;
  EXPECT_NE(table.find("Best order: p = 1"), std::string::npos) << table;
  // length 0.2, SE sqrt(0.04)/2 = 0.1: 0.2 -+ 1.959964 * 0.1
  EXPECT_NE(table.find("       1      0.200000        0.100000  [0.004004, 0.395996]"),
            std::string::npos)
      << table;
}

TEST(ScanReport, FitWithoutPositiveDefiniteInformationSaysSoInWords) {
  OrderResult flat = result_of(1, {0.4, 0.6}, 1000.0, false);
  flat.fit.restart_limit_reached = true;
  const std::vector<OrderResult> results = {flat, result_of(2, {0.8, 1.2}, 1003.5, true)};
  const std::string table = captured(print_scan_table, results);
  EXPECT_NE(table.find("no (restarts)"), std::string::npos) << table;
  EXPECT_NE(table.find("not positive definite"), std::string::npos) << table;
  EXPECT_EQ(table.find("nan"), std::string::npos) << table;
  EXPECT_NE(table.find("no standard errors are given"), std::string::npos) << table;

  const std::string csv = captured(print_scan_csv, results);
  EXPECT_EQ(csv.find("nan"), std::string::npos) << csv;
  EXPECT_NE(csv.find("1,1,0.20000000000000001,NA,-1000,no,NA,NA,NA,NA,length,\n"),
            std::string::npos)
      << csv;
}

TEST(ScanReport, CsvHasOneRowPerOrderAndIntervalAndATotalRowPerOrder) {
  const std::vector<OrderResult> results = {result_of(1, {0.4, 0.6, 0.2}, 10.0, false),
                                            result_of(3, {0.6, 1.5, 0.3}, 11.0, true)};
  const std::string csv = captured(print_scan_csv, results);
  std::size_t lines = 0;
  for (const char c : csv) lines += c == '\n' ? 1 : 0;
  EXPECT_EQ(lines, 1u + 2u * 4u);
  EXPECT_EQ(csv.rfind("order,interval,length,standard_error,log_likelihood,converged,"
                      "wald_lower,wald_upper,profile_lower,profile_upper,parameter,file\n",
                      0),
            0u);
  EXPECT_NE(csv.find("\n3,2,0.25,"), std::string::npos) << csv;
  // The total row follows the order's intervals, with the total length and
  // its standard error (covariances included), or NA.
  char total[200];
  std::snprintf(total, sizeof total, "\n3,total,%.17g,%.17g,-11,yes,", results[1].total_length,
                results[1].total_standard_error);
  EXPECT_NE(csv.find(total), std::string::npos) << csv;
  EXPECT_NE(csv.find(",NA,-10,yes,NA,NA,NA,NA,total,\n3,1,"), std::string::npos) << csv;
}

TEST(ScanReport, ProgressLineNamesTheOrderTimeAndAnyLimitReached) {
  OrderResult r = result_of(4, {0.5}, 7.0, true);
  r.seconds = 1.25;
  r.fit.evaluations = 321;
  EXPECT_EQ(progress_line(r),
            "order 4: log-likelihood -7.000000 after 1 restart (321 evaluations), "
            "1.250 s");
  r.fit.restart_limit_reached = true;
  EXPECT_NE(progress_line(r).find("restart limit was reached"), std::string::npos);
}

TEST(ScanReport, LengthAtBoundHasNoWaldIntervalAndProfilesFillTheirColumns) {
  OrderResult r;
  r.order = 1;
  r.fit.parameters = {0.4, 0.0};
  r.fit.objective = 1000.0;
  set_lengths(r);
  r.at_bound = {false, true};
  DoubleMatrix covariance = dmatrix(1, 2, 1, 2);
  covariance[1][1] = 0.04;
  covariance[1][2] = covariance[2][1] = covariance[2][2] = 0.0;
  set_standard_errors(r, &covariance);
  release_dmatrix(covariance, 1, 2, 1, 2);
  r.profiled = true;
  r.profiles = {{0.1, 0.35, true}, {0.0, 0.05, true}};
  r.total_profile = {0.12, 0.4, true};
  OrderResult other = r;
  other.order = 2;
  other.log_likelihood = -1001.5;  // within the support width of the best
  other.profiled = false;
  const std::vector<OrderResult> results = {r, other};

  const std::string table = captured(print_scan_table, results);
  EXPECT_NE(table.find("       2      0.000000        at bound  -"), std::string::npos) << table;
  // The total is not at a bound: its error holds the bound length at 0.
  EXPECT_NE(table.find("   total      0.200000        0.100000  [0.004004, 0.395996]"),
            std::string::npos)
      << table;
  EXPECT_NE(table.find("[0.000000, 0.050000]"), std::string::npos) << table;
  EXPECT_NE(table.find("best): 1 2\n"), std::string::npos) << table;
  EXPECT_EQ(table.find("nan"), std::string::npos) << table;

  const std::string csv = captured(print_scan_csv, results);
  // length +- 1.959963984540054 SE, then the profile ends as given.
  EXPECT_NE(csv.find("\n1,1,0.20000000000000001,0.10000000000000001,-1000,yes,"
                     "0.0040036015459946062,0.39599639845400542,0.10000000000000001,"
                     "0.34999999999999998,length,\n"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find("\n1,2,0,NA,-1000,yes,NA,NA,0,0.050000000000000003,length,\n"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find("\n2,2,0,NA,-1001.5,yes,NA,NA,NA,NA,length,\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("\n1,total,0.20000000000000001,0.10000000000000001,-1000,yes,"
                     "0.0040036015459946062,0.39599639845400542,0.12,0.40000000000000002,total,\n"),
            std::string::npos)
      << csv;
  // Order 2 is in the support set: its lengths are printed too.
  EXPECT_NE(table.find("\nOrder p = 2, in the support set (log-likelihood -1001.500000, "
                       "-1.500000 from the best)\n"),
            std::string::npos)
      << table;
}

namespace {

// The lines of `text`.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos;
       start = end + 1, end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

}  // namespace

TEST(ScanReport, OneOrderIsNoChoiceAndZeroHasNoSignOrTrailingBlank) {
  // Codes the model cannot read give an objective of 0: the log-likelihood
  // is -0.0, which printf writes with its sign.
  const std::vector<OrderResult> results = {result_of(1, {0.0, 0.0}, 0.0, false)};
  const std::string table = captured(print_scan_table, results);
  EXPECT_EQ(table.find("-0.000000"), std::string::npos) << table;
  EXPECT_EQ(table.find(" \n"), std::string::npos) << table;
  EXPECT_EQ(table.find("Best order"), std::string::npos) << table;
  EXPECT_EQ(table.find("Support set"), std::string::npos) << table;
  EXPECT_NE(table.find("\nOrder p = 1 (log-likelihood 0.000000)\n"), std::string::npos) << table;
  // "not positive definite" is wider than the heading "standard error":
  // the Wald column starts at one place in the heading and in every row.
  std::size_t heading_at = std::string::npos;
  for (const std::string& line : lines_of(table)) {
    if (line.rfind("interval", 0) == 0) heading_at = line.find("95% Wald");
    if (line.find(" not positive definite") != std::string::npos && line.back() == '-') {
      EXPECT_EQ(line.size() - 1, heading_at) << table;
    }
  }
  EXPECT_NE(heading_at, std::string::npos) << table;
  const std::string csv = captured(print_scan_csv, results);
  EXPECT_EQ(csv.find("-0,"), std::string::npos) << csv;
}

TEST(ScanReport, AWaldIntervalOfQThatLeavesZeroToOneIsLeftOut) {
  OrderResult r = result_of(2, {0.8, 1.2}, 100.0, true);
  r.escape.fitted = true;
  r.escape.fraction = 0.05;
  r.escape.has_standard_error = true;
  r.escape.standard_error = 0.1;  // 0.05 - 1.96 * 0.1 < 0
  const std::string table = captured(print_scan_table, {r});
  EXPECT_NE(table.find("\n  escape      0.050000        0.100000  -\n"), std::string::npos)
      << table;
  EXPECT_NE(table.find("would reach past 0 or 1"), std::string::npos) << table;
  EXPECT_NE(captured(print_scan_csv, {r})
                .find("\n2,escape,0.050000000000000003,0.10000000000000001,"
                      "-100,yes,NA,NA,NA,NA,escape,\n"),
            std::string::npos);
  r.escape.standard_error = 0.01;
  EXPECT_NE(captured(print_scan_table, {r}).find("0.010000  [0.030400, 0.069600]\n"),
            std::string::npos);
}
