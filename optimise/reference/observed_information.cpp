#include "optimise/reference/observed_information.hpp"

#include <cassert>
#include <cmath>

namespace {

// The two abscissae of the first-difference stencil in one coordinate: the
// derivative is (f at upper - f at lower) / (upper - lower).
struct Stencil {
  double upper;
  double lower;
  bool central;
};

Stencil stencil_for(double coordinate) {
  const double h = difference_step_for(coordinate);
  // A central step would leave the half-line x >= 0 on which the objective
  // is defined (a negative expected count makes Poisson terms negative).
  if (coordinate - h < 0.0) return {coordinate + h, coordinate, false};
  return {coordinate + h, coordinate - h, true};
}

// f at x with coordinate i set to xi (and j to xj when j differs from 0);
// `work` is scratch over 1..n and is restored to x.
double value_with(ObjectiveFunction objective, DoubleVector x, DoubleVector work, int i, double xi,
                  int j, double xj) {
  work[i] = xi;
  if (j != 0) work[j] = xj;
  const double value = objective(work);
  work[i] = x[i];
  if (j != 0) work[j] = x[j];
  return value;
}

double diagonal_difference(ObjectiveFunction objective, DoubleVector x, DoubleVector work,
                           double f0, int i) {
  const Stencil s = stencil_for(x[i]);
  const double h = s.upper - x[i];
  if (s.central) {
    // (f(x + h e_i) - 2 f(x) + f(x - h e_i)) / h^2
    const double up = value_with(objective, x, work, i, s.upper, 0, 0.0);
    const double down = value_with(objective, x, work, i, s.lower, 0, 0.0);
    return ((up - 2.0 * f0) + down) / (h * h);
  }
  // (f(x + 2h e_i) - 2 f(x + h e_i) + f(x)) / h^2
  const double far = value_with(objective, x, work, i, x[i] + 2.0 * h, 0, 0.0);
  const double near = value_with(objective, x, work, i, s.upper, 0, 0.0);
  return ((far - 2.0 * near) + f0) / (h * h);
}

double mixed_difference(ObjectiveFunction objective, DoubleVector x, DoubleVector work, int i,
                        int j) {
  const Stencil si = stencil_for(x[i]);
  const Stencil sj = stencil_for(x[j]);
  // (f(a_i, a_j) - f(a_i, b_j) - f(b_i, a_j) + f(b_i, b_j)) / ((a_i - b_i)(a_j - b_j))
  const double upper_upper = value_with(objective, x, work, i, si.upper, j, sj.upper);
  const double upper_lower = value_with(objective, x, work, i, si.upper, j, sj.lower);
  const double lower_upper = value_with(objective, x, work, i, si.lower, j, sj.upper);
  const double lower_lower = value_with(objective, x, work, i, si.lower, j, sj.lower);
  const double numerator = ((upper_upper - upper_lower) - lower_upper) + lower_lower;
  return numerator / ((si.upper - si.lower) * (sj.upper - sj.lower));
}

}  // namespace

double difference_step_for(double coordinate) {
  // A power of two near relative_step * max(|x|, floor): x + h and x - h are
  // then exact (barring a change of binade), so the stencil's spacing is the
  // step itself and the denominators carry no rounding.
  const double scale = std::fmax(std::fabs(coordinate), step_scale_floor);
  return std::exp2(std::round(std::log2(relative_step * scale)));
}

void observed_information(ObjectiveFunction objective, DoubleVector x, double f0, int n,
                          DoubleMatrix information) {
  assert(n >= 1);
  DoubleVector work = dvector(1, n);
  for (int k = 1; k <= n; ++k) work[k] = x[k];
  for (int i = 1; i <= n; ++i) {
    information[i][i] = diagonal_difference(objective, x, work, f0, i);
    for (int j = i + 1; j <= n; ++j) {
      information[i][j] = mixed_difference(objective, x, work, i, j);
      information[j][i] = information[i][j];
    }
  }
  release_dvector(work, 1, n);
}
