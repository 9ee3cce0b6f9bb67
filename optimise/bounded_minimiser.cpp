#include "optimise/bounded_minimiser.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <nlopt.hpp>
#include <stdexcept>

namespace {

// The equality constraint sum(x) = c is met to this absolute tolerance,
// relative to c.
constexpr double sum_tolerance = 1e-12;

// What the library calls back: counts evaluations and remembers the lowest
// point, so that a search the library abandons still returns its best.
struct Tracker {
  const ObjectiveWithGradient* objective = nullptr;
  BoundedSearchResult* result = nullptr;
  std::vector<double> gradient;
  double scale = 1.0;  // the library sees objective / scale
};

double tracked_objective(const std::vector<double>& x, std::vector<double>& gradient, void* data) {
  Tracker& tracker = *static_cast<Tracker*>(data);
  tracker.gradient.resize(x.size());
  double value = (*tracker.objective)(x, tracker.gradient);
  // A value that is not a number would end the library's line search in
  // confusion; +infinity makes it step back instead.
  if (!std::isfinite(value)) value = std::numeric_limits<double>::infinity();
  BoundedSearchResult& result = *tracker.result;
  if (value < result.value) {
    result.value = value;
    result.point = x;
  }
  ++result.evaluations;
  if (!gradient.empty()) {
    for (std::size_t i = 0; i < gradient.size(); ++i) {
      gradient[i] = tracker.gradient[i] / tracker.scale;
    }
  }
  return value / tracker.scale;
}

// The held sum: its target and how many leading coordinates it covers.
struct HeldSum {
  double target = 0.0;
  std::size_t count = 0;
};

// sum(x_0 .. x_{count-1}) - c and its gradient, ones over those coordinates.
double sum_constraint(const std::vector<double>& x, std::vector<double>& gradient, void* data) {
  const HeldSum& held = *static_cast<const HeldSum*>(data);
  double sum = 0.0;
  for (std::size_t i = 0; i < held.count; ++i) sum += x[i];
  for (std::size_t i = 0; i < gradient.size(); ++i) gradient[i] = i < held.count ? 1.0 : 0.0;
  return sum - held.target;
}

SearchOutcome outcome_of(nlopt::result code) {
  switch (code) {
    case nlopt::MAXEVAL_REACHED:
    case nlopt::MAXTIME_REACHED:
      return SearchOutcome::evaluation_limit;
    default:
      return code > 0 ? SearchOutcome::converged : SearchOutcome::failed;
  }
}

}  // namespace

BoundedSearchResult minimise_bounded(const ObjectiveWithGradient& objective,
                                     const std::vector<double>& start,
                                     const BoundedSearchSettings& settings) {
  const unsigned n = static_cast<unsigned>(start.size());
  BoundedSearchResult result;
  Tracker tracker{&objective, &result, {}};
  HeldSum held{settings.fixed_sum.value_or(0.0),
               settings.summed_coordinates == 0
                   ? start.size()
                   : std::min(settings.summed_coordinates, start.size())};

  // The quasi-Newton method's first step is the negative gradient itself;
  // a sum over many observations has a gradient in the hundreds, and a step
  // that long can leap to a far plateau of the likelihood.  The library
  // therefore sees the objective divided by its size at the start, of
  // order 1 at every data size.
  {
    std::vector<double> gradient(n);
    const double at_start = objective(start, gradient);
    ++result.evaluations;
    result.point = start;
    result.value = std::isfinite(at_start) ? at_start : std::numeric_limits<double>::infinity();
    if (std::isfinite(at_start) && std::fabs(at_start) > 1.0) tracker.scale = std::fabs(at_start);
  }

  nlopt::opt opt(settings.fixed_sum ? nlopt::LD_SLSQP : nlopt::LD_LBFGS, n);
  std::vector<double> lower(n, 0.0);
  std::vector<double> upper(n, std::numeric_limits<double>::infinity());
  for (std::size_t i = 0; i < settings.upper_bounds.size() && i < upper.size(); ++i) {
    upper[i] = settings.upper_bounds[i];
  }
  std::vector<double> x = start;
  if (settings.fixed_coordinate) {
    const auto i = static_cast<std::size_t>(*settings.fixed_coordinate);
    lower[i] = upper[i] = x[i];
  }
  opt.set_lower_bounds(lower);
  opt.set_upper_bounds(upper);
  opt.set_min_objective(tracked_objective, &tracker);
  if (settings.fixed_sum) {
    opt.add_equality_constraint(sum_constraint, &held,
                                sum_tolerance * std::max(1.0, std::fabs(held.target)));
  }
  opt.set_xtol_rel(coordinate_tolerance);
  opt.set_ftol_rel(value_tolerance);
  opt.set_maxeval(settings.evaluation_limit);

  double value = std::numeric_limits<double>::quiet_NaN();
  try {
    result.outcome = outcome_of(opt.optimize(x, value));
  } catch (const nlopt::roundoff_limited&) {
    result.outcome = SearchOutcome::stalled;
  } catch (const std::runtime_error&) {
    result.outcome = SearchOutcome::failed;
  } catch (const std::invalid_argument&) {
    result.outcome = SearchOutcome::failed;
  }
  // With the sum held, the lowest point seen may break the constraint; the
  // library's final point is the one that keeps it.
  if (settings.fixed_sum && std::isfinite(value)) {
    result.point = x;
    result.value = value * tracker.scale;
  }
  return result;
}
