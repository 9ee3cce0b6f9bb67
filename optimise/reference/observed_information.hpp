// The observed information at a fitted point, from second differences of
// the objective's values.
//
// Conventions: f is an objective of the usual type (entries 1..n of a double
// vector; here the negative log-likelihood summed over all observations, so
// its Hessian at the minimum is the observed information itself, with no
// division by the number of observations).  Matrices are dmatrix over rows
// and columns 1..n.
//
// Method: second differences with a step scaled to each coordinate,
//   h_i = relative_step * max(|x_i|, step_scale_floor),
// central where the coordinate can move down by h_i without leaving the
// non-negative half-line the parameters live on, forward otherwise:
//   central  d2f/dx_i^2  ~ (f(x + h_i e_i) - 2 f(x) + f(x - h_i e_i)) / h_i^2
//   forward  d2f/dx_i^2  ~ (f(x + 2 h_i e_i) - 2 f(x + h_i e_i) + f(x)) / h_i^2
// and for i != j the product of the two first-difference stencils,
//   d2f/dx_i dx_j ~ (f(a_i, a_j) - f(a_i, b_j) - f(b_i, a_j) + f(b_i, b_j))
//                   / ((a_i - b_i)(a_j - b_j)),
// with (a, b) = (x + h, x - h) for a central coordinate and (x + h, x) for a
// forward one.  Each unordered pair is differenced once and stored in both
// triangles, so the matrix is exactly symmetric.  The central error is
// O(h^2) against a rounding error of O(eps |f| / h^2); h = 1e-4 |x| (about
// eps^(1/4)) balances the two.
//
// The scan differences the exact gradient instead (gradient_information.hpp);
// this form, from values alone, is the yardstick its tests measure against.
#pragma once

#include "foundation/index_ranged_arrays.hpp"
#include "optimise/objective_function.hpp"

// The step in coordinate i is this fraction of max(|x_i|, step_scale_floor).
inline constexpr double relative_step = 1e-4;
// Parameters smaller than this still get the step of a parameter this size.
inline constexpr double step_scale_floor = 0.1;

// The step h_i used for a coordinate of value x_i.
double difference_step_for(double coordinate);

// Fills information[1..n][1..n] with the second differences of `objective`
// around x (entries 1..n), f0 being the objective at x.  Coordinates below
// their step are differenced forward, so no point with a coordinate below 0
// is ever evaluated.  x is left as it was.
void observed_information(ObjectiveFunction objective, DoubleVector x, double f0, int n,
                          DoubleMatrix information);
