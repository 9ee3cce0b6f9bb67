#include "optimise/gradient_fit.hpp"

#include <cassert>
#include <cmath>

OrderFit fit_with_gradient(const ObjectiveWithGradient& objective, int n, double estimate) {
  assert(n >= 1);
  OrderFit fit;
  BoundedSearchResult search =
      minimise_bounded(objective, std::vector<double>(static_cast<std::size_t>(n), estimate));
  fit.evaluations = search.evaluations;
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
