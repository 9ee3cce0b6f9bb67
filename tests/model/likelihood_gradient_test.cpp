// The exact gradient against central differences of the model's objective
// (the fitting program's negative_log_likelihood, computed per state rather
// than per class, so an independent evaluation of the same model).
#include "model/likelihood_gradient.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "model/likelihood.hpp"
#include "model/observations.hpp"
#include "tests/model/installed_table.hpp"

namespace {

// Central-difference step, relative to max(lambda, 1): the truncation error
// is O(h^2 f''') and the rounding error O(eps |f| / h); with |f| ~ 100 and
// derivatives of order 100, h = 1e-5 puts both near 1e-8.
constexpr double difference_step = 1e-5;
// Worst relative error allowed, |exact - difference| / max(|difference|, 1):
// a hundred times the expected 1e-8, far below any real fault (a missing
// term or a wrong sign is an error of order 1).
constexpr double gradient_tolerance = 1e-6;
// The class-level value against the state-level objective: the same sums in
// another order, a few hundred roundings of numbers near 1.
constexpr double value_tolerance = 1e-12;

TEST(LikelihoodGradient, MatchesCentralDifferencesOfTheObjectiveForOrdersOneToEight) {
  std::mt19937_64 engine(20261208);
  for (int p = 1; p <= 8; ++p) {
    const int n = 1 + p % 4;
    InstalledTable table(random_code_rows(engine, 40, n), n);
    model_order = p;
    // Lengths 0.02..0.5, as parameters 2p times that.
    std::uniform_real_distribution<double> length(0.02, 0.5);
    double worst = 0.0;
    for (int trial = 0; trial < 5; ++trial) {
      std::vector<double> lambdas(static_cast<std::size_t>(n));
      for (double& lambda : lambdas) lambda = 2.0 * p * length(engine);
      Point point(lambdas);
      Point gradient(std::vector<double>(lambdas.size(), 0.0));
      const double value = negative_log_likelihood_and_gradient(point.get(), gradient.get());
      const double reference = negative_log_likelihood(point.get());
      EXPECT_NEAR(value / reference, 1.0, value_tolerance) << p;
      for (int t = 1; t <= n; ++t) {
        const double x = point.get()[t];
        const double h = difference_step * std::max(x, 1.0);
        point.get()[t] = x + h;
        const double up = negative_log_likelihood(point.get());
        point.get()[t] = x - h;
        const double down = negative_log_likelihood(point.get());
        point.get()[t] = x;
        const double difference = (up - down) / (2.0 * h);
        const double exact = gradient.get()[t];
        worst =
            std::max(worst, std::fabs(exact - difference) / std::max(std::fabs(difference), 1.0));
      }
    }
    std::printf("order %d: worst relative error %.2e\n", p, worst);
    EXPECT_LT(worst, gradient_tolerance) << p;
  }
}

TEST(LikelihoodGradient, ZeroLengthHasTheOneSidedSlopeAndHighOrdersStayFinite) {
  // At lambda = 0 the exact derivative is the right-hand one; it must agree
  // with a forward difference there, the only one defined.
  InstalledTable table({"NRN", "RNX", "N-R", "XXN"}, 3);
  model_order = 2;
  Point point({0.0, 1.5, 0.7});
  Point gradient({0.0, 0.0, 0.0});
  negative_log_likelihood_and_gradient(point.get(), gradient.get());
  const double h = 1e-7;
  const double base = negative_log_likelihood(point.get());
  point.get()[1] = h;
  const double forward = (negative_log_likelihood(point.get()) - base) / h;
  EXPECT_NEAR(gradient.get()[1], forward, 1e-5 * std::max(1.0, std::fabs(forward)));

  // Order 100 with lengths near 0.25: counts up to 899, no NaN anywhere.
  model_order = 100;
  Point high({50.0, 45.0, 55.0});
  const double value = negative_log_likelihood_and_gradient(high.get(), gradient.get());
  EXPECT_TRUE(std::isfinite(value));
  EXPECT_NEAR(value / negative_log_likelihood(high.get()), 1.0, value_tolerance);
  for (int t = 1; t <= 3; ++t) EXPECT_TRUE(std::isfinite(gradient.get()[t])) << t;
}

}  // namespace
