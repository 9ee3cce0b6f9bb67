#include "optimise/reference/order_scan.hpp"

#include <cassert>

#include "optimise/amoeba.hpp"
#include "optimise/relative_spread.hpp"

namespace {

// One search from the simplex as given; returns amoeba's evaluation count.
int search(ObjectiveFunction objective, DoubleMatrix simplex, DoubleVector vertex_values, int n) {
  evaluate_vertices(objective, simplex, vertex_values, n);
  int evaluations = 0;
  amoeba(simplex, vertex_values, n, search_tolerance, objective, &evaluations);
  return evaluations;
}

void copy_lowest_vertex(DoubleMatrix simplex, DoubleVector vertex_values, int n, DoubleVector point,
                        double& value) {
  const int lowest = rank_vertices(vertex_values, n).lowest;
  for (int j = 1; j <= n; ++j) point[j] = simplex[lowest][j];
  value = vertex_values[lowest];
}

}  // namespace

int first_search(ObjectiveFunction objective, int n, double estimate, DoubleMatrix simplex,
                 DoubleVector vertex_values) {
  assert(n >= 1);
  build_starting_simplex(simplex, n, estimate);
  return search(objective, simplex, vertex_values, n);
}

bool vertex_values_converged(DoubleVector vertex_values, int n) {
  const VertexRanking ranking = rank_vertices(vertex_values, n);
  return relative_spread(vertex_values[ranking.highest], vertex_values[ranking.lowest]) <
         search_tolerance;
}

OrderFit fit_with_restarts(ObjectiveFunction objective, int n, double estimate, int restart_limit,
                           SearchEnded search_ended) {
  assert(n >= 1 && restart_limit >= 0);
  DoubleMatrix simplex = dmatrix(1, n + 1, 1, n);
  DoubleVector vertex_values = dvector(1, n + 1);
  DoubleVector lowest_point = dvector(1, n);
  // Each search evaluates its n+1 starting vertices itself.
  const long long vertex_evaluations = n + 1;

  OrderFit fit;
  fit.evaluations =
      first_search(objective, n, estimate, simplex, vertex_values) + vertex_evaluations;
  fit.evaluation_limit_reached = !vertex_values_converged(vertex_values, n);
  if (search_ended != nullptr) search_ended(0);
  double lowest_value = 0.0;
  copy_lowest_vertex(simplex, vertex_values, n, lowest_point, lowest_value);
  fit.first_search_objective = lowest_value;

  bool settled = false;
  while (!settled && fit.restarts < restart_limit) {
    build_simplex_around(simplex, lowest_point, n);
    fit.evaluations += search(objective, simplex, vertex_values, n) + vertex_evaluations;
    fit.evaluation_limit_reached = !vertex_values_converged(vertex_values, n);
    ++fit.restarts;
    if (search_ended != nullptr) search_ended(fit.restarts);
    // The old lowest vertex is row 1 of the new simplex, and no move of the
    // minimiser loses the lowest vertex, so the new value is never higher.
    const double previous_value = lowest_value;
    copy_lowest_vertex(simplex, vertex_values, n, lowest_point, lowest_value);
    settled = !(relative_spread(previous_value, lowest_value) >= search_tolerance);
  }
  fit.restart_limit_reached = !settled;

  fit.objective = lowest_value;
  fit.parameters.resize(static_cast<std::size_t>(n));
  for (int j = 1; j <= n; ++j) fit.parameters[static_cast<std::size_t>(j - 1)] = lowest_point[j];

  release_dvector(lowest_point, 1, n);
  release_dvector(vertex_values, 1, n + 1);
  release_dmatrix(simplex, 1, n + 1, 1, n);
  return fit;
}
