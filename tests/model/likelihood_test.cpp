// Known values and structural facts of the objective, checked on both the
// fast evaluation and the step-by-step one.
#include "model/likelihood.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "model/observations.hpp"
#include "model/reference/straightforward_likelihood.hpp"
#include "optimise/objective_function.hpp"
#include "tests/model/installed_table.hpp"

namespace {

// Values quoted to ten significant digits: half a unit of the last digit.
constexpr double ten_digits = 5e-11;
// Likelihood identities below hold exactly in real arithmetic; a handful of
// roundings over at most a few hundred terms stay far below this.
constexpr double identity_tolerance = 1e-13;
// A value quoted to five decimals: half a unit of the last.
constexpr double five_decimals = 5e-6;
// -log of a likelihood that is 1 up to the rounding of a few sums of
// weights: a few units in the last place of 1.
constexpr double rounding_of_one = 1e-15;

class Objective : public ::testing::TestWithParam<ObjectiveFunction> {
 protected:
  // The objective of the given rows at the given parameters, order p.
  static double evaluate(const std::vector<std::string>& rows, const std::vector<double>& lambdas,
                         int p) {
    InstalledTable table(rows, static_cast<int>(lambdas.size()));
    model_order = p;
    Point point(lambdas);
    return GetParam()(point.get());
  }
  // The likelihood of one row.
  static double likelihood(const std::string& row, const std::vector<double>& lambdas, int p) {
    return std::exp(-evaluate({row}, lambdas, p));
  }
};

TEST_P(Objective, OrderOneSingleIntervalMatchesTheClosedForm) {
  EXPECT_NEAR(evaluate({"N"}, {1.0}, 1), 0.2996961038, ten_digits);
  EXPECT_NEAR(evaluate({"R"}, {1.0}, 1), 1.3510947476, ten_digits);
  // N: (2 + e^(-1.5 lambda)) / 3, R: (1 - e^(-1.5 lambda)) / 3, where the
  // truncation at 18 events is invisible.
  for (const double lambda : {0.1, 0.7, 1.2}) {
    const double decay = std::exp(-1.5 * lambda);
    EXPECT_NEAR(likelihood("N", {lambda}, 1), (2.0 + decay) / 3.0, identity_tolerance);
    EXPECT_NEAR(likelihood("R", {lambda}, 1), (1.0 - decay) / 3.0, identity_tolerance);
  }
}

TEST_P(Objective, LargeRateLosesTheMassBeyondTheWrapLimit) {
  EXPECT_NEAR(evaluate({"?"}, {30.0}, 4), 0.26497, five_decimals);
}

TEST_P(Objective, HighOrdersWithOrdinaryLengthsGiveFiniteValues) {
  // Order 30 with lengths 0.3, 0.25 and 0.2: event counts reach 269, where
  // lambda^k and k! both overflow.  An uninformative row keeps likelihood 1.
  const std::vector<double> lambdas = {18.0, 15.0, 12.0};
  const double value = evaluate({"NRX", "RRN", "XNN"}, lambdas, 30);
  EXPECT_TRUE(std::isfinite(value));
  EXPECT_GT(value, 0.0);
  // Its terms come from the log-gamma series, good to about 1e-10 each.
  EXPECT_NEAR(evaluate({"???"}, lambdas, 30), 0.0, 1e-9);
}

TEST_P(Objective, UninformativeRowsHaveLikelihoodOneUpToTruncation) {
  const std::vector<double> lambdas = {0.8, 0.1, 1.5, 0.0, 0.6, 1.1};
  for (int p = 1; p <= 6; ++p) {
    EXPECT_NEAR(evaluate({"??????", "nrx\x01\xff "}, lambdas, p), 0.0, identity_tolerance) << p;
  }
}

TEST_P(Objective, ZeroParametersKeepTheChainInClassOneSix) {
  const std::vector<double> zeros(4, 0.0);
  for (int p = 1; p <= 4; ++p) {
    EXPECT_NEAR(evaluate({"NNNN", "NXNN"}, zeros, p), 0.0, rounding_of_one) << p;
    EXPECT_EQ(evaluate({"NNNN", "NNRN", "NNNN"}, zeros, p), std::numeric_limits<double>::infinity())
        << p;
  }
}

TEST_P(Objective, NoObservationsGiveZero) {
  const double value = evaluate({}, {0.3, 0.5}, 2);
  EXPECT_EQ(value, 0.0);
  EXPECT_FALSE(std::signbit(value));
}

TEST_P(Objective, LowerCaseCodesCarryNoInformation) {
  const std::vector<double> lambdas = {0.4, 0.9, 0.2};
  for (int p = 1; p <= 3; ++p) {
    const double lower = evaluate({"nrx", "xxn"}, lambdas, p);
    EXPECT_EQ(lower, evaluate({"???", "???"}, lambdas, p)) << p;
    EXPECT_NE(lower, evaluate({"NRX", "XXN"}, lambdas, p)) << p;
  }
}

TEST_P(Objective, EmissionsSplitEveryPositionBetweenTheClasses) {
  // At any one interval, N and R together cover every sub-state once and X
  // is N plus half of R, so likelihoods add up the same way.
  const std::vector<double> lambdas = {0.5, 1.3, 0.2, 2.2, 0.9};
  for (int p = 1; p <= 4; ++p) {
    for (int position = 0; position < 5; ++position) {
      std::string row = "NXRN?";
      auto with = [&](char code) {
        row[static_cast<std::size_t>(position)] = code;
        return likelihood(row, lambdas, p);
      };
      const double n_code = with('N');
      const double r_code = with('R');
      EXPECT_NEAR(n_code + r_code, with('?'), identity_tolerance) << p << " " << position;
      EXPECT_NEAR(n_code + 0.5 * r_code, with('X'), identity_tolerance) << p << " " << position;
    }
  }
}

TEST_P(Objective, ObservationsAddTheirNegativeLogLikelihoods) {
  const std::vector<double> lambdas = {0.5, 1.3, 0.2};
  for (int p = 1; p <= 3; ++p) {
    const double first = evaluate({"NRX"}, lambdas, p);
    const double second = evaluate({"RRN"}, lambdas, p);
    EXPECT_EQ(evaluate({"NRX", "RRN", "NRX"}, lambdas, p), first + second + first) << p;
  }
}

INSTANTIATE_TEST_SUITE_P(Fast, Objective, ::testing::Values(&negative_log_likelihood));
INSTANTIATE_TEST_SUITE_P(Straightforward, Objective,
                         ::testing::Values(&straightforward_negative_log_likelihood));

}  // namespace
