#include "optimise/observed_information.hpp"

#include <cassert>
#include <cmath>

namespace {

// A Cholesky pivot must exceed this fraction of the diagonal entry it was
// reduced from.  The differences carry six to eight significant digits; a
// pivot smaller than this is cancellation noise, and the matrix cannot be
// told from a singular one.
constexpr double relative_pivot_floor = 1e-10;

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

// a = L L^T, L lower triangular, written into the lower triangle of `l`.
// False when a pivot is not clearly positive or not a number.
bool cholesky_factor(DoubleMatrix a, int n, DoubleMatrix l) {
  for (int k = 1; k <= n; ++k) {
    // L_kk^2 = a_kk - sum_{m<k} L_km^2
    double pivot = a[k][k];
    for (int m = 1; m < k; ++m) pivot -= l[k][m] * l[k][m];
    if (!(pivot > relative_pivot_floor * a[k][k]) || !(pivot > 0.0) || !std::isfinite(pivot)) {
      return false;
    }
    l[k][k] = std::sqrt(pivot);
    // L_ik = (a_ik - sum_{m<k} L_im L_km) / L_kk for i > k
    for (int i = k + 1; i <= n; ++i) {
      double entry = a[i][k];
      for (int m = 1; m < k; ++m) entry -= l[i][m] * l[k][m];
      l[i][k] = entry / l[k][k];
      if (!std::isfinite(l[i][k])) return false;
    }
  }
  return true;
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

bool invert_positive_definite(DoubleMatrix a, int n, DoubleMatrix inverse) {
  assert(n >= 1);
  for (int k = 1; k <= n; ++k) {
    if (!std::isfinite(a[k][k])) return false;
  }
  DoubleMatrix l = dmatrix(1, n, 1, n);
  const bool positive_definite = cholesky_factor(a, n, l);
  if (positive_definite) {
    // Column c of the inverse solves L L^T z = e_c: forward substitution
    // for y = L^-1 e_c, then back substitution for z = L^-T y.
    DoubleVector y = dvector(1, n);
    for (int c = 1; c <= n; ++c) {
      for (int i = 1; i <= n; ++i) {
        double value = i == c ? 1.0 : 0.0;
        for (int m = 1; m < i; ++m) value -= l[i][m] * y[m];
        y[i] = value / l[i][i];
      }
      for (int i = n; i >= 1; --i) {
        double value = y[i];
        for (int m = i + 1; m <= n; ++m) value -= l[m][i] * inverse[m][c];
        inverse[i][c] = value / l[i][i];
      }
    }
    // The two triangles are solved separately and may differ in the last
    // bit; the covariance is symmetric by definition.
    for (int i = 1; i <= n; ++i) {
      for (int c = i + 1; c <= n; ++c) {
        const double mean = 0.5 * (inverse[i][c] + inverse[c][i]);
        inverse[i][c] = mean;
        inverse[c][i] = mean;
      }
    }
    release_dvector(y, 1, n);
  }
  release_dmatrix(l, 1, n, 1, n);
  return positive_definite;
}
