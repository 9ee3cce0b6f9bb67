#include "driver/fitting_run.hpp"

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "driver/answers.hpp"
#include "driver/console_output.hpp"
#include "driver/load_observations.hpp"
#include "driver/refusal.hpp"
#include "driver/results_file.hpp"
#include "foundation/index_ranged_arrays.hpp"
#include "model/likelihood.hpp"
#include "model/observations.hpp"
#include "optimise/amoeba.hpp"
#include "optimise/standard_errors.hpp"
#include "optimise/starting_simplex.hpp"

namespace {

// A word cut at the reader's limit is refused as too long, not as what it
// might have been had it been read whole.
void refuse_if_too_long(const std::string& word, std::string_view what, std::string_view example) {
  if (word.size() <= longest_word) return;
  const std::string message = std::string(what) + " is longer than " +
                              std::to_string(longest_word) + " characters; write it with fewer " +
                              "digits, such as " + std::string(example);
  refuse_input(message.c_str());
}

int ask_model_order() {
  std::printf("Please type in the order of your model: \n");
  const std::optional<std::string> word = read_answer_word();
  if (!word) refuse_input("no model order was given");
  refuse_if_too_long(*word, "the model order", "2");
  const std::optional<int> order = parse_model_order(*word);
  if (!order) refuse_input("the model order must be a whole number from 1 to 100");
  return *order;
}

double ask_initial_estimate() {
  std::printf("Please type the initial estimate: \n");
  const std::optional<std::string> word = read_answer_word();
  if (!word) refuse_input("no initial estimate was given");
  refuse_if_too_long(*word, "the initial estimate", "0.5");
  const std::optional<double> estimate = parse_initial_estimate(*word);
  if (!estimate) {
    refuse_input("the initial estimate must be a finite number of at least 0, such as 0.5");
  }
  return *estimate;
}

// The likelihood line, the whole simplex scaled to lengths, and the sum of
// the reported row's lengths, which is returned.
double print_report(DoubleMatrix simplex, DoubleVector vertex_values, int n) {
  const int scale = 2 * model_order;
  std::printf("p = %d  and Likelihood:  %f", model_order, -vertex_values[n + 1]);
  double total_length = 0;
  for (int j = 1; j <= n; ++j) total_length += simplex[n + 1][j] / static_cast<double>(scale);
  for (int k = 1; k <= n + 1; ++k) {
    std::printf("\n");
    for (int j = 1; j <= n; ++j) {
      std::printf("%3.2lf\t", simplex[k][j] / static_cast<double>(scale));
    }
  }
  std::printf("\n");
  std::printf("Total Length = %lf\n", total_length);
  std::printf("\n\n");
  return total_length;
}

void append_summary(DoubleMatrix simplex, DoubleVector vertex_values, int n, double estimate,
                    double total_length) {
  const int scale = 2 * model_order;
  ResultsBlock file = open_results_file();
  append_results(file, "The total number of observation is %d.\n", observation_count);
  append_results(file, "The number of intervals is %d. \n", interval_count);
  append_results(file, "The initial estimate is %f\n", estimate);
  append_results(file, "p = %d  and Log-Likelihood:  %f\n", model_order, -vertex_values[n + 1]);
  append_results(file, "\n");
  for (int j = 1; j <= n; ++j) {
    append_results(file, "%f ", simplex[n + 1][j] / static_cast<double>(scale));
  }
  append_results(file, "\n");
  append_results(file, "Total Length = %lf\n", total_length);
  append_results(file, "\n\n");
  close_results_file(file);
}

}  // namespace

int fitting_run() { return fitting_run_on(negative_log_likelihood, standard_errors); }

int fitting_run_on(ObjectiveFunction objective, void (*standard_error_step)()) {
  IntVector evaluation_count = ivector(0, 0);
  load_observations();
  const int n = interval_count;

  DoubleMatrix simplex = dmatrix(1, n + 1, 1, n);
  best_point = dvector(0, n);
  model_order = ask_model_order();
  const double initial_estimate = ask_initial_estimate();

  build_starting_simplex(simplex, n, initial_estimate);
  DoubleVector vertex_values = dvector(1, n + 1);
  evaluate_vertices(objective, simplex, vertex_values, n);

  std::printf("Now-------- Amoeba...\n");
  flush_console();
  amoeba(simplex, vertex_values, n, search_tolerance, objective, &evaluation_count[0]);

  // Everything reported or stored comes from the last row, n+1.
  const double total_length = print_report(simplex, vertex_values, n);
  append_summary(simplex, vertex_values, n, initial_estimate, total_length);
  for (int j = 1; j <= n; ++j) best_point[j] = simplex[n + 1][j];
  best_value = vertex_values[n + 1];

  // A report that could not be printed is said to be lost before the
  // longest step rather than after it.
  std::printf("Now Computing Standard Error...\n");
  require_console_written();
  standard_error_step();

  release_cvector(observations, 0, (n + 1) * observation_count - 1);
  release_dvector(best_point, 0, n);
  release_dvector(vertex_values, 1, n + 1);
  release_dmatrix(simplex, 1, n + 1, 1, n);
  release_ivector(evaluation_count, 0, 0);
  require_console_written();
  return 0;
}
