// The fit of one model order with derivatives: a bounded quasi-Newton
// search from the estimate in every coordinate, restarted from its own end
// (with a fresh curvature memory) until a restart no longer lowers the
// objective.
//
// Conventions: the objective (with gradient) is minimised over the n
// unscaled parameters, 0-based, each bounded below by 0.
#pragma once

#include <vector>

#include "optimise/bounded_minimiser.hpp"

// Restarts after the first search at most.  A restart from a converged
// quasi-Newton search usually ends after a few evaluations.
inline constexpr int gradient_restart_limit = 10;

// A restart that lowers the objective by less than this relative amount
// ends the fit.
inline constexpr double restart_improvement = 1e-12;

// Doublings of the start allowed while the objective there is infinite.
inline constexpr int start_doubling_limit = 40;

// The fit of one order: the searches' end, how they ended and what it cost.
struct OrderFit {
  std::vector<double> parameters;         // the fitted point, unscaled, parameter t at index t-1
  double objective = 0.0;                 // the objective there
  double first_search_objective = 0.0;    // the objective after the first search
  int restarts = 0;                       // searches after the first
  bool restart_limit_reached = false;     // every allowed restart still improved
  bool evaluation_limit_reached = false;  // the last search stopped at its limit
  long long evaluations = 0;              // all objective calls
  const char* start = "";                 // the caller's name for the start that won
  bool converged() const { return !restart_limit_reached && !evaluation_limit_reached; }
};

// `objective` and `parameters` in the result are the search's own values;
// evaluations counts every call of the objective.  n >= 1.  Further
// coordinates after the n parameters (such as an escape fraction) start at
// `further_start` and keep their value while the start is moved up; their
// bounds come with `bounds`.
OrderFit fit_with_gradient(const ObjectiveWithGradient& objective, int n, double estimate,
                           const std::vector<double>& further_start = {},
                           const BoundedSearchSettings& bounds = {});

// The searches and restarts alone, from `start` as given.
OrderFit fit_from(const ObjectiveWithGradient& objective, const std::vector<double>& start,
                  const BoundedSearchSettings& bounds = {});
