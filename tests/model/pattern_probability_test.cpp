// The joint probability of two readings, the pattern row with no
// information elsewhere, against the sum of the likelihoods of every full
// row of readings that agrees with it: the likelihood of the installed
// one-row table, by the step-by-step evaluation without escape and by the
// evaluation with escape otherwise.
#include "model/pattern_probability.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "model/likelihood_gradient.hpp"
#include "model/observations.hpp"
#include "model/reference/straightforward_likelihood.hpp"
#include "tests/model/installed_table.hpp"

namespace {

// Both sides are sums of a few products of the same transition entries,
// added in another order, and the full rows pass through log and exp:
// their rounding is near 1e-15 relative.
constexpr double relative_tolerance = 1e-12;

// The likelihood of one full row, read from the installed one-row table.
double row_likelihood(const std::string& row, int p, const std::vector<double>& parameters,
                      double q) {
  const int n = static_cast<int>(row.size());
  const InstalledTable table({row}, n);
  if (q == 0.0) {
    model_order = p;
    const Point point(parameters);
    return std::exp(-straightforward_negative_log_likelihood(point.get()));
  }
  std::vector<double> point = parameters;
  point.push_back(q);
  std::vector<double> gradient;
  return std::exp(-negative_log_likelihood_and_gradient_with_escape(p, point, gradient));
}

TEST(PatternProbability, PairFrequenciesAreSumsOverTheFullRowsThatAgree) {
  const int n = 4;
  const std::vector<double> parameters = {0.8, 2.5, 0.3, 4.1};
  for (const int p : {1, 2, 3}) {
    for (const double q : {0.0, 0.35}) {
      const PatternModel model(p, parameters, q);
      const std::vector<PairProbabilities> pairs = pair_probabilities(model);
      ASSERT_EQ(pairs.size(), static_cast<std::size_t>(n * (n - 1) / 2));
      // Every full row of readings, once; its likelihood adds to the cell
      // of each pair it agrees with.
      std::vector<PairProbabilities> sums = pairs;
      for (PairProbabilities& sum : sums) sum = {sum.first, sum.second, {}};
      for (int pattern = 0; pattern < (1 << n); ++pattern) {
        std::string row(static_cast<std::size_t>(n), ' ');
        for (int t = 0; t < n; ++t)
          row[static_cast<std::size_t>(t)] = reading_code[(pattern >> t) & 1];
        const double likelihood = row_likelihood(row, p, parameters, q);
        for (PairProbabilities& sum : sums) {
          sum.cell[(pattern >> (sum.first - 1)) & 1][(pattern >> (sum.second - 1)) & 1] +=
              likelihood;
        }
      }
      for (std::size_t k = 0; k < pairs.size(); ++k) {
        for (int a = 0; a < reading_count; ++a) {
          for (int b = 0; b < reading_count; ++b) {
            const double expected = sums[k].cell[a][b];
            EXPECT_NEAR(pairs[k].cell[a][b], expected, relative_tolerance * expected)
                << "p " << p << " q " << q << " pair " << pairs[k].first << "," << pairs[k].second
                << " cell " << a << b;
          }
        }
      }
    }
  }
}

}  // namespace
