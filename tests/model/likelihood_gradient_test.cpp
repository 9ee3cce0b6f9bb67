// The exact gradient against central differences of the model's objective
// (the fitting program's negative_log_likelihood, computed per state rather
// than per class, so an independent evaluation of the same model).
#include "model/likelihood_gradient.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "foundation/worker_threads.hpp"
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

// The gradient's value and slopes at order p and the point's entries 1..n,
// the slopes written into gradient[1..n].
double value_and_gradient(int p, const Point& point, const Point& gradient) {
  const int n = interval_count;
  std::vector<double> x(static_cast<std::size_t>(n));
  for (int t = 1; t <= n; ++t) x[static_cast<std::size_t>(t - 1)] = point.get()[t];
  std::vector<double> slopes;
  const double value = negative_log_likelihood_and_gradient(p, x, slopes);
  for (int t = 1; t <= n; ++t) gradient.get()[t] = slopes[static_cast<std::size_t>(t - 1)];
  return value;
}

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
      const double value = value_and_gradient(p, point, gradient);
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
  value_and_gradient(model_order, point, gradient);
  const double h = 1e-7;
  const double base = negative_log_likelihood(point.get());
  point.get()[1] = h;
  const double forward = (negative_log_likelihood(point.get()) - base) / h;
  EXPECT_NEAR(gradient.get()[1], forward, 1e-5 * std::max(1.0, std::fabs(forward)));

  // Order 100 with lengths near 0.25: counts up to 899, no NaN anywhere.
  model_order = 100;
  Point high({50.0, 45.0, 55.0});
  const double value = value_and_gradient(model_order, high, gradient);
  EXPECT_TRUE(std::isfinite(value));
  EXPECT_NEAR(value / negative_log_likelihood(high.get()), 1.0, value_tolerance);
  for (int t = 1; t <= 3; ++t) EXPECT_TRUE(std::isfinite(gradient.get()[t])) << t;
}

TEST(LikelihoodGradient, PartsGiveTheSameBitsOnAnyThreadAndTheValueOfOnePart) {
  // Cut into many parts, the rows run on the worker threads from the
  // calling thread and in order on one thread from inside a task: the
  // bits must not depend on which thread ran which part.  The value adds
  // the rows' terms in row order whatever the cut, so it is the bits of one
  // part; the slopes add the parts' sums, so they differ from one part's by
  // rounding only.
  constexpr double cut_tolerance = 1e-12;
  std::mt19937_64 engine(20261210);
  const int n = 6;
  InstalledTable table(random_code_rows(engine, 400, n), n);
  const int p = 3;
  std::vector<double> point(static_cast<std::size_t>(n));
  for (double& lambda : point)
    lambda = 2.0 * p * std::uniform_real_distribution<>(0.05, 0.4)(engine);

  std::vector<double> whole_gradient;
  const double whole = negative_log_likelihood_and_gradient(p, point, whole_gradient);
  set_gradient_part_work(1);
  std::vector<double> spread_gradient;
  const double spread = negative_log_likelihood_and_gradient(p, point, spread_gradient);
  std::vector<double> one_thread_gradient;
  double one_thread = 0.0;
  run_in_parallel(2, [&](int task) {
    if (task == 0) one_thread = negative_log_likelihood_and_gradient(p, point, one_thread_gradient);
  });
  set_gradient_part_work(default_gradient_part_work);

  EXPECT_EQ(std::bit_cast<std::uint64_t>(spread), std::bit_cast<std::uint64_t>(whole));
  EXPECT_EQ(std::bit_cast<std::uint64_t>(one_thread), std::bit_cast<std::uint64_t>(whole));
  ASSERT_EQ(spread_gradient.size(), point.size());
  ASSERT_EQ(one_thread_gradient.size(), point.size());
  for (std::size_t t = 0; t < point.size(); ++t) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(one_thread_gradient[t]),
              std::bit_cast<std::uint64_t>(spread_gradient[t]))
        << t;
    EXPECT_NEAR(spread_gradient[t], whole_gradient[t],
                cut_tolerance * std::max(1.0, std::fabs(whole_gradient[t])))
        << t;
  }
}

TEST(LikelihoodGradient, HeldTablesKeepTheirOwnWorkAndSumIntoTheJointValue) {
  // Two tables of different sizes evaluated in turn on one thread, each
  // against the installed form of the same rows: work kept for one table
  // and used for the other would change the bits.  The joint value is the
  // tables' sum, its interval slopes are each table's own, and its slope in
  // q is the sum of theirs.
  std::mt19937_64 engine(20261209);
  const int p = 3;
  const std::vector<int> sizes = {5, 7};
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> bytes;
  for (const int n : sizes) {
    rows.push_back(random_code_rows(engine, 150, n));
    std::string joined;
    for (const std::string& row : rows.back()) joined += row;
    bytes.push_back(joined);
  }
  std::vector<HeldTable> held;
  for (std::size_t k = 0; k < sizes.size(); ++k) {
    held.emplace_back(reinterpret_cast<const unsigned char*>(bytes[k].data()),
                      static_cast<int>(rows[k].size()), sizes[k]);
  }
  const ModelTerms terms{.escape = true};
  std::vector<std::vector<double>> points;
  std::vector<double> joint_point;
  for (const int n : sizes) {
    std::vector<double> x(static_cast<std::size_t>(n));
    for (double& lambda : x) lambda = 2.0 * p * std::uniform_real_distribution<>(0.05, 0.4)(engine);
    joint_point.insert(joint_point.end(), x.begin(), x.end());
    x.push_back(0.2);
    points.push_back(x);
  }
  joint_point.push_back(0.2);

  std::vector<double> values(sizes.size());
  std::vector<std::vector<double>> gradients(sizes.size());
  for (std::size_t k = 0; k < sizes.size(); ++k) {
    const InstalledTable installed(rows[k], sizes[k]);
    values[k] = negative_log_likelihood_and_gradient(p, terms, points[k], gradients[k]);
  }
  for (int round = 0; round < 2; ++round) {
    for (std::size_t k = 0; k < sizes.size(); ++k) {
      std::vector<double> gradient;
      const double value =
          negative_log_likelihood_and_gradient(held[k], p, terms, points[k], gradient);
      EXPECT_EQ(std::bit_cast<std::uint64_t>(value), std::bit_cast<std::uint64_t>(values[k]))
          << k << " " << round;
      EXPECT_EQ(gradient, gradients[k]) << k << " " << round;
    }
  }
  std::vector<double> joint_gradient;
  const double joint = negative_log_likelihood_and_gradient({&held.front(), &held.back()}, p, terms,
                                                            joint_point, joint_gradient);
  EXPECT_EQ(joint, values[0] + values[1]);
  ASSERT_EQ(joint_gradient.size(), joint_point.size());
  std::size_t at = 0;
  for (std::size_t k = 0; k < sizes.size(); ++k) {
    for (int t = 0; t < sizes[k]; ++t, ++at) {
      EXPECT_EQ(joint_gradient[at], gradients[k][static_cast<std::size_t>(t)]) << k << " " << t;
    }
  }
  EXPECT_EQ(joint_gradient.back(), gradients[0].back() + gradients[1].back());
}

}  // namespace
