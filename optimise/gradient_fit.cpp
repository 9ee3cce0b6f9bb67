#include "optimise/gradient_fit.hpp"

#include <cassert>
#include <cmath>

#include "optimise/starting_simplex.hpp"

OrderFit fit_with_gradient(const ObjectiveWithGradient& objective, int n, double estimate) {
  assert(n >= 1);
  OrderFit fit;
  std::vector<double> start(static_cast<std::size_t>(n), estimate);
  std::vector<double> gradient(start.size());
  if (!std::isfinite(objective(start, gradient))) {
    // An estimate of 0 makes every code R impossible (infinite objective),
    // where no derivative can lead the search; the simplex's first move,
    // one starting step in every coordinate, gives it a finite start.
    for (double& x : start) x += starting_step;
    ++fit.evaluations;
  }
  BoundedSearchResult search = minimise_bounded(objective, start);
  fit.evaluations += search.evaluations;
  fit.first_search_objective = search.value;
  bool settled = false;
  while (!settled && fit.restarts < gradient_restart_limit &&
         search.outcome != SearchOutcome::failed && std::isfinite(search.value)) {
    const BoundedSearchResult restart = minimise_bounded(objective, search.point);
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
