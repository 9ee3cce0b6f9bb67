// Standard errors of the fitted interval parameters.
//
// Conventions: x is the reported point (best_point, entries 1..n, unscaled),
// f0 the objective there (best_value), h the difference step.  The
// curvature matrix is the finite-difference estimate
//   C[i][j] = (f(x + h e_i) + f(x + h e_j) - f(x + h e_i + h e_j) - f0) / h^2,
// a coordinate being moved at most once, so the diagonal reads
//   C[i][i] = (f(x + h e_i) - f0) / h^2.
// The matrix is used as it comes out (not symmetrised), inverted by
// Gauss-Jordan elimination, and the standard error of parameter i is
//   sqrt(C^-1[i][i] / observation_count) / (2p),
// the same division by 2p that turns a parameter into an interval length.
// A negative diagonal of the inverse gives NaN, printed as the platform
// prints it; nothing is corrected.
#pragma once

#include "foundation/index_ranged_arrays.hpp"
#include "optimise/objective_function.hpp"

// The reported point (a dvector over 0..n, entries 1..n used) and the
// objective there, stored by the run driver before standard_errors runs.
extern DoubleVector best_point;
extern double best_value;

// Fills curvature[1..n][1..n] (allocated by the caller) with the matrix
// above for `objective` around x, f0 being the objective at x.  Each
// distinct point is evaluated once, n(n+1)/2 calls in all; the objective
// must be a pure function of the point.  The matrix is the same, bit for
// bit, however the points are shared among threads.
void build_curvature(ObjectiveFunction objective, DoubleVector x, double f0, int n,
                     DoubleMatrix curvature, Evaluation evaluation = Evaluation::sequential);

// The whole step for a given objective: builds its curvature around
// best_point, inverts it and prints "Standard Error: " and one value per
// interval, then appends the same values to etest.txt.  A singular matrix
// ends the process before anything is printed.  The run calls it through
// standard_errors(); tests and the metered and step-by-step whole runs pass
// their own objective here.
void standard_errors_for(ObjectiveFunction objective,
                         Evaluation evaluation = Evaluation::sequential);

// The step of the fit: standard_errors_for the model's
// negative_log_likelihood, its points evaluated on the worker threads.
void standard_errors();
