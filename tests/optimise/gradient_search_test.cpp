// The searches with derivatives on objectives whose answers are known in
// closed form: a quadratic bowl (its profile intervals are the Wald
// intervals of its covariance, cut at the bound), a bowl whose minimum lies
// beyond the bound, and the model's own likelihood against the fitting
// program's search.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "optimise/gradient_fit.hpp"
#include "optimise/gradient_information.hpp"
#include "optimise/profile_likelihood.hpp"

namespace {

// f(x) = (x - mu)^T A (x - mu) / 2 with
//   A = [[25, 5, 0], [5, 12, 0], [0, 0, 100]],
// whose inverse, the covariance, is [[12, -5], [-5, 25]] / 275 in the first
// block and 1/100 in the last.
struct Bowl {
  std::vector<double> mu;
  double operator()(const std::vector<double>& x, std::vector<double>& g) const {
    const double a[3][3] = {{25, 5, 0}, {5, 12, 0}, {0, 0, 100}};
    double value = 0.0;
    g.assign(3, 0.0);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) {
        const double term =
            a[i][j] * (x[static_cast<std::size_t>(j)] - mu[static_cast<std::size_t>(j)]);
        g[static_cast<std::size_t>(i)] += term;
        value += 0.5 * (x[static_cast<std::size_t>(i)] - mu[static_cast<std::size_t>(i)]) * term;
      }
    }
    return value;
  }
};

const double covariance[3][3] = {
    {12.0 / 275, -5.0 / 275, 0}, {-5.0 / 275, 25.0 / 275, 0}, {0, 0, 1.0 / 100}};
const double z = 1.959963984540054;
// The profile ends are accepted within 1e-5 standard errors (about 3e-6
// here), and the refits are good to far better.
constexpr double end_tolerance = 1e-4;
// Central differences of a linear gradient are exact up to rounding.
constexpr double covariance_tolerance = 1e-8;

TEST(GradientSearch, ProfileIntervalsOfABowlAreItsWaldIntervalsCutAtZero) {
  const Bowl bowl{{1.0, 0.55, 2.0}};
  const ObjectiveWithGradient f = bowl;
  const OrderFit fit = fit_with_gradient(f, 3, 0.5);
  ASSERT_TRUE(fit.converged());
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(fit.parameters[static_cast<std::size_t>(i)], bowl.mu[static_cast<std::size_t>(i)],
                1e-7);
  }

  // Coordinate 1: the bound is far away; mu +- z sd.
  const double sd1 = std::sqrt(covariance[0][0]);
  const ProfileInterval first = profile_interval(f, fit.parameters, 0, 0.1);
  EXPECT_TRUE(first.found);
  EXPECT_NEAR(first.lower, 1.0 - z * sd1, end_tolerance);
  EXPECT_NEAR(first.upper, 1.0 + z * sd1, end_tolerance);
  EXPECT_FALSE(first.lower_at_zero);
  // r is linear in a bowl, so from the first refit the slope points at the
  // end exactly: two refits an end (the bracket and secant take four).
  EXPECT_LE(first.refits, 4);

  // Coordinate 2: mu - z sd is below 0, where the profile is still inside.
  const double sd2 = std::sqrt(covariance[1][1]);
  ASSERT_LT(0.55 - z * sd2, 0.0);
  const ProfileInterval second = profile_interval(f, fit.parameters, 1, 0.05);
  EXPECT_TRUE(second.found);
  EXPECT_TRUE(second.lower_at_zero);
  EXPECT_EQ(second.lower, 0.0);
  EXPECT_NEAR(second.upper, 0.55 + z * sd2, end_tolerance);

  // The sum: 1^T Cov 1 is its variance; the constrained refits keep every
  // coordinate inside the bounds here.
  double variance = 0.0;
  for (const auto& row : covariance) {
    for (const double c : row) variance += c;
  }
  const ProfileInterval total = profile_interval(f, fit.parameters, std::nullopt, 0.5);
  EXPECT_TRUE(total.found);
  EXPECT_NEAR(total.lower, 3.55 - z * std::sqrt(variance), end_tolerance);
  EXPECT_NEAR(total.upper, 3.55 + z * std::sqrt(variance), end_tolerance);
  // The sum's slope is the multiplier of its constraint.
  EXPECT_LE(total.refits, 4);
}

