// The misread rate e: the model without misreads at e = 0 to the bit, the
// value against an independent sum over the true readings, and the exact
// slope in e against differences, at e = 0 (where some factors vanish)
// and inside.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "model/likelihood_gradient.hpp"
#include "model/pattern_probability.hpp"
#include "tests/model/installed_table.hpp"

namespace {

constexpr double difference_step = 1e-5;
// At e = 0 the one-sided difference's truncation, h^2 f''' / 3, is the
// larger error (a row whose likelihood at e = 0 is small curves sharply in
// e), so its step is shorter; rounding is then near 1e-9.
constexpr double boundary_step = 1e-6;
constexpr double gradient_tolerance = 1e-6;
// The two values sum the same few dozen products in different orders.
constexpr double value_tolerance = 1e-12;

std::vector<double> random_point(std::mt19937_64& engine, int p, int n) {
  std::uniform_real_distribution<double> length(0.02, 0.5);
  std::vector<double> x(static_cast<std::size_t>(n));
  for (double& xt : x) xt = 2.0 * p * length(engine);
  return x;
}

TEST(MisreadLikelihood, AtZeroErrorRateIsTheModelWithoutMisreadsToTheBit) {
  std::mt19937_64 engine(5);
  for (int p = 1; p <= 7; p += 3) {
    for (const bool escape : {false, true}) {
      const int n = 3 + p % 4;
      const InstalledTable table(random_code_rows(engine, 80, n), n);
      std::vector<double> point = random_point(engine, p, n);
      if (escape) point.push_back(0.2);
      std::vector<double> plain_gradient, misread_gradient;
      const double plain = negative_log_likelihood_and_gradient(p, ModelTerms{.escape = escape},
                                                                point, plain_gradient);
      point.push_back(0.0);
      const double misread = negative_log_likelihood_and_gradient(
          p, ModelTerms{.escape = escape, .misreads = true}, point, misread_gradient);
      EXPECT_EQ(misread, plain) << p << " " << escape;
      for (std::size_t i = 0; i < plain_gradient.size(); ++i) {
        EXPECT_EQ(misread_gradient[i], plain_gradient[i]) << p << " " << escape << " " << i;
      }
    }
  }
}

// P(seen row) = sum over the true readings at the row's R and N places of
// P(true row) prod (1 - e where the reading is kept, e where it flips),
// each P(true row) from the plain forward pass over 6p states.
TEST(MisreadLikelihood, ValueIsTheSumOverTheTrueReadings) {
  std::mt19937_64 engine(11);
  const double e = 0.07;
  for (const int p : {1, 2, 5}) {
    const int n = 5;
    const std::vector<std::string> rows = random_code_rows(engine, 30, n);
    const InstalledTable table(rows, n);
    std::vector<double> point = random_point(engine, p, n);
    const PatternModel model(p, point);
    double expected = 0.0;
    for (const std::string& seen : rows) {
      std::vector<std::size_t> readings;
      for (std::size_t t = 0; t < seen.size(); ++t) {
        if (seen[t] == 'R' || seen[t] == 'N') readings.push_back(t);
      }
      double probability = 0.0;
      for (unsigned flips = 0; flips < (1U << readings.size()); ++flips) {
        std::string truth = seen;
        double weight = 1.0;
        for (std::size_t k = 0; k < readings.size(); ++k) {
          const bool flipped = ((flips >> k) & 1U) != 0;
          char& code = truth[readings[k]];
          if (flipped) code = code == 'R' ? 'N' : 'R';
          weight *= flipped ? e : 1.0 - e;
        }
        probability += weight * model.probability(truth);
      }
      expected -= std::log(probability);
    }
    point.push_back(e);
    std::vector<double> gradient;
    const double value =
        negative_log_likelihood_and_gradient(p, ModelTerms{.misreads = true}, point, gradient);
    EXPECT_NEAR(value, expected, value_tolerance * std::fabs(expected)) << p;
  }
}

TEST(MisreadLikelihood, GradientMatchesDifferencesAtZeroAndInside) {
  std::mt19937_64 engine(20261209);
  std::uniform_real_distribution<double> rate(0.02, 0.4);
  for (int p = 1; p <= 6; ++p) {
    for (const bool escape : {false, true}) {
      const ModelTerms terms{.escape = escape, .misreads = true};
      const int n = 2 + p % 4;
      const InstalledTable table(random_code_rows(engine, 40, n), n);
      auto value = [&](const std::vector<double>& point) {
        std::vector<double> unused;
        return negative_log_likelihood_and_gradient(p, terms, point, unused);
      };
      for (const bool at_zero : {true, false}) {
        std::vector<double> point = random_point(engine, p, n);
        if (escape) point.push_back(0.3);
        point.push_back(at_zero ? 0.0 : rate(engine));
        std::vector<double> gradient;
        negative_log_likelihood_and_gradient(p, terms, point, gradient);
        double worst = 0.0;
        for (std::size_t i = 0; i < point.size(); ++i) {
          const double x = point[i];
          const bool last = i + 1 == point.size();
          const double h = last && at_zero ? boundary_step
                           : last || (escape && i + 2 == point.size())
                               ? difference_step
                               : difference_step * std::max(x, 1.0);
          double difference = 0.0;
          if (last && at_zero) {
            // One-sided, second order: e cannot go below 0.
            point[i] = x + h;
            const double one = value(point);
            point[i] = x + 2.0 * h;
            const double two = value(point);
            point[i] = x;
            difference = (-3.0 * value(point) + 4.0 * one - two) / (2.0 * h);
          } else {
            point[i] = x + h;
            const double up = value(point);
            point[i] = x - h;
            const double down = value(point);
            point[i] = x;
            difference = (up - down) / (2.0 * h);
          }
          worst = std::max(
              worst, std::fabs(gradient[i] - difference) / std::max(std::fabs(difference), 1.0));
        }
        EXPECT_LT(worst, gradient_tolerance) << p << " " << escape << " " << at_zero;
      }
    }
  }
}

}  // namespace
