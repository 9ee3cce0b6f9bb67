// The simplex a fit starts from, shared by the fitting program and the
// order scan so that both begin their search from the same bits.
//
// Around a centre x (entries 1..n), vertex 1 is x itself and vertex k
// (k = 2..n+1) is x + starting_step e_{k-1}: every vertex differs from the
// first in one coordinate only.  The vertex values are evaluated in row
// order, 1..n+1, before the search starts.
#pragma once

#include "foundation/index_ranged_arrays.hpp"
#include "optimise/objective_function.hpp"

// The search stops when the vertex values agree to this relative spread.
inline constexpr double search_tolerance = 1e-10;

// Each starting vertex after the first moves one coordinate by this much.
inline constexpr double starting_step = 0.2;

// Rows 1..n+1, columns 1..n of `simplex` around `centre` (entries 1..n).
void build_simplex_around(DoubleMatrix simplex, DoubleVector centre, int n);

// The same around the point with `estimate` in every coordinate.
void build_starting_simplex(DoubleMatrix simplex, int n, double estimate);

// vertex_values[k] = objective(row k) for k = 1..n+1, in that order.
void evaluate_vertices(ObjectiveFunction objective, DoubleMatrix simplex,
                       DoubleVector vertex_values, int n);
