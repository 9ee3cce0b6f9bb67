#include "optimise/gradient_information.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "foundation/index_ranged_arrays.hpp"
#include "foundation/worker_threads.hpp"
#include "optimise/positive_definite_inverse.hpp"

namespace {

double step_for(double x) {
  return information_step * std::max(std::fabs(x), information_step_floor);
}

}  // namespace

bool parameter_at_bound(double x) { return x - step_for(x) < 0.0; }

ParameterCovariance covariance_from_gradient(const ObjectiveWithGradient& objective,
                                             const std::vector<double>& x,
                                             const std::vector<double>& upper_bounds,
                                             Evaluation evaluation) {
  const std::size_t n = x.size();
  ParameterCovariance result;
  result.at_bound.assign(n, false);
  result.covariance.assign(n * n, 0.0);
  std::vector<std::size_t> free;
  for (std::size_t i = 0; i < n; ++i) {
    result.at_bound[i] = parameter_at_bound(x[i]) ||
                         (i < upper_bounds.size() && x[i] + step_for(x[i]) > upper_bounds[i]);
    if (!result.at_bound[i]) free.push_back(i);
  }
  const int m = static_cast<int>(free.size());
  if (m == 0) return result;

  // Rows of the Hessian for the free parameters, restricted to free columns.
  DoubleMatrix information = dmatrix(1, m, 1, m);
  DoubleMatrix inverse = dmatrix(1, m, 1, m);
  auto difference_row = [&](int a) {
    const std::size_t i = free[static_cast<std::size_t>(a - 1)];
    const double h = step_for(x[i]);
    std::vector<double> point = x;
    std::vector<double> up(n), down(n);
    point[i] = x[i] + h;
    objective(point, up);
    point[i] = x[i] - h;
    objective(point, down);
    for (int b = 1; b <= m; ++b) {
      const std::size_t j = free[static_cast<std::size_t>(b - 1)];
      // (g_j(x + h e_i) - g_j(x - h e_i)) / 2h
      information[a][b] = (up[j] - down[j]) / (2.0 * h);
    }
  };
  if (evaluation == Evaluation::concurrent) {
    run_in_parallel(m, [&difference_row](int task) { difference_row(task + 1); });
  } else {
    for (int a = 1; a <= m; ++a) difference_row(a);
  }
  result.evaluations = 2LL * m;
  for (int a = 1; a <= m; ++a) {
    for (int b = a + 1; b <= m; ++b) {
      const double mean = 0.5 * (information[a][b] + information[b][a]);
      information[a][b] = mean;
      information[b][a] = mean;
    }
  }
  result.positive_definite = invert_positive_definite(information, m, inverse);
  if (result.positive_definite) {
    for (int a = 1; a <= m; ++a) {
      for (int b = 1; b <= m; ++b) {
        result.covariance[free[static_cast<std::size_t>(a - 1)] * n +
                          free[static_cast<std::size_t>(b - 1)]] = inverse[a][b];
      }
    }
  }
  release_dmatrix(inverse, 1, m, 1, m);
  release_dmatrix(information, 1, m, 1, m);
  return result;
}
