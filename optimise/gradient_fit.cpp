#include "optimise/gradient_fit.hpp"

#include <cassert>
#include <cmath>

#include "optimise/starting_simplex.hpp"

OrderFit fit_with_gradient(const ObjectiveWithGradient& objective, int n, double estimate,
                           const std::vector<double>& further_start,
                           const BoundedSearchSettings& bounds) {
  assert(n >= 1);
  long long evaluations = 0;
  std::vector<double> start(static_cast<std::size_t>(n), estimate);
  start.insert(start.end(), further_start.begin(), further_start.end());
  std::vector<double> gradient(start.size());
  // Where the estimate makes some observation impossible (an infinite
  // objective: every code R at an estimate of 0, or, at high orders, codes
  // that need a wrap of p events within an interval), no derivative can
  // lead the search.  The start then moves one starting step up and doubles
  // until every observation is possible; the search takes it from there.
  // An estimate so high that every observation without an event is
  // impossible (the Poisson terms underflow) is met the other way: when no
  // doubling helps, the start halves from the estimate down.
  auto move_start = [&](double level, double factor) {
    bool finite = false;
    for (int k = 0; k < start_doubling_limit && !finite; ++k) {
      for (int t = 0; t < n; ++t) start[static_cast<std::size_t>(t)] = level;
      finite = std::isfinite(objective(start, gradient));
      ++evaluations;
      level *= factor;
    }
    return finite;
  };
  ++evaluations;
  if (!std::isfinite(objective(start, gradient)) && !move_start(estimate + starting_step, 2.0)) {
    move_start(estimate * 0.5, 0.5);
  }
  OrderFit fit = fit_from(objective, start, bounds);
  fit.evaluations += evaluations;
  return fit;
}

OrderFit fit_from(const ObjectiveWithGradient& objective, const std::vector<double>& start,
                  const BoundedSearchSettings& bounds) {
  OrderFit fit;
  BoundedSearchResult search = minimise_bounded(objective, start, bounds);
  fit.evaluations += search.evaluations;
  fit.first_search_objective = search.value;
  bool settled = false;
  while (!settled && fit.restarts < gradient_restart_limit &&
         search.outcome != SearchOutcome::failed && std::isfinite(search.value)) {
    const BoundedSearchResult restart = minimise_bounded(objective, search.point, bounds);
    fit.evaluations += restart.evaluations;
    ++fit.restarts;
    // (old - new) / |old|: how much the restart still found.
    const double gain = (search.value - restart.value) / std::fabs(search.value);
    settled = !(gain > restart_improvement);
    if (restart.value <= search.value) search = restart;
  }
  fit.restart_limit_reached = !settled;
  fit.evaluation_limit_reached = search.outcome == SearchOutcome::evaluation_limit;
  fit.parameters = search.point;
  fit.objective = search.value;
  return fit;
}
