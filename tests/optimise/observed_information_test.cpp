// The observed information by second differences (the simplex scan's),
// on functions whose Hessian is known in closed form.
#include "optimise/reference/observed_information.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "optimise/positive_definite_inverse.hpp"

namespace {

// Central differences with h ~ 1e-4 |x| leave a truncation error of order
// h^2 f'''' (none for a quadratic) and a rounding error of order
// eps |f| / h^2 ~ 1e-16 * 100 / 1e-8 ~ 1e-6 for the values used here.
constexpr double difference_tolerance = 1e-5;

int negative_coordinate_calls = 0;

// A correlated bowl: 100 + (x - c)^T A (x - c) / 2 with A below.
const std::vector<std::vector<double>> bowl_hessian = {
    {4.0, 1.5, -0.8}, {1.5, 3.0, 0.6}, {-0.8, 0.6, 2.5}};
const double bowl_centre[] = {0.7, 1.3, 0.4};

double correlated_bowl(DoubleVector x) {
  double value = 0.0;
  for (int i = 1; i <= 3; ++i) {
    if (x[i] < 0.0) ++negative_coordinate_calls;
    for (int j = 1; j <= 3; ++j) {
      value += 0.5 * (x[i] - bowl_centre[i - 1]) *
               bowl_hessian[static_cast<std::size_t>(i - 1)][static_cast<std::size_t>(j - 1)] *
               (x[j] - bowl_centre[j - 1]);
    }
  }
  return 100.0 + value;
}

// Counts y1 ~ Poisson(m l1) and y2 ~ Poisson(m (l1 + l2)): minus the
// log-likelihood, without the constant log(y!) terms, is
//   m l1 - y1 log(m l1) + m s - y2 log(m s),  s = l1 + l2,
// and its Hessian is [[y1/l1^2 + y2/s^2, y2/s^2], [y2/s^2, y2/s^2]]
// everywhere, with correlation between the two parameters.
constexpr double exposure = 50.0;
constexpr double first_count = 30.0;
constexpr double second_count = 85.0;

double two_poisson_counts(DoubleVector x) {
  if (x[1] < 0.0 || x[2] < 0.0) ++negative_coordinate_calls;
  const double s = x[1] + x[2];
  return exposure * x[1] - first_count * std::log(exposure * x[1]) + exposure * s -
         second_count * std::log(exposure * s);
}

// Independent Poisson counts: three intervals, each observed m times with
// total count S_t; the information at the maximum (l_t = S_t / m) is m / l_t.
constexpr double repeats = 400.0;
const double totals[] = {120.0, 260.0, 35.0};

double independent_poisson_counts(DoubleVector x) {
  double value = 0.0;
  for (int t = 1; t <= 3; ++t) value += repeats * x[t] - totals[t - 1] * std::log(x[t]);
  return value;
}

}  // namespace

TEST(ObservedInformation, RecoversACorrelatedQuadraticsMatrix) {
  DoubleVector x = dvector(1, 3);
  x[1] = 0.9;
  x[2] = 1.1;
  x[3] = 0.5;
  DoubleMatrix information = dmatrix(1, 3, 1, 3);
  observed_information(correlated_bowl, x, correlated_bowl(x), 3, information);
  for (int i = 1; i <= 3; ++i) {
    for (int j = 1; j <= 3; ++j) {
      EXPECT_NEAR(information[i][j],
                  bowl_hessian[static_cast<std::size_t>(i - 1)][static_cast<std::size_t>(j - 1)],
                  difference_tolerance)
          << i << "," << j;
      EXPECT_EQ(information[i][j], information[j][i]);
    }
  }
  release_dmatrix(information, 1, 3, 1, 3);
  release_dvector(x, 1, 3);
}

TEST(ObservedInformation, MatchesTheClosedFormOfCorrelatedPoissonCountsAwayFromTheOptimum) {
  DoubleVector x = dvector(1, 2);
  x[1] = 0.8;
  x[2] = 0.9;
  DoubleMatrix information = dmatrix(1, 2, 1, 2);
  observed_information(two_poisson_counts, x, two_poisson_counts(x), 2, information);
  const double s = x[1] + x[2];
  const double shared = second_count / (s * s);
  const double relative = 1e-6;
  EXPECT_NEAR(information[1][1], first_count / (x[1] * x[1]) + shared,
              relative * information[1][1]);
  EXPECT_NEAR(information[1][2], shared, relative * shared);
  EXPECT_NEAR(information[2][2], shared, relative * shared);
  release_dmatrix(information, 1, 2, 1, 2);
  release_dvector(x, 1, 2);
}

TEST(ObservedInformation, InverseAtThePoissonMaximumIsTheTextbookVarianceOfAMean) {
  DoubleVector x = dvector(1, 3);
  for (int t = 1; t <= 3; ++t) x[t] = totals[t - 1] / repeats;
  DoubleMatrix information = dmatrix(1, 3, 1, 3);
  DoubleMatrix covariance = dmatrix(1, 3, 1, 3);
  observed_information(independent_poisson_counts, x, independent_poisson_counts(x), 3,
                       information);
  ASSERT_TRUE(invert_positive_definite(information, 3, covariance));
  for (int t = 1; t <= 3; ++t) {
    // Var(mean of m Poisson(l) counts) = l / m.
    const double variance = x[t] / repeats;
    EXPECT_NEAR(covariance[t][t], variance, 1e-6 * variance);
    for (int u = 1; u <= 3; ++u) {
      if (u != t) {
        EXPECT_NEAR(covariance[t][u], 0.0, 1e-8 * variance);
      }
    }
  }
  release_dmatrix(covariance, 1, 3, 1, 3);
  release_dmatrix(information, 1, 3, 1, 3);
  release_dvector(x, 1, 3);
}

TEST(ObservedInformation, DifferencesForwardAtZeroWithoutEvaluatingBelowZero) {
  DoubleVector x = dvector(1, 3);
  x[1] = 0.0;
  x[2] = 1.1;
  x[3] = difference_step_for(0.0) / 2;  // too close to 0 for a central step
  DoubleMatrix information = dmatrix(1, 3, 1, 3);
  negative_coordinate_calls = 0;
  observed_information(correlated_bowl, x, correlated_bowl(x), 3, information);
  EXPECT_EQ(negative_coordinate_calls, 0);
  // A forward second difference is exact for a quadratic but for rounding
  // against the smallest step (h = 2^-16 near 0): about 1e-14 / 2e-10.
  for (int i = 1; i <= 3; ++i) {
    for (int j = 1; j <= 3; ++j) {
      EXPECT_NEAR(information[i][j],
                  bowl_hessian[static_cast<std::size_t>(i - 1)][static_cast<std::size_t>(j - 1)],
                  1e-3)
          << i << "," << j;
    }
  }
  release_dmatrix(information, 1, 3, 1, 3);
  release_dvector(x, 1, 3);
}

TEST(ObservedInformation, StepsArePowersOfTwoScaledToTheCoordinate) {
  for (const double coordinate : {0.0, 0.003, 0.5, 7.0, 1234.0}) {
    const double h = difference_step_for(coordinate);
    int exponent = 0;
    EXPECT_EQ(std::frexp(h, &exponent), 0.5) << coordinate;
    const double target = relative_step * std::fmax(coordinate, step_scale_floor);
    EXPECT_LE(h, target * std::sqrt(2.0)) << coordinate;
    EXPECT_GE(h, target / std::sqrt(2.0)) << coordinate;
  }
}
