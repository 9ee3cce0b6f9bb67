// Minimisation with derivatives over parameters bounded below by 0, the
// one place that calls the optimisation library (NLopt).
//
// Conventions: points are 0-based vectors of the n parameters; the
// objective returns its value and writes its gradient (same length).  Every
// parameter has lower bound 0 and may have an upper bound; a coordinate may
// instead be held fixed at a value, and the sum of all coordinates (or of
// the leading ones) may be held at a value.
//
// Method: the limited-memory BFGS quasi-Newton method with bounds (D. C.
// Liu and J. Nocedal, "On the limited memory BFGS method for large scale
// optimization", Math. Programming 45, 1989; NLopt's implementation by
// L. Luksan), or, when the sum is held, sequential quadratic programming
// (D. Kraft, "A software package for sequential quadratic programming",
// DFVLR-FB 88-28, 1988), which handles the equality constraint directly.
// A search ends when a step changes every coordinate by less than the
// relative tolerance, or the value by less than its relative tolerance.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

using ObjectiveWithGradient =
    std::function<double(const std::vector<double>& x, std::vector<double>& gradient)>;

// A step changing each coordinate by less than this fraction ends a search.
inline constexpr double coordinate_tolerance = 1e-10;
// As does a step changing the value by less than this fraction of it.
inline constexpr double value_tolerance = 1e-15;
// Objective evaluations allowed to one search.
inline constexpr int search_evaluation_limit = 20000;

struct BoundedSearchSettings {
  std::optional<int> fixed_coordinate;  // held at its starting value
  std::optional<double> fixed_sum;      // sum of all coordinates held at this
  // With a sum held: how many leading coordinates it covers (0: all).
  std::size_t summed_coordinates = 0;
  // Upper bound per coordinate; empty, or shorter than the point, means
  // none for the coordinates not given.
  std::vector<double> upper_bounds;
  int evaluation_limit = search_evaluation_limit;
};

enum class SearchOutcome {
  converged,         // a tolerance was met
  evaluation_limit,  // stopped by the evaluation limit
  stalled,           // rounding prevents further progress (usually at the minimum)
  failed,            // the library gave up; the best point seen is returned
};

struct BoundedSearchResult {
  std::vector<double> point;  // the lowest point evaluated
  double value = 0.0;         // the objective there
  long long evaluations = 0;
  SearchOutcome outcome = SearchOutcome::failed;
};

// Minimises from `start` (every coordinate at least 0; when a sum is held
// the start need not satisfy it).
BoundedSearchResult minimise_bounded(const ObjectiveWithGradient& objective,
                                     const std::vector<double>& start,
                                     const BoundedSearchSettings& settings = {});
