// The fit with derivatives against the fitting program's own search (the
// downhill simplex with its restarts) on simulated data: it must reach a
// log-likelihood at least as high, in far fewer evaluations.
#include "optimise/gradient_fit.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/observation_file.hpp"
#include "model/likelihood.hpp"
#include "model/likelihood_gradient.hpp"
#include "model/observations.hpp"
#include "model/simulation.hpp"
#include "optimise/reference/order_scan.hpp"
#include "tests/model/installed_table.hpp"
#include "tests/support/captured_output.hpp"

namespace {

// The margin: the derivative search may fall short of the simplex
// by at most this much log-likelihood.
constexpr double likelihood_margin = 1e-6;
// ... and must need at most a fifth of its evaluations.
constexpr long long fewer_evaluations = 5;

void load_simulated(const SimulationSettings& settings, int count, std::uint64_t seed) {
  const std::string text = fold_line_ends(captured_output([&](std::FILE* file) {
    EXPECT_TRUE(write_observation_file(file, settings, count, seed, false));
  }));
  const ObservationFileHeader header = read_observation_header(text);
  ASSERT_TRUE(header.problem.empty()) << header.problem;
  const ObservationTable table = cvector(0, static_cast<int>(observation_table_slots(header)) - 1);
  fill_observation_table(text, header, table);
  set_observations(table, header.observation_count, header.interval_count);
}

void release_loaded_table() {
  release_cvector(observations, 0, (interval_count + 1) * observation_count - 1);
  set_observations(ObservationTable{}, 0, 0);
}

TEST(GradientFit, ReachesTheSimplexLikelihoodInFarFewerEvaluations) {
  struct Case {
    int order;
    std::vector<double> lengths;
    int count;
  };
  const std::vector<Case> cases = {
      {1, {0.2, 0.35, 0.15}, 1500},
      {3, {0.15, 0.3, 0.2, 0.05}, 800},
      {8, {0.2, 0.01, 0.3}, 600},
  };
  std::uint64_t seed = 3;
  for (const Case& c : cases) {
    SimulationSettings settings;
    settings.order = c.order;
    for (const double length : c.lengths) settings.rates.push_back(2.0 * c.order * length);
    load_simulated(settings, c.count, ++seed);
    model_order = c.order;
    const int n = interval_count;

    const OrderFit simplex = fit_with_restarts(negative_log_likelihood, n, 0.5);
    const ObjectiveWithGradient objective = [](const std::vector<double>& x,
                                               std::vector<double>& g) {
      return negative_log_likelihood_and_gradient(model_order, x, g);
    };
    const OrderFit gradient = fit_with_gradient(objective, n, 0.5);
    Point point(gradient.parameters);
    const double value = negative_log_likelihood(point.get());
    std::printf("order %d: simplex %.9f in %lld evaluations, gradient %.9f in %lld\n", c.order,
                -simplex.objective, simplex.evaluations, -value, gradient.evaluations);
    EXPECT_TRUE(gradient.converged()) << c.order;
    EXPECT_LE(value, simplex.objective + likelihood_margin) << c.order;
    // With three or four parameters the simplex needs only a few hundred
    // evaluations; the gap grows with the number of parameters.
    EXPECT_LT(gradient.evaluations * fewer_evaluations, simplex.evaluations) << c.order;
    // From 0 every R code is impossible; the fit must still get there.
    const OrderFit from_zero = fit_with_gradient(objective, n, 0.0);
    EXPECT_NEAR(from_zero.objective, gradient.objective, likelihood_margin) << c.order;
    release_loaded_table();
  }
}

TEST(GradientFit, RecoversTheEscapeFractionWithTheLengthsAndBeatsTheFitWithout) {
  // p = 3, q = 0.3, 6000 observations: the standard error of q is near
  // 0.045 and those of the lengths near 0.01, so the margins below are
  // about three of them; a fault in the escape's weights or gradient moves
  // q by far more, or stops the search short of the fit without escape.
  constexpr double escape_margin = 0.15;
  constexpr double length_margin = 0.04;
  const std::vector<double> lengths = {0.3, 0.25, 0.35, 0.2};
  const double escape = 0.3;
  SimulationSettings settings;
  settings.order = 3;
  settings.escape_fraction = escape;
  for (const double length : lengths) settings.rates.push_back(2.0 * settings.order * length);
  load_simulated(settings, 6000, 11);
  model_order = settings.order;
  const int n = interval_count;
  const ObjectiveWithGradient without = [](const std::vector<double>& x, std::vector<double>& g) {
    return negative_log_likelihood_and_gradient(model_order, x, g);
  };
  const ObjectiveWithGradient with = [](const std::vector<double>& x, std::vector<double>& g) {
    return negative_log_likelihood_and_gradient_with_escape(model_order, x, g);
  };
  BoundedSearchSettings bounds;
  bounds.upper_bounds.assign(static_cast<std::size_t>(n) + 1, 1e300);
  bounds.upper_bounds.back() = 1.0;
  const OrderFit plain = fit_with_gradient(without, n, 0.5);
  const OrderFit fit = fit_with_gradient(with, n, 0.5, {0.1}, bounds);
  ASSERT_EQ(fit.parameters.size(), lengths.size() + 1);
  std::printf("q = %.4f; log-likelihood %.6f with escape, %.6f without\n", fit.parameters.back(),
              -fit.objective, -plain.objective);
  EXPECT_TRUE(fit.converged());
  EXPECT_NEAR(fit.parameters.back(), escape, escape_margin);
  for (std::size_t t = 0; t < lengths.size(); ++t) {
    EXPECT_NEAR(fit.parameters[t] / (2.0 * settings.order), lengths[t], length_margin) << t;
  }
  EXPECT_LT(fit.objective, plain.objective);
  release_loaded_table();
}

}  // namespace
