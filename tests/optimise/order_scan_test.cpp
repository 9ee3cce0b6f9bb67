// The restarted fit of one order: its first search is the fitting
// program's, bit for bit (in process and against the program's own
// output), and the restarts end where they should.
#include "optimise/reference/order_scan.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "driver/observation_file.hpp"
#include "model/likelihood.hpp"
#include "model/observations.hpp"
#include "model/simulation.hpp"
#include "optimise/amoeba.hpp"
#include "optimise/reference/observed_information.hpp"
#include "tests/support/captured_output.hpp"
#include "tests/support/program_runner.hpp"
#include "tests/support/text_lines.hpp"

namespace {

// Eight N and two R in one interval: for p = 1 the likelihood is largest at
// exp(-1.5 lambda) = 0.4, where the information is
//   -36u/(2+u)^2 + 4.5u/(1-u)^2 = 2.5  (u = 0.4).
const char* const eight_n_two_r = "10 1\nN\nN\nR\nN\nN\nN\nR\nN\nN\nN\n";
const double fitted_lambda = -std::log(0.4) / 1.5;
constexpr double closed_form_information = 2.5;
// The search stops at a relative spread of 1e-10 in values near 5, which
// leaves the parameter within about sqrt(2 * 5e-10 / 2.5) = 2e-5.
constexpr double lambda_tolerance = 5e-5;

struct DataSet {
  std::string name;
  std::string text;
  int order;
  double estimate;
};

std::string simulated_file(const SimulationSettings& settings, int count, std::uint64_t seed) {
  return captured_output([&](std::FILE* file) {
    EXPECT_TRUE(write_observation_file(file, settings, count, seed, false));
  });
}

std::vector<DataSet> data_sets() {
  SimulationSettings first;
  first.order = 1;
  first.rates = {0.4, 0.7, 0.3};
  SimulationSettings second;
  second.order = 2;
  second.rates = {1.2, 0.4};
  second.x_rate = 0.2;
  second.missing_rate = 0.1;
  SimulationSettings third;
  third.order = 3;
  third.rates = {1.5, 0.9, 2.4, 0.6};
  return {
      {"three intervals, p = 1", simulated_file(first, 400, 7), 1, 0.5},
      {"two intervals with X and missing codes, p = 2", simulated_file(second, 300, 11), 2, 0.3},
      {"four intervals, p = 3", simulated_file(third, 200, 5), 3, 0.8},
      {"one interval, p = 1", eight_n_two_r, 1, 0.5},
  };
}

// Loads `text` as the process-wide table; release_loaded_table gives it back.
void load_table(const std::string& text) {
  const std::string folded = fold_line_ends(text);
  const ObservationFileHeader header = read_observation_header(folded);
  ASSERT_TRUE(header.problem.empty()) << header.problem;
  const ObservationTable table = cvector(0, static_cast<int>(observation_table_slots(header)) - 1);
  fill_observation_table(folded, header, table);
  set_observations(table, header.observation_count, header.interval_count);
}

void release_loaded_table() {
  release_cvector(observations, 0, (interval_count + 1) * observation_count - 1);
  set_observations(ObservationTable{}, 0, 0);
}

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

std::string formatted(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

int drifting_calls = 0;

// A bowl that sinks a little with every call: no search can settle on it,
// and every restart finds a lower value than the last.
double drifting_bowl(DoubleVector x) {
  ++drifting_calls;
  double value = 0.0;
  for (int j = x.first; j <= x.last; ++j) value += (x[j] - 1.0) * (x[j] - 1.0);
  return value - 1e-3 * drifting_calls;
}

// A narrow curved valley with its minimum 0 at (1, 1).
double curved_valley(DoubleVector x) {
  const double a = x[2] - x[1] * x[1];
  const double b = 1.0 - x[1];
  return 100.0 * a * a + b * b;
}

}  // namespace

TEST(OrderScan, FirstSearchIsTheFittingProgramsSearchBitForBit) {
  for (const DataSet& data : data_sets()) {
    SCOPED_TRACE(data.name);
    load_table(data.text);
    model_order = data.order;
    const int n = interval_count;

    // The fitting program's steps, written out as it takes them.
    DoubleMatrix expected = dmatrix(1, n + 1, 1, n);
    DoubleVector expected_values = dvector(1, n + 1);
    for (int k = 1; k <= n + 1; ++k) {
      for (int j = 1; j <= n; ++j) expected[k][j] = data.estimate;
    }
    for (int k = 2; k <= n + 1; ++k) expected[k][k - 1] += 0.2;
    for (int k = 1; k <= n + 1; ++k) expected_values[k] = negative_log_likelihood(expected[k]);
    int expected_evaluations = 0;
    amoeba(expected, expected_values, n, 1e-10, negative_log_likelihood, &expected_evaluations);

    DoubleMatrix simplex = dmatrix(1, n + 1, 1, n);
    DoubleVector values = dvector(1, n + 1);
    const int evaluations =
        first_search(negative_log_likelihood, n, data.estimate, simplex, values);

    EXPECT_EQ(evaluations, expected_evaluations);
    for (int k = 1; k <= n + 1; ++k) {
      EXPECT_EQ(bits(values[k]), bits(expected_values[k])) << "row " << k;
      for (int j = 1; j <= n; ++j) {
        EXPECT_EQ(bits(simplex[k][j]), bits(expected[k][j])) << "row " << k << " column " << j;
      }
    }
    release_dvector(values, 1, n + 1);
    release_dmatrix(simplex, 1, n + 1, 1, n);
    release_dvector(expected_values, 1, n + 1);
    release_dmatrix(expected, 1, n + 1, 1, n);
    release_loaded_table();
  }
}

TEST(OrderScan, FirstSearchPrintsAsTheFittingProgramReportsInItsResultsFile) {
  for (const DataSet& data : data_sets()) {
    SCOPED_TRACE(data.name);
    ScratchDirectory directory;
    directory.write("data.txt", data.text);
    char answers[64];
    std::snprintf(answers, sizeof answers, "data.txt\n%d\n%.17g\n", data.order, data.estimate);
    const ProgramRun run = run_program(directory, built_program("interval-fit"), answers);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::vector<std::string> summary = lines_of(directory.read("etest.txt"));
    ASSERT_GE(summary.size(), 6u);

    load_table(data.text);
    model_order = data.order;
    const int n = interval_count;
    DoubleMatrix simplex = dmatrix(1, n + 1, 1, n);
    DoubleVector values = dvector(1, n + 1);
    first_search(negative_log_likelihood, n, data.estimate, simplex, values);

    // The program reports row n+1, each parameter divided by 2p.
    EXPECT_EQ(summary[3], "p = " + std::to_string(data.order) +
                              "  and Log-Likelihood:  " + formatted("%f", -values[n + 1]));
    std::string parameters;
    for (int j = 1; j <= n; ++j) {
      parameters += formatted("%f ", simplex[n + 1][j] / static_cast<double>(2 * data.order));
    }
    EXPECT_EQ(summary[5], parameters);

    release_dvector(values, 1, n + 1);
    release_dmatrix(simplex, 1, n + 1, 1, n);
    release_loaded_table();
  }
}

TEST(OrderScan, RestartsEndAtOrBelowTheFirstSearchAndSettle) {
  for (const DataSet& data : data_sets()) {
    SCOPED_TRACE(data.name);
    load_table(data.text);
    model_order = data.order;
    const OrderFit fit = fit_with_restarts(negative_log_likelihood, interval_count, data.estimate);
    EXPECT_LE(fit.objective, fit.first_search_objective);
    EXPECT_GE(fit.restarts, 1);
    EXPECT_TRUE(fit.converged());
    ASSERT_EQ(fit.parameters.size(), static_cast<std::size_t>(interval_count));
    // The reported value is the objective at the reported point.
    DoubleVector point = dvector(1, interval_count);
    for (int j = 1; j <= interval_count; ++j)
      point[j] = fit.parameters[static_cast<std::size_t>(j - 1)];
    EXPECT_EQ(bits(negative_log_likelihood(point)), bits(fit.objective));
    release_dvector(point, 1, interval_count);
    release_loaded_table();
  }
}

TEST(OrderScan, OneIntervalFitAndItsInformationMatchTheClosedForm) {
  load_table(eight_n_two_r);
  model_order = 1;
  const OrderFit fit = fit_with_restarts(negative_log_likelihood, 1, 0.5);
  ASSERT_TRUE(fit.converged());
  EXPECT_NEAR(fit.parameters[0], fitted_lambda, lambda_tolerance);

  DoubleVector point = dvector(1, 1);
  point[1] = fit.parameters[0];
  DoubleMatrix information = dmatrix(1, 1, 1, 1);
  observed_information(negative_log_likelihood, point, fit.objective, 1, information);
  // The point is off the maximum by up to 5e-5; f''' is about -10 there.
  EXPECT_NEAR(information[1][1], closed_form_information, 1e-3);
  release_dmatrix(information, 1, 1, 1, 1);
  release_dvector(point, 1, 1);
  release_loaded_table();
}

TEST(OrderScan, CurvedValleyFitReachesItsMinimum) {
  const OrderFit fit = fit_with_restarts(curved_valley, 2, 0.5);
  EXPECT_TRUE(fit.converged());
  EXPECT_NEAR(fit.parameters[0], 1.0, 1e-3);
  EXPECT_NEAR(fit.parameters[1], 1.0, 2e-3);
  EXPECT_LE(fit.objective, fit.first_search_objective);
}

TEST(OrderScan, RestartLimitIsReportedWhenEveryRestartStillImproves) {
  drifting_calls = 0;
  const OrderFit fit = fit_with_restarts(drifting_bowl, 2, 0.5, 3);
  EXPECT_EQ(fit.restarts, 3);
  EXPECT_TRUE(fit.restart_limit_reached);
  EXPECT_TRUE(fit.evaluation_limit_reached);
  EXPECT_FALSE(fit.converged());
  EXPECT_EQ(fit.evaluations, drifting_calls);
}

TEST(OrderScan, ConvergenceIsTheMinimisersStrictRelativeSpreadTest) {
  DoubleVector values = dvector(1, 3);
  values[1] = 1000.0;
  values[2] = 1000.0 * (1.0 + 0.9e-10);
  values[3] = 1000.0;
  EXPECT_TRUE(vertex_values_converged(values, 2));
  values[2] = 1000.0 * (1.0 + 1.1e-10);
  EXPECT_FALSE(vertex_values_converged(values, 2));
  release_dvector(values, 1, 3);
}
