// The escape fraction: the closed form of its wrap weights against an
// explicit sum over the escape count, the identity of the model without
// escape at q = 0, and the exact gradient in every coordinate, q included,
// against central differences.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "model/likelihood_gradient.hpp"
#include "model/observations.hpp"
#include "model/wrap_weights.hpp"
#include "tests/model/installed_table.hpp"

namespace {

// Escape counts summed explicitly: for mu <= 3 the Poisson tail beyond 60
// is below 1e-40.
constexpr int escape_count_limit = 60;
// The closed form against the sum: both are sums of a few dozen terms below
// 1 with rounding near 1e-16 each.
constexpr double closed_form_tolerance = 1e-14;
// Central differences: step relative to max(|x|, 1) for the lengths, and
// absolute for q (kept inside [0, 1]); as for the gradient without escape,
// truncation and rounding meet near 1e-8, and a wrong term is of order 1.
constexpr double difference_step = 1e-5;
constexpr double gradient_tolerance = 1e-6;

// The rows of the example data file shipped with the sources.
std::vector<std::string> example_rows(int& n) {
  std::ifstream file(std::string(INTERVAL_EXAMPLES_DIR) + "/example.dat");
  int count = 0;
  file >> count >> n;
  std::vector<std::string> rows(static_cast<std::size_t>(count));
  for (std::string& row : rows) file >> row;
  return file ? rows : std::vector<std::string>{};
}

TEST(EscapeWeights, ClosedFormMatchesTheSumOverEscapeCounts) {
  for (const double mu : {0.0, 0.05, 0.4, 1.0, 3.0}) {
    for (int m = 0; m <= 18; ++m) {
      // E over J ~ Poisson(mu) of the weights after m + J moves.
      double same = 0.0, cross = 0.0;
      double probability = std::exp(-mu);
      for (int j = 0; j <= escape_count_limit; ++j) {
        same += probability * W_same(m + j);
        cross += probability * W_cross(m + j);
        probability *= mu / static_cast<double>(j + 1);
      }
      const double factor = escape_factor(mu);
      EXPECT_NEAR(W_same(m, factor), same, closed_form_tolerance) << mu << " " << m;
      EXPECT_NEAR(W_cross(m, factor), cross, closed_form_tolerance) << mu << " " << m;
    }
  }
  // No escape: the factor is 1 and the weights are the model's own bits.
  EXPECT_EQ(escape_factor(0.0), 1.0);
  for (int m = 0; m <= 18; ++m) {
    EXPECT_EQ(W_same(m, 1.0), W_same(m)) << m;
    EXPECT_EQ(W_cross(m, 1.0), W_cross(m)) << m;
  }
}

TEST(EscapeLikelihood, AtZeroEscapeIsTheModelWithoutEscapeToTheBit) {
  std::mt19937_64 engine(17);
  std::uniform_real_distribution<double> length(0.02, 0.5);
  auto check = [&engine, &length](const std::vector<std::string>& rows, int n, int p) {
    InstalledTable table(rows, n);
    model_order = p;
    std::vector<double> x(static_cast<std::size_t>(n));
    for (double& xt : x) xt = 2.0 * p * length(engine);
    std::vector<double> plain_gradient, escape_gradient;
    const double plain = negative_log_likelihood_and_gradient(p, x, plain_gradient);
    std::vector<double> with_q = x;
    with_q.push_back(0.0);
    const double escaped =
        negative_log_likelihood_and_gradient_with_escape(p, with_q, escape_gradient);
    EXPECT_EQ(escaped, plain) << "order " << p;
    for (std::size_t t = 0; t < x.size(); ++t) {
      EXPECT_EQ(escape_gradient[t], plain_gradient[t]) << "order " << p << " interval " << t;
    }
  };
  int n = 0;
  const std::vector<std::string> example = example_rows(n);
  ASSERT_FALSE(example.empty());
  for (int p = 1; p <= 8; ++p) {
    check(example, n, p);
    const int random_n = 1 + p % 5;
    check(random_code_rows(engine, 60, random_n), random_n, p);
  }
  check(example, n, 40);
}

TEST(EscapeLikelihood, GradientMatchesCentralDifferencesInLengthsAndEscape) {
  std::mt19937_64 engine(20261209);
  std::uniform_real_distribution<double> length(0.02, 0.5);
  std::uniform_real_distribution<double> fraction(0.05, 0.9);
  for (int p = 1; p <= 6; ++p) {
    const int n = 1 + p % 4;
    InstalledTable table(random_code_rows(engine, 40, n), n);
    model_order = p;
    double worst = 0.0;
    for (int trial = 0; trial < 4; ++trial) {
      std::vector<double> point(static_cast<std::size_t>(n));
      for (double& x : point) x = 2.0 * p * length(engine);
      point.push_back(fraction(engine));
      std::vector<double> gradient, unused;
      negative_log_likelihood_and_gradient_with_escape(p, point, gradient);
      for (std::size_t i = 0; i < point.size(); ++i) {
        const double x = point[i];
        const double h =
            i + 1 == point.size() ? difference_step : difference_step * std::max(x, 1.0);
        point[i] = x + h;
        const double up = negative_log_likelihood_and_gradient_with_escape(p, point, unused);
        point[i] = x - h;
        const double down = negative_log_likelihood_and_gradient_with_escape(p, point, unused);
        point[i] = x;
        const double difference = (up - down) / (2.0 * h);
        worst = std::max(
            worst, std::fabs(gradient[i] - difference) / std::max(std::fabs(difference), 1.0));
      }
    }
    std::printf("order %d: worst relative error %.2e\n", p, worst);
    EXPECT_LT(worst, gradient_tolerance) << p;
  }
}

}  // namespace
