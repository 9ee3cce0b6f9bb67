// The observed information (the Hessian of the negative log-likelihood) at
// a fitted point, from central differences of the exact gradient, and the
// covariance of the free parameters.
//
// Conventions: 0-based parameters, bounded below by 0; matrices are dense
// row-major n x n.  The negative log-likelihood is summed over all
// observations, so its Hessian at the minimum is the observed information.
//
// Method: row i of the Hessian is
//   H[i][j] ~ (g_j(x + h_i e_i) - g_j(x - h_i e_i)) / (2 h_i),
//   h_i = information_step * max(|x_i|, information_step_floor),
// whose truncation error is O(h^2) and rounding error O(eps |g| / h);
// h ~ 1e-5 keeps both near 1e-10 relative.  The matrix is symmetrised,
// (H + H^T) / 2.
//
// A parameter closer to the bound 0 than its step cannot be differenced
// centrally; the fit then sits on the bound, where the likelihood's
// curvature says nothing about the uncertainty (the estimate is not
// asymptotically normal there).  Such a parameter is `at_bound`: it gets no
// Wald error, and the covariance of the others is the inverse of their own
// block of the information (the bound parameter held at its value).
#pragma once

#include <vector>

#include "optimise/bounded_minimiser.hpp"
#include "optimise/objective_function.hpp"

// Step of the gradient differences, relative to max(|x_i|, floor).
inline constexpr double information_step = 1e-5;
inline constexpr double information_step_floor = 0.1;

struct ParameterCovariance {
  std::vector<bool> at_bound;      // per parameter
  bool positive_definite = false;  // the free block's information
  // Row-major n x n; meaningful only between free parameters and only when
  // positive_definite.
  std::vector<double> covariance;
  long long evaluations = 0;
};

// Whether parameter value x is too close to the bound for central
// differences.
bool parameter_at_bound(double x);

// A parameter with an upper bound (`upper_bounds`, where given) is at bound
// too when its step would cross it.
// The rows of the Hessian are independent; with Evaluation::concurrent
// they are computed on the worker threads, each into its own row.
ParameterCovariance covariance_from_gradient(const ObjectiveWithGradient& objective,
                                             const std::vector<double>& x,
                                             const std::vector<double>& upper_bounds = {},
                                             Evaluation evaluation = Evaluation::sequential);
