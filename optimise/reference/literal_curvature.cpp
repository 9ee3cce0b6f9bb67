#include "optimise/reference/literal_curvature.hpp"

namespace {
constexpr double difference_step = 0.001;
}

void build_curvature_literally(ObjectiveFunction objective, DoubleVector x, double f0, int n,
                               DoubleMatrix curvature) {
  DoubleVector point_ij = dvector(0, n);
  DoubleVector point_i = dvector(0, n);
  DoubleVector point_j = dvector(0, n);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      for (int k = 1; k <= n; ++k) {
        point_ij[k] = (k == i || k == j) ? x[k] + difference_step : x[k];
        point_i[k] = k == i ? x[k] + difference_step : x[k];
        point_j[k] = k == j ? x[k] + difference_step : x[k];
      }
      const double value_ij = objective(point_ij);
      const double value_i = objective(point_i);
      const double value_j = objective(point_j);
      curvature[i][j] = (((-value_ij) + value_i) + value_j) - f0;
      curvature[i][j] = curvature[i][j] / difference_step;
      curvature[i][j] = curvature[i][j] / difference_step;
    }
  }
  release_dvector(point_j, 0, n);
  release_dvector(point_i, 0, n);
  release_dvector(point_ij, 0, n);
}
