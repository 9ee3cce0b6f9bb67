// The fit finds what it should: data simulated from known lengths, fitted by
// the program as a user runs it, give back those lengths within what the
// sample size allows.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "driver/observation_file.hpp"
#include "foundation/index_ranged_arrays.hpp"
#include "model/likelihood.hpp"
#include "model/observations.hpp"
#include "optimise/gaussj.hpp"
#include "tests/support/program_runner.hpp"
#include "tests/support/text_lines.hpp"

namespace {

// Central second differences of the objective with this step in lambda;
// the objective is smooth on this scale and rounding in a total of a few
// thousand terms stays far below the curvature it measures.
constexpr double hessian_step = 1e-3;

// A fitted length may differ from the truth by sampling error; with a few
// thousand observations the estimate is close to normal, and four standard
// deviations bound it for every interval and data set here with a chance of
// failure below one in ten thousand.
constexpr double allowed_deviations = 4.0;

// The sampling standard deviation of each fitted length: the inverse of the
// observed information of the whole table at the true parameters, divided by
// 2p as the lengths are.
std::vector<double> length_deviations(const std::string& data, int order,
                                      const std::vector<double>& lambdas) {
  const std::string text = fold_line_ends(data);
  const ObservationFileHeader header = read_observation_header(text);
  const int slots = static_cast<int>(observation_table_slots(header));
  ObservationTable table = cvector(0, slots - 1);
  fill_observation_table(text, header, table);
  set_observations(table, header.observation_count, header.interval_count);
  model_order = order;

  const int n = header.interval_count;
  DoubleVector x = dvector(1, n);
  auto f = [&](int i, double di, int j, double dj) {
    for (int t = 1; t <= n; ++t) x[t] = lambdas[static_cast<std::size_t>(t - 1)];
    x[i] += di;
    x[j] += dj;
    return negative_log_likelihood(x);
  };
  const double h = hessian_step;
  DoubleMatrix information = dmatrix(1, n, 1, n);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      // (f(+h,+h) - f(+h,-h) - f(-h,+h) + f(-h,-h)) / 4h^2, which on the
      // diagonal is the second difference with step 2h.
      information[i][j] =
          (f(i, h, j, h) - f(i, h, j, -h) - f(i, -h, j, h) + f(i, -h, j, -h)) / (4 * h * h);
    }
  }
  gaussj(information, n);
  std::vector<double> deviations;
  for (int t = 1; t <= n; ++t) deviations.push_back(std::sqrt(information[t][t]) / (2 * order));
  release_dmatrix(information, 1, n, 1, n);
  release_dvector(x, 1, n);
  release_cvector(table, 0, slots - 1);
  return deviations;
}

void expect_fit_recovers(const std::vector<double>& lengths, int order, int observations,
                         const std::string& seed) {
  ScratchDirectory where;
  std::string lengths_option;
  std::vector<double> lambdas;
  for (double length : lengths) {
    lengths_option += (lengths_option.empty() ? "" : ",") + std::to_string(length);
    lambdas.push_back(2 * order * length);
  }
  const ProgramRun simulated =
      run_program(where, built_program("interval-simulate"), "",
                  "--lengths " + lengths_option + " --observations " +
                      std::to_string(observations) + " --order " + std::to_string(order) +
                      " --x-rate 0.05 --seed " + seed + " --output data.txt");
  ASSERT_EQ(simulated.status, 0) << simulated.err;

  const ProgramRun fitted = run_program(where, built_program("interval-fit"),
                                        "data.txt\n" + std::to_string(order) + "\n0.5\n");
  ASSERT_EQ(fitted.status, 0) << fitted.out;
  std::istringstream results(where.read("etest.txt"));
  std::string line;
  for (int skip = 0; skip < 6 && std::getline(results, line);) ++skip;
  const std::vector<double> fitted_lengths = numbers_in(line);
  ASSERT_EQ(fitted_lengths.size(), lengths.size()) << where.read("etest.txt");

  const std::vector<double> deviations = length_deviations(where.read("data.txt"), order, lambdas);
  for (std::size_t t = 0; t < lengths.size(); ++t) {
    EXPECT_NEAR(fitted_lengths[t], lengths[t], allowed_deviations * deviations[t])
        << "interval " << t + 1 << ", sampling deviation " << deviations[t];
    // The tolerance is a real constraint, not a wide-open one.
    EXPECT_LT(allowed_deviations * deviations[t], 0.25 * lengths[t]);
  }
}

}  // namespace

TEST(FitRecovery, FirstOrderFitFindsTheSimulatedLengths) {
  expect_fit_recovers({0.2, 0.35, 0.15}, 1, 3000, "11");
}

TEST(FitRecovery, ThirdOrderFitFindsTheSimulatedLengths) {
  expect_fit_recovers({0.2, 0.35, 0.15}, 3, 3000, "12");
}
