// The fit of one model order with restarts: the downhill simplex search of
// the fitting program, then fresh searches from its lowest vertex until one
// no longer improves the objective.  interval-scan fitted this way before it
// had the exact gradient; the tests keep it as the simplex yardstick that
// the gradient fit must match or beat.
//
// Conventions: the objective is minimised over entries 1..n of a point
// (unscaled parameters, the expected numbers of events per interval); the
// model order it uses is the caller's business (the negative log-likelihood
// reads the process-wide model_order).
//
// First search: exactly the fitting program's.  The starting simplex holds
// the estimate in every coordinate, and row k (k = 2..n+1) adds the starting
// step to coordinate k-1; the vertices are evaluated in row order, and amoeba
// runs with the tolerance 1e-10.  Same operations, same bits.
//
// Restarts: a simplex search can collapse before it reaches the minimum
// (its vertices then agree in value while lying in a narrow valley).  A new
// simplex of the same shape is built around the lowest vertex found so far,
// with the same step, and searched again.  The restarts end when the lowest
// value no longer improves by more than the tolerance, measured as amoeba
// measures the spread of its vertex values,
//   2 |old - new| / (|old| + |new| + 1e-10) < tolerance,
// or when restart_limit restarts have all improved it.  The fit is the
// lowest vertex of the last search (the last of equal lowest values, as the
// minimiser itself ranks them).
#pragma once

#include <vector>

#include "foundation/index_ranged_arrays.hpp"
#include "optimise/gradient_fit.hpp"
#include "optimise/objective_function.hpp"
#include "optimise/starting_simplex.hpp"

// Restarts after the first search at most; well-behaved fits settle in two
// or three.
inline constexpr int default_restart_limit = 20;

// The fitting program's first search, bit for bit: the simplex around the
// estimate in every coordinate, its n+1 vertex values, then amoeba.  On
// return `simplex` and `vertex_values` (entries 1..n+1) hold the final
// simplex.  Returns the number of evaluations amoeba counted.
int first_search(ObjectiveFunction objective, int n, double estimate, DoubleMatrix simplex,
                 DoubleVector vertex_values);

// Whether the vertex values satisfy amoeba's convergence test, which is how
// a search that converged is told from one stopped by the evaluation limit.
bool vertex_values_converged(DoubleVector vertex_values, int n);

// Told when a search ends: 0 for the first, k for restart k.  A caller
// that shows progress learns here where the next messages belong.
using SearchEnded = void (*)(int search);

// The first search from `estimate`, then the restarts.  n >= 1.
OrderFit fit_with_restarts(ObjectiveFunction objective, int n, double estimate,
                           int restart_limit = default_restart_limit,
                           SearchEnded search_ended = nullptr);
