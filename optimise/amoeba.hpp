// Derivative-free minimisation by the downhill simplex method of Nelder and
// Mead (The Computer Journal 7, 1965).
//
// Conventions:
//   - A point has `dimension` coordinates, entries 1..dimension of a double
//     vector; the simplex is a dmatrix with rows 1..dimension+1 (one vertex
//     per row) and columns 1..dimension.  vertex_values[i] is always the
//     objective at row i: every move of a row moves its value with it.
//   - The objective is reached only through the function pointer; no
//     process-wide state is read or written.
//   - Each pass ranks the vertices, tests convergence on the relative spread
//     of their values, and replaces the highest vertex by a point on the line
//     through it and the centroid of the others (reflection, expansion or
//     contraction), or shrinks every vertex halfway toward the lowest one.
//   - Trial coordinates that are not positive are raised to a small positive
//     floor (the parameters are expected counts); shrunk vertices are not.
//   - The search ends when the spread falls strictly below `tolerance` (the
//     lowest vertex is then swapped into row 1) or when a pass begins with
//     the evaluation budget spent ("Too many iterations in AMOEBA" on
//     standard output, rows left as they are).  Convergence is tested first.
#pragma once

#include "foundation/index_ranged_arrays.hpp"
#include "optimise/objective_function.hpp"

// Minimises `objective` from the given simplex.  Precondition: dimension >= 1
// and vertex_values[i] holds the objective at row i for i = 1..dimension+1.
// *evaluations is set to the number of objective calls made here.
void amoeba(DoubleMatrix simplex, DoubleVector vertex_values, int dimension, double tolerance,
            ObjectiveFunction objective, int* evaluations);

// One trial step: evaluates the point (1 - factor)*c + factor*w, w being row
// `highest` and c the centroid of the other rows, each coordinate floored,
// and accepts it into row `highest` (keeping column_sums current) when its
// value is strictly lower than that row's.  Returns the trial value either
// way.  column_sums[j] must hold the sum of column j over all rows.
double amoeba_probe(DoubleMatrix simplex, DoubleVector vertex_values, DoubleVector column_sums,
                    int dimension, ObjectiveFunction objective, int highest, double factor);

// The three rows a pass works with.  Among equal lowest values the last row
// wins; among equal highest values the first row found keeps the place.
struct VertexRanking {
  int lowest;
  int highest;
  int next_highest;
};

VertexRanking rank_vertices(DoubleVector vertex_values, int dimension);
