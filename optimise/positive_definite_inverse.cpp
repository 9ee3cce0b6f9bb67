#include "optimise/positive_definite_inverse.hpp"

#include <cassert>
#include <cmath>

namespace {

// A Cholesky pivot must exceed this fraction of the diagonal entry it was
// reduced from.  The differences carry six to eight significant digits; a
// pivot smaller than this is cancellation noise, and the matrix cannot be
// told from a singular one.
constexpr double relative_pivot_floor = 1e-10;

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
