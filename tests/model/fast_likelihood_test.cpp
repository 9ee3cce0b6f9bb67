// The fast objective against the step-by-step one: the same bits for every
// input, including after the table or the model order change.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "model/likelihood.hpp"
#include "model/likelihood_work.hpp"
#include "model/observations.hpp"
#include "model/reference/straightforward_likelihood.hpp"
#include "tests/model/installed_table.hpp"

namespace {

// Bytes the rows are drawn from: the three codes, lower-case look-alikes and
// stray bytes, each of which must be treated as uninformative.
const std::string code_bytes = std::string("NNNNRRXnrx?") + '\0' + '\xff' + ' ';

// Identical bits, except that two NaNs only need to both be NaN: when two
// NaNs meet in one addition or multiplication the hardware returns the
// payload of the first operand, and since those operations commute the
// compiler may order the operands differently in scalar and vector code.
void expect_same_bits(double fast, double reference, const std::string& context) {
  if (std::isnan(reference)) {
    EXPECT_TRUE(std::isnan(fast)) << context << " fast " << fast;
    return;
  }
  EXPECT_EQ(std::bit_cast<std::uint64_t>(fast), std::bit_cast<std::uint64_t>(reference))
      << context << " fast " << fast << " reference " << reference;
}

void expect_fast_matches_reference(const std::vector<double>& lambdas, const std::string& context) {
  Point point(lambdas);
  const double reference = straightforward_negative_log_likelihood(point.get());
  expect_same_bits(negative_log_likelihood(point.get()), reference, context);
  // A second call reuses the cached prefix tree and working storage.
  expect_same_bits(negative_log_likelihood(point.get()), reference, context + " (again)");
}

// Rows that share prefixes: each is a copy of an earlier row (or a fresh
// one) with a random tail replaced, and some are exact repeats.
std::vector<std::string> random_rows(std::mt19937_64& random, int count, int n) {
  std::uniform_int_distribution<std::size_t> pick_code(0, code_bytes.size() - 1);
  std::uniform_int_distribution<int> pick_kind(0, 9);
  std::vector<std::string> rows;
  for (int i = 0; i < count; ++i) {
    std::string row;
    const int kind = pick_kind(random);
    if (rows.empty() || kind < 2) {
      for (int t = 0; t < n; ++t) row += code_bytes[pick_code(random)];
    } else {
      row = rows[std::uniform_int_distribution<std::size_t>(0, rows.size() - 1)(random)];
      if (kind >= 4) {
        const int keep = std::uniform_int_distribution<int>(0, n - 1)(random);
        for (int t = keep; t < n; ++t) {
          if (kind >= 7 || t == keep) {
            row[static_cast<std::size_t>(t)] = code_bytes[pick_code(random)];
          }
        }
      }
    }
    rows.push_back(row);
  }
  return rows;
}

// Parameters mostly ordinary, with zeros, tiny and subnormal values, large
// ones, negatives and NaN mixed in at the given rate (out of 100).
std::vector<double> random_parameters(std::mt19937_64& random, int n, int special_rate) {
  std::uniform_int_distribution<int> percent(0, 99);
  std::uniform_int_distribution<int> pick_special(0, 6);
  std::uniform_real_distribution<double> ordinary(0.01, 3.0);
  std::vector<double> lambdas;
  for (int t = 0; t < n; ++t) {
    double value = ordinary(random);
    if (percent(random) < special_rate) {
      switch (pick_special(random)) {
        case 0:
          value = 0.0;
          break;
        case 1:
          value = 1e-300;
          break;
        case 2:
          value = std::numeric_limits<double>::denorm_min() * 12345.0;
          break;
        case 3:
          value = std::uniform_real_distribution<double>(10.0, 60.0)(random);
          break;
        case 4:
          value = -std::uniform_real_distribution<double>(0.01, 2.0)(random);
          break;
        case 5:
          value = std::numeric_limits<double>::quiet_NaN();
          break;
        default:
          value = -0.0;
          break;
      }
    }
    lambdas.push_back(value);
  }
  return lambdas;
}

struct Case {
  int p;
  int n;
  int count;
  int special_rate;
};

void run_random_cases(const std::vector<Case>& cases, std::uint64_t stream) {
  std::mt19937_64 random(stream);
  for (const Case& c : cases) {
    const std::string context = "p " + std::to_string(c.p) + " n " + std::to_string(c.n) +
                                " count " + std::to_string(c.count);
    InstalledTable table(random_rows(random, c.count, c.n), c.n);
    model_order = c.p;
    for (int trial = 0; trial < 3; ++trial) {
      expect_fast_matches_reference(random_parameters(random, c.n, c.special_rate),
                                    context + " trial " + std::to_string(trial));
    }
  }
}

TEST(FastObjective, MatchesTheReferenceBitForBitAcrossOrdersAndSizes) {
  std::vector<Case> cases;
  std::mt19937_64 sizes(20240611);
  for (int p = 1; p <= 8; ++p) {
    for (int repeat = 0; repeat < 8; ++repeat) {
      const int n = std::uniform_int_distribution<int>(1, 40)(sizes);
      // Keep the reference's cost (count x n x p) small.
      const int count = std::uniform_int_distribution<int>(0, 1 + 2500 / (n * p))(sizes);
      cases.push_back({p, n, count, repeat == 0 ? 0 : 15});
    }
  }
  run_random_cases(cases, 1);
}

TEST(FastObjective, MatchesTheReferenceOnTablesOfThousandsOfRows) {
  run_random_cases({{1, 3, 3000, 0}, {2, 2, 2500, 10}, {3, 4, 1500, 0}, {1, 1, 4000, 20}}, 2);
}

TEST(FastObjective, MatchesTheReferenceWhenEveryParameterIsSpecial) {
  // Zero, subnormal, huge, negative and NaN intervals meeting weights of 0,
  // infinity and NaN in the recursion: the zero-weight shortcut must only
  // apply where it leaves the bits alone.
  run_random_cases(
      {{1, 6, 30, 100}, {2, 8, 30, 100}, {3, 5, 20, 100}, {5, 6, 10, 100}, {8, 4, 8, 100}}, 3);
  std::mt19937_64 random(4);
  const std::vector<std::vector<double>> points = {
      {0.0, 0.0, 0.0},    {1e-300, 1e-300, 1e-300},
      {60.0, 60.0, 60.0}, {700.0, 800.0, 1e308},
      {-1.0, -2.0, -0.5}, {std::numeric_limits<double>::infinity(), 1.0, 1.0}};
  for (int p = 1; p <= 5; ++p) {
    InstalledTable table(random_rows(random, 25, 3), 3);
    model_order = p;
    for (const auto& point : points) expect_fast_matches_reference(point, "p " + std::to_string(p));
  }
}

TEST(FastObjective, ReplacedTableInTheSameStorageIsNotServedFromStaleWork) {
  std::mt19937_64 random(5);
  const int n = 6;
  InstalledTable table(random_rows(random, 40, n), n);
  model_order = 2;
  const std::vector<double> lambdas = random_parameters(random, n, 0);
  expect_fast_matches_reference(lambdas, "first table");

  // New codes written into the same bytes, announced through set_observations.
  ObservationTable codes = table.table();
  for (int i = 0; i < 40 * n; ++i) codes[i] = (i % 3 == 0) ? 'R' : 'N';
  set_observations(codes, 40, n);
  expect_fast_matches_reference(lambdas, "rewritten table");

  // Fewer rows, then a different row length over the same storage.
  set_observations(codes, 13, n);
  expect_fast_matches_reference(lambdas, "fewer rows");
  set_observations(codes, 40, n - 2);
  expect_fast_matches_reference({lambdas.begin(), lambdas.end() - 2}, "shorter rows");
}

TEST(FastObjective, ChangedModelOrderIsNotServedFromStaleWork) {
  std::mt19937_64 random(6);
  const int n = 7;
  InstalledTable table(random_rows(random, 60, n), n);
  const std::vector<double> lambdas = random_parameters(random, n, 0);
  for (const int p : {2, 5, 2, 1, 8, 3}) {
    model_order = p;
    expect_fast_matches_reference(lambdas, "p " + std::to_string(p));
  }
}

TEST(FastObjective, EachDistinctPrefixCostsOneForwardStep) {
  model_order = 2;
  Point point({0.5, 0.5, 0.5});
  {
    InstalledTable table({"NRX", "NRX", "NRX", "NRX"}, 3);
    negative_log_likelihood(point.get());
    EXPECT_EQ(last_likelihood_work().distinct_rows, 1);
    EXPECT_EQ(last_likelihood_work().forward_steps, 3);
  }
  {
    // Prefixes N, R; NN, NR, RN; and the four rows: nine steps.  Lower-case
    // and stray bytes share the uninformative code, so "n?" is "?n".
    InstalledTable table({"NNN", "RNN", "NRN", "NNR", "RNN", "NNN"}, 3);
    negative_log_likelihood(point.get());
    EXPECT_EQ(last_likelihood_work().distinct_rows, 4);
    EXPECT_EQ(last_likelihood_work().forward_steps, 9);
  }
  {
    InstalledTable table({"n?x", "?nx", "x?n"}, 3);
    negative_log_likelihood(point.get());
    EXPECT_EQ(last_likelihood_work().distinct_rows, 1);
  }
}

}  // namespace