TEST(GradientSearch, AParameterOnTheBoundGetsNoErrorAndTheOthersTheirOwnBlock) {
  // The minimum lies at x2 = -0.2; on the bound the fit holds x2 = 0 and the
  // others move to minimise the rest.
  const Bowl bowl{{1.0, -0.2, 2.0}};
  const ObjectiveWithGradient f = bowl;
  const OrderFit fit = fit_with_gradient(f, 3, 0.5);
  ASSERT_TRUE(fit.converged());
  EXPECT_EQ(fit.parameters[1], 0.0);
  // d/dx1 = 25 (x1 - 1) + 5 (0 + 0.2) = 0
  EXPECT_NEAR(fit.parameters[0], 1.0 - 0.04, 1e-7);

  const ParameterCovariance result = covariance_from_gradient(f, fit.parameters);
  EXPECT_EQ(result.at_bound, (std::vector<bool>{false, true, false}));
  ASSERT_TRUE(result.positive_definite);
  // The free block of A is diag(25, 100): its inverse, not the full Cov.
  EXPECT_NEAR(result.covariance[0], 1.0 / 25, covariance_tolerance);
  EXPECT_NEAR(result.covariance[8], 1.0 / 100, covariance_tolerance);
  EXPECT_EQ(result.covariance[4], 0.0);

  // Away from the bound the full covariance comes back.
  const ParameterCovariance inside = covariance_from_gradient(f, {1.0, 0.55, 2.0});
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      EXPECT_NEAR(inside.covariance[static_cast<std::size_t>(3 * i + j)], covariance[i][j],
                  covariance_tolerance);
    }
  }
}

// Minus the log-likelihood of 30 events in 10 units of exposure at rate x,
// 10 x - 30 log x, whose profile deviance 2 (f(v) - f(3)) is far from a
// parabola, plus a bowl in a second coordinate that every refit must
// settle.  The profile of x is the first term alone.
double skewed_deviance(double v) {
  return 2.0 * ((10.0 * v - 30.0 * std::log(v)) - (30.0 - 30.0 * std::log(3.0)));
}

double skewed(const std::vector<double>& x, std::vector<double>& g) {
  g.assign(2, 0.0);
  g[0] = 10.0 - 30.0 / x[0];
  g[1] = 100.0 * (x[1] - 1.0);
  return (10.0 * x[0] - 30.0 * std::log(x[0])) + 50.0 * (x[1] - 1.0) * (x[1] - 1.0);
}

// The root of skewed_deviance(v) = 3.841 between a and b, by plain
// bisection: the yardstick of the profile's own root search.
double deviance_crossing(double a, double b) {
  for (int k = 0; k < 200; ++k) {
    const double m = 0.5 * (a + b);
    ((skewed_deviance(m) < profile_threshold_95) == (skewed_deviance(a) < profile_threshold_95)
         ? a
         : b) = m;
  }
  return 0.5 * (a + b);
}

TEST(GradientSearch, ProfileEndsOfASkewedLikelihoodAreItsDevianceCrossings) {
  const ObjectiveWithGradient f = skewed;
  const std::vector<double> fitted = {3.0, 1.0};
  const double lower = deviance_crossing(0.5, 3.0);
  const double upper = deviance_crossing(3.0, 20.0);
  // A first step far beyond the ends: the bracket is wide and r bends, so
  // secant steps leave it and the bisection must take over.
  for (const double step : {0.1, 2.9, 12.0}) {
    const ProfileInterval interval = profile_interval(f, fitted, 0, step);
    EXPECT_TRUE(interval.found) << step;
    // r within 1e-5 of z, r' ~ 1 per standard error (~0.55 here).
    EXPECT_NEAR(interval.lower, lower, 1e-3) << step;
    EXPECT_NEAR(interval.upper, upper, 1e-3) << step;
  }
}

TEST(GradientSearch, AProfileThatStaysLowUpToTheUpperBoundEndsThere) {
  // Flat in the second coordinate, which is bounded by 1: its interval
  // runs to the bound.
  const ObjectiveWithGradient f = [](const std::vector<double>& x, std::vector<double>& g) {
    g.assign(2, 0.0);
    g[0] = 50.0 * (x[0] - 2.0);
    g[1] = 0.2 * (x[1] - 0.8);
    return 25.0 * (x[0] - 2.0) * (x[0] - 2.0) + 0.1 * (x[1] - 0.8) * (x[1] - 0.8);
  };
  BoundedSearchSettings bounds;
  bounds.upper_bounds = {std::numeric_limits<double>::infinity(), 1.0};
  const ProfileInterval interval = profile_interval(f, {2.0, 0.8}, 1, 0.05, bounds);
  EXPECT_TRUE(interval.found);
  EXPECT_TRUE(interval.upper_at_bound);
  EXPECT_EQ(interval.upper, 1.0);
  EXPECT_TRUE(interval.lower_at_zero);
  EXPECT_EQ(interval.lower, 0.0);
}

TEST(GradientSearch, ASearchStoppedByItsEvaluationLimitSaysSo) {
  const Bowl bowl{{1.0, 0.55, 2.0}};
  BoundedSearchSettings settings;
  settings.evaluation_limit = 3;
  const BoundedSearchResult search = minimise_bounded(bowl, {40.0, 40.0, 40.0}, settings);
  EXPECT_EQ(search.outcome, SearchOutcome::evaluation_limit);
  // The start is evaluated once before the library takes over.
  EXPECT_LE(search.evaluations, 3 + 1);
  // And a fit ended that way is not converged.
  settings.evaluation_limit = search_evaluation_limit;
  EXPECT_EQ(minimise_bounded(bowl, {40.0, 40.0, 40.0}, settings).outcome, SearchOutcome::converged);
}

}  // namespace
