// The curvature matrix computed the long way, as a reference for the
// memoised build: for every ordered pair (i, j) three fresh points and three
// objective calls, 3n^2 calls in all.
#pragma once

#include "foundation/index_ranged_arrays.hpp"
#include "optimise/objective_function.hpp"

void build_curvature_literally(ObjectiveFunction objective, DoubleVector x, double f0, int n,
                               DoubleMatrix curvature);
