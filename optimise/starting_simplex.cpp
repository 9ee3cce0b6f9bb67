#include "optimise/starting_simplex.hpp"

namespace {

// x + starting_step e_{k-1} in row k, for k = 2..n+1.
void add_starting_steps(DoubleMatrix simplex, int n) {
  for (int k = 2; k <= n + 1; ++k) simplex[k][k - 1] += starting_step;
}

}  // namespace

void build_simplex_around(DoubleMatrix simplex, DoubleVector centre, int n) {
  for (int k = 1; k <= n + 1; ++k) {
    for (int j = 1; j <= n; ++j) simplex[k][j] = centre[j];
  }
  add_starting_steps(simplex, n);
}

void build_starting_simplex(DoubleMatrix simplex, int n, double estimate) {
  for (int k = 1; k <= n + 1; ++k) {
    for (int j = 1; j <= n; ++j) simplex[k][j] = estimate;
  }
  add_starting_steps(simplex, n);
}

void evaluate_vertices(ObjectiveFunction objective, DoubleMatrix simplex,
                       DoubleVector vertex_values, int n) {
  for (int k = 1; k <= n + 1; ++k) vertex_values[k] = objective(simplex[k]);
}
