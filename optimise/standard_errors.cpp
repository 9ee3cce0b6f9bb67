#include "optimise/standard_errors.hpp"

#include <cmath>
#include <cstdio>

#include "driver/results_file.hpp"
#include "model/likelihood.hpp"
#include "model/observations.hpp"
#include "optimise/gaussj.hpp"

DoubleVector best_point;
double best_value = 0.0;

namespace {

// The amount added to a coordinate for the finite differences.  No floor is
// applied: a coordinate of 0.001 is evaluated at 0.002.
constexpr double difference_step = 0.001;

// C = (((-f(x + h e_i + h e_j)) + f(x + h e_i)) + f(x + h e_j)) - f0, then
// divided by h twice, in exactly this order so that C[i][j] and C[j][i]
// differ by rounding only as the terms' order makes them.
double curvature_entry(double value_ij, double value_i, double value_j, double f0) {
  double entry = (((-value_ij) + value_i) + value_j) - f0;
  entry = entry / difference_step;
  return entry / difference_step;
}

// sqrt(C^-1[i][i] / observation_count) / (2p), 2p formed as an int.
double standard_error(DoubleMatrix inverse, int i) {
  const int scale = 2 * model_order;
  return std::sqrt(inverse[i][i] / observation_count) / static_cast<double>(scale);
}

void append_standard_errors(DoubleMatrix inverse, int n) {
  ResultsBlock file = open_results_file();
  append_results(file, "Standard Error:");
  append_results(file, "\n");
  for (int i = 1; i <= n; ++i) append_results(file, "%f ", standard_error(inverse, i));
  append_results(file, "\n");
  append_results(file, "==================================\n\n");
  close_results_file(file);
}

}  // namespace

// Every ordered pair (i, j) needs f(x + h e_i), f(x + h e_j) and
// f(x + h e_i + h e_j); the last is the same point for (i, j) and (j, i) and
// is f(x + h e_i) on the diagonal.  So the n single moves and the n(n-1)/2
// pair moves are evaluated once each and every entry is formed from them.
// Each moved coordinate is x[k] + h, computed as for any other order of
// evaluation, so the points and hence the values are the same bits.
void build_curvature(ObjectiveFunction objective, DoubleVector x, double f0, int n,
                     DoubleMatrix curvature) {
  DoubleVector point = dvector(1, n);
  DoubleVector single_values = dvector(1, n);
  for (int k = 1; k <= n; ++k) point[k] = x[k];

  for (int i = 1; i <= n; ++i) {
    point[i] = x[i] + difference_step;
    single_values[i] = objective(point);
    point[i] = x[i];
  }
  for (int i = 1; i <= n; ++i) {
    curvature[i][i] = curvature_entry(single_values[i], single_values[i], single_values[i], f0);
    for (int j = i + 1; j <= n; ++j) {
      point[i] = x[i] + difference_step;
      point[j] = x[j] + difference_step;
      const double pair_value = objective(point);
      point[i] = x[i];
      point[j] = x[j];
      curvature[i][j] = curvature_entry(pair_value, single_values[i], single_values[j], f0);
      curvature[j][i] = curvature_entry(pair_value, single_values[j], single_values[i], f0);
    }
  }

  release_dvector(single_values, 1, n);
  release_dvector(point, 1, n);
}

void standard_errors_for(ObjectiveFunction objective) {
  const int n = interval_count;
  DoubleMatrix curvature = dmatrix(1, n, 1, n);
  build_curvature(objective, best_point, best_value, n, curvature);
  gaussj(curvature, n);

  std::printf("Standard Error: \n");
  for (int i = 1; i <= n; ++i) std::printf("%f ", standard_error(curvature, i));
  append_standard_errors(curvature, n);

  release_dmatrix(curvature, 1, n, 1, n);
}

void standard_errors() { standard_errors_for(negative_log_likelihood); }
