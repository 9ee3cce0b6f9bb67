#include "driver/scan_run.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <utility>

#include "foundation/index_ranged_arrays.hpp"
#include "foundation/worker_threads.hpp"
#include "model/likelihood.hpp"
#include "model/likelihood_gradient.hpp"
#include "model/observations.hpp"
#include "optimise/gradient_fit.hpp"
#include "optimise/gradient_information.hpp"
#include "optimise/profile_likelihood.hpp"

namespace {

// Without a Wald error, the first step is this share of the value, and of
// no less than this many events.
constexpr double blind_step_share = 0.1;
constexpr double blind_step_floor = 1.0;

// Where the search for the escape fraction starts, from the lengths of the
// fit without escape: a small share, off the bound, so the first gradient
// can point either way.
constexpr double escape_start = 0.1;
// The same for the misread rate: a small share, as real error rates are.
constexpr double error_start = 0.01;
// The tops of the fractions' ranges.
constexpr double escape_upper = 1.0;
constexpr double error_upper = 0.5;

// Besides the estimate, each order is fitted from these levels in every
// coordinate: the estimate and the default estimate as they are, and both
// scaled with the order.  A parameter is lambda = 2p x length, so a level
// scaled with p keeps the lengths of the order-1 start; unscaled, a high
// order starts with lengths so short that a class change (p events) is
// all but impossible and the likelihood underflows.
constexpr double default_estimate = 0.5;

// A fit from another start replaces the one in hand only when it is lower
// by more than this share of it: the same maximum reached from elsewhere
// differs by the searches' rounding, and keeps the first start's fit.
constexpr double start_improvement = 1e-9;

// Rounds of refits from the neighbouring orders' fits, at most; a round
// that improves no order ends them.
constexpr int neighbour_round_limit = 10;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Whether q is among the fitted coordinates (it is not where the order
// leaves it unidentified).
bool fits_escape(const OrderResult& result) {
  return result.escape.fitted && result.escape.identified;
}

bool fits_error(const OrderResult& result) { return result.error.fitted; }

// The parameters of a fit to `tables`: every table's intervals.
std::size_t parameter_count(const std::vector<const HeldTable*>& tables) {
  if (tables.empty()) return static_cast<std::size_t>(interval_count);
  std::size_t count = 0;
  for (const HeldTable* table : tables) count += static_cast<std::size_t>(table->intervals());
  return count;
}

ModelTerms terms_of(const OrderResult& result) {
  return ModelTerms{.escape = fits_escape(result), .misreads = fits_error(result)};
}

// The negative log-likelihood of `tables` (the installed table where there
// are none) at `order`, with its exact gradient, and with q and then e
// after the parameters as `terms` asks; every evaluation is told.
ObjectiveWithGradient counted_objective(const std::vector<const HeldTable*>& tables, int order,
                                        ModelTerms terms, ScanObserver& observer) {
  return [tables, order, terms, &observer](const std::vector<double>& point,
                                           std::vector<double>& gradient) {
    if (observer.stop_requested()) return std::numeric_limits<double>::quiet_NaN();
    const double value =
        tables.empty()
            ? negative_log_likelihood_and_gradient(order, terms, point, gradient)
            : negative_log_likelihood_and_gradient(tables, order, terms, point, gradient);
    observer.evaluated(order);
    return value;
  };
}

// The bounds of a fit with fractions: the parameters have none above, q
// has 1 and e has 1/2.  The total length sums the parameters only.
BoundedSearchSettings bounds_for(std::size_t n, ModelTerms terms) {
  BoundedSearchSettings bounds;
  if (terms.escape || terms.misreads) {
    bounds.upper_bounds.assign(n, std::numeric_limits<double>::infinity());
    if (terms.escape) bounds.upper_bounds.push_back(escape_upper);
    if (terms.misreads) bounds.upper_bounds.push_back(error_upper);
    bounds.summed_coordinates = n;
  }
  return bounds;
}

// The index of q and of e in the fitted point.
std::size_t escape_index(const OrderResult& result) { return result.fit.parameters.size(); }
std::size_t error_index(const OrderResult& result) {
  return result.fit.parameters.size() + (fits_escape(result) ? 1 : 0);
}

// The covariance of the fitted parameters and the lengths at bound (and of
// q, when fitted: the lengths' errors then allow for its uncertainty).
void add_standard_errors(OrderResult& result, ScanObserver& observer) {
  const auto n = static_cast<int>(result.fit.parameters.size());
  const std::vector<double> point = fitted_point(result);
  const std::size_t size = point.size();
  const ParameterCovariance information =
      covariance_from_gradient(objective_of(result, observer), point,
                               bounds_of(result).upper_bounds, Evaluation::concurrent);
  result.at_bound.assign(information.at_bound.begin(),
                         information.at_bound.begin() + static_cast<std::ptrdiff_t>(n));
  DoubleMatrix covariance = dmatrix(1, n, 1, n);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      covariance[i][j] =
          information
              .covariance[static_cast<std::size_t>(i - 1) * size + static_cast<std::size_t>(j - 1)];
    }
  }
  const bool any_free = std::find(information.at_bound.begin(), information.at_bound.end(),
                                  false) != information.at_bound.end();
  set_standard_errors(result, information.positive_definite || !any_free ? &covariance : nullptr);
  release_dmatrix(covariance, 1, n, 1, n);
  auto fraction_error = [&information, size](FractionResult& e, std::size_t k) {
    e.at_bound = information.at_bound[k];
    e.has_standard_error = information.positive_definite && !e.at_bound;
    e.standard_error = e.has_standard_error ? std::sqrt(information.covariance[k * size + k]) : 0.0;
  };
  if (fits_escape(result)) fraction_error(result.escape, escape_index(result));
  if (fits_error(result)) fraction_error(result.error, error_index(result));
}

// The fitting program's objective at the fitted parameters: the reported
// log-likelihood of a fit without escape.
double fitting_program_objective(int order, const std::vector<double>& parameters) {
  const int n = static_cast<int>(parameters.size());
  DoubleVector point = dvector(1, n);
  for (int j = 1; j <= n; ++j) point[j] = parameters[static_cast<std::size_t>(j - 1)];
  const double value = negative_log_likelihood_of_order(order, point);
  release_dvector(point, 1, n);
  return value;
}

// The first outward step of a profile: to the end the Wald interval
// predicts where there is one (the profile's slope there points the Newton
// steps at the crossing from either side), else a share of the value.
double first_profile_step(double value, bool wald, double standard_error) {
  return wald ? wald_quantile_95 * standard_error
              : blind_step_share * std::fmax(value, blind_step_floor);
}

// The order indices, costliest (highest order) first, ties in their own
// order.
std::vector<std::size_t> costliest_first(const std::vector<int>& orders) {
  std::vector<std::size_t> indices(orders.size());
  for (std::size_t k = 0; k < orders.size(); ++k) indices[k] = k;
  std::stable_sort(indices.begin(), indices.end(),
                   [&orders](std::size_t a, std::size_t b) { return orders[a] > orders[b]; });
  return indices;
}

// Whether fit `a` beats fit `b` by more than the searches' rounding.
bool improves(const OrderFit& a, const OrderFit& b) {
  if (!std::isfinite(a.objective)) return false;
  if (!std::isfinite(b.objective)) return true;
  return a.objective < b.objective - start_improvement * std::fabs(b.objective);
}

// `candidate` becomes the fit when it is better; the evaluations of both
// are counted either way.
void keep_better(OrderFit& fit, OrderFit candidate) {
  const long long evaluations = fit.evaluations + candidate.evaluations;
  if (improves(candidate, fit)) fit = std::move(candidate);
  fit.evaluations = evaluations;
}

// A further start: its level in every coordinate, and its name.
struct FurtherStart {
  double level;
  const char* name;
};

// The further starts at `order`, without repeats.
std::vector<FurtherStart> further_starts(int order, double estimate) {
  const double p = static_cast<double>(order);
  std::vector<FurtherStart> starts;
  for (const FurtherStart start : {FurtherStart{estimate * p, "estimate x p"},
                                   FurtherStart{default_estimate, "default estimate"},
                                   FurtherStart{default_estimate * p, "default estimate x p"}}) {
    const bool repeated = std::any_of(starts.begin(), starts.end(), [&](const FurtherStart& s) {
      return s.level == start.level;
    });
    if (start.level != estimate && !repeated) starts.push_back(start);
  }
  return starts;
}

// Step 1a's search at one order: from the estimate, then from the further
// starts, keeping the best.
OrderFit fit_from_starts(int order, const ScanSettings& settings, ScanObserver& observer) {
  const ObjectiveWithGradient objective =
      counted_objective(settings.files, order, ModelTerms{}, observer);
  const auto n = static_cast<int>(parameter_count(settings.files));
  OrderFit fit = fit_with_gradient(objective, n, settings.estimate);
  fit.start = "estimate";
  for (const FurtherStart& start : further_starts(order, settings.estimate)) {
    OrderFit candidate = fit_with_gradient(objective, n, start.level);
    candidate.start = start.name;
    keep_better(fit, std::move(candidate));
  }
  return fit;
}

// The parameters of a fit at order `from`, carried to order `to` with the
// same lengths: lambda_t scales with p.
std::vector<double> carried_parameters(const OrderFit& fit, int from, int to) {
  std::vector<double> start = fit.parameters;
  const double ratio = static_cast<double>(to) / static_cast<double>(from);
  for (double& parameter : start) parameter *= ratio;
  return start;
}

// Refits every order from the fits of its neighbours in the list (their
// lengths carried over), in rounds: a round reads the fits the last one
// left and writes new ones, so the result does not depend on which thread
// finished first.  An order whose neighbours did not change in the last
// round is not refitted.
std::vector<char> refit_from_neighbours(const ScanSettings& settings, std::vector<OrderFit>& fits,
                                        ScanObserver& observer) {
  const std::vector<int>& orders = settings.orders;
  const std::size_t count = orders.size();
  std::vector<char> changed(count, 1);
  std::vector<char> raised(count, 0);
  for (int round = 0; round < neighbour_round_limit; ++round) {
    const std::vector<OrderFit> before = fits;
    std::vector<char> improved(count, 0);
    run_in_parallel(static_cast<int>(count), [&](int task) {
      const auto k = static_cast<std::size_t>(task);
      const ObjectiveWithGradient objective =
          counted_objective(settings.files, orders[k], ModelTerms{}, observer);
      for (const std::size_t j : {k - 1, k + 1}) {
        if (j >= count || !changed[j] || !std::isfinite(before[j].objective)) continue;
        OrderFit candidate =
            fit_from(objective, carried_parameters(before[j], orders[j], orders[k]));
        candidate.start = j < k ? "fit of the order below" : "fit of the order above";
        if (improves(candidate, fits[k])) improved[k] = 1;
        keep_better(fits[k], std::move(candidate));
      }
    });
    changed = improved;
    for (std::size_t k = 0; k < count; ++k) {
      if (changed[k] != 0) raised[k] = 1;
    }
    if (std::find(changed.begin(), changed.end(), 1) == changed.end()) break;
  }
  return raised;
}

// A fit over the lengths and the fractions `terms` names: its point is the
// parameters, then q, then e.
struct TermsFit {
  ModelTerms terms;
  OrderFit fit;
};

// The fit with `terms` from `from`, whose fractions are among them: from's
// point with each new fraction at its start.  from's point with the new
// fractions at 0 lies in the larger model, so when the search ends higher
// it is the fit: the result is never above from.
TermsFit fit_terms(const OrderResult& result, ModelTerms terms, const TermsFit& from,
                   ScanObserver& observer) {
  const std::size_t n = parameter_count(result.tables);
  const std::vector<double>& had = from.fit.parameters;
  std::size_t k = n;
  const double q = from.terms.escape ? had[k++] : 0.0;
  const double e = from.terms.misreads ? had[k] : 0.0;
  std::vector<double> start(had.begin(), had.begin() + static_cast<std::ptrdiff_t>(n));
  std::vector<double> held = start;
  if (terms.escape) {
    start.push_back(from.terms.escape ? q : escape_start);
    held.push_back(q);
  }
  if (terms.misreads) {
    start.push_back(from.terms.misreads ? e : error_start);
    held.push_back(e);
  }
  OrderFit full = fit_from(counted_objective(result.tables, result.order, terms, observer), start,
                           bounds_for(n, terms));
  full.evaluations += from.fit.evaluations;
  full.start = from.fit.start;
  if (!(full.objective <= from.fit.objective)) {
    const long long evaluations = full.evaluations;
    full = from.fit;
    full.parameters = held;
    full.evaluations = evaluations;
  }
  return TermsFit{terms, std::move(full)};
}

// The test of a fraction: the fit with it against `restricted`, the fit
// with it held at 0.  A fit with the fraction at 0 lies in the restricted
// model, whose best is the restricted fit: any difference is the searches'
// rounding, and LR is 0.
void set_test(FractionResult& fraction, double value, const TermsFit& full,
              const TermsFit& restricted) {
  fraction.fraction = value;
  fraction.restricted_log_likelihood = -restricted.fit.objective;
  fraction.likelihood_ratio =
      value > 0.0 ? 2.0 * (restricted.fit.objective - full.fit.objective) : 0.0;
  fraction.p_value = boundary_test_p_value(fraction.likelihood_ratio);
}

// The profile of one file's total in a fit of several: the profile search
// holds the sum of the leading coordinates, so the objective is seen with
// the file's coordinates moved to the front (in their order, the others
// after them in theirs).
ProfileInterval file_total_profile(const ObjectiveWithGradient& objective,
                                   const std::vector<double>& fitted, BoundedSearchSettings bounds,
                                   const FileShare& share, double step) {
  const std::size_t size = fitted.size();
  // moved[i]: the coordinate of the fit that stands at place i.
  std::vector<std::size_t> moved;
  for (std::size_t i = 0; i < share.count; ++i) moved.push_back(share.first + i);
  for (std::size_t i = 0; i < size; ++i) {
    if (i < share.first || i >= share.first + share.count) moved.push_back(i);
  }
  auto reorder = [&moved](const std::vector<double>& values) {
    std::vector<double> placed(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) placed[i] = values[moved[i]];
    return placed;
  };
  const ObjectiveWithGradient front = [&objective, &moved](const std::vector<double>& point,
                                                           std::vector<double>& gradient) {
    std::vector<double> original(point.size());
    for (std::size_t i = 0; i < point.size(); ++i) original[moved[i]] = point[i];
    std::vector<double> original_gradient;
    const double value = objective(original, original_gradient);
    gradient.assign(point.size(), 0.0);
    for (std::size_t i = 0; i < original_gradient.size() && i < point.size(); ++i) {
      gradient[i] = original_gradient[moved[i]];
    }
    return value;
  };
  if (!bounds.upper_bounds.empty()) bounds.upper_bounds = reorder(bounds.upper_bounds);
  bounds.summed_coordinates = share.count;
  return profile_interval(front, reorder(fitted), std::nullopt, step, bounds);
}

}  // namespace

std::vector<double> fitted_point(const OrderResult& result) {
  std::vector<double> point = result.fit.parameters;
  if (fits_escape(result)) point.push_back(result.escape.fraction);
  if (fits_error(result)) point.push_back(result.error.fraction);
  return point;
}

BoundedSearchSettings bounds_of(const OrderResult& result) {
  return bounds_for(result.fit.parameters.size(), terms_of(result));
}

ObjectiveWithGradient objective_of(const OrderResult& result, ScanObserver& observer) {
  return counted_objective(result.tables, result.order, terms_of(result), observer);
}

ObjectiveWithGradient objective_of(const OrderResult& result,
                                   const std::vector<const HeldTable*>& tables,
                                   ScanObserver& observer) {
  return counted_objective(tables, result.order, terms_of(result), observer);
}

// The fits with the fractions asked for, from the fit without them (lengths
// x0, value f0).  With q alone: the search over the lengths and q from x0
// and q = escape_start; with e alone the same with e.  With both, the fits
// with each alone, then the fit with both from each of them, the better
// kept: it is then above neither, so both tests' LR are >= 0.  q's test
// holds q at 0 with e fitted, and e's holds e at 0 with q fitted.
void fit_fractions(OrderResult& result, const ScanSettings& settings, ScanObserver& observer) {
  const int order = result.order;
  const TermsFit plain{ModelTerms{}, result.fit};
  const bool escape = settings.escape && order > 1;
  result.escape.fitted = settings.escape;
  result.escape.identified = order > 1;
  result.escape.upper = escape_upper;
  result.error.fitted = settings.error;
  result.error.upper = error_upper;
  if (settings.escape && !escape) result.escape.restricted_log_likelihood = -plain.fit.objective;
  if (!escape && !settings.error) return;
  TermsFit with_escape, with_error;
  if (escape) with_escape = fit_terms(result, ModelTerms{.escape = true}, plain, observer);
  if (settings.error) with_error = fit_terms(result, ModelTerms{.misreads = true}, plain, observer);
  TermsFit full = escape ? with_escape : with_error;
  if (escape && settings.error) {
    const ModelTerms both{.escape = true, .misreads = true};
    full = fit_terms(result, both, with_escape, observer);
    TermsFit other = fit_terms(result, both, with_error, observer);
    // Each count includes the fit without fractions, which was made once.
    const long long evaluations =
        full.fit.evaluations + other.fit.evaluations - plain.fit.evaluations;
    if (other.fit.objective < full.fit.objective) full = std::move(other);
    full.fit.evaluations = evaluations;
  }
  const std::size_t n = parameter_count(result.tables);
  std::size_t k = n;
  const double q = escape ? full.fit.parameters[k++] : 0.0;
  const double e = settings.error ? full.fit.parameters[k] : 0.0;
  if (escape) set_test(result.escape, q, full, settings.error ? with_error : plain);
  if (settings.error) set_test(result.error, e, full, escape ? with_escape : plain);
  full.fit.parameters.resize(n);
  result.fit = std::move(full.fit);
}

void fit_escape(OrderResult& result, ScanObserver& observer) {
  ScanSettings settings;
  settings.escape = true;
  fit_fractions(result, settings, observer);
}

// Steps 1b and 1c after the fit of step 1a, which took `fit_seconds`.
OrderResult finish_order(int order, OrderFit fit, double fit_seconds, const ScanSettings& settings,
                         ScanObserver& observer) {
  const Clock::time_point started = Clock::now();
  observer.begin(order, ScanStep::fit);
  OrderResult result;
  result.order = order;
  result.tables = settings.files;
  result.shares = shares_of(settings.files);
  result.fit = std::move(fit);
  if (settings.escape || settings.error) {
    // The fitting program's objective knows no fractions; the log-likelihood
    // is the one the search minimised, equal to it at q = e = 0.
    fit_fractions(result, settings, observer);
  } else if (std::isfinite(result.fit.objective) && settings.files.empty()) {
    // The reported log-likelihood of one file is the fitting program's
    // objective itself (which knows only the installed table).
    result.fit.objective = fitting_program_objective(order, result.fit.parameters);
  }
  set_lengths(result);
  // A fit that never found a finite likelihood has failed: it gets no
  // errors, no intervals and no place among the best.
  if (std::isfinite(result.log_likelihood)) {
    observer.begin(order, ScanStep::information);
    add_standard_errors(result, observer);
  }
  result.seconds = fit_seconds + seconds_since(started);
  observer.fitted(result);
  return result;
}

OrderResult scan_order(int order, const ScanSettings& settings, ScanObserver& observer) {
  const Clock::time_point started = Clock::now();
  observer.begin(order, ScanStep::fit);
  OrderFit fit = fit_from_starts(order, settings, observer);
  return finish_order(order, std::move(fit), seconds_since(started), settings, observer);
}

// Each interval is a search of its own; they run on the worker threads
// (the total, whose refits move every coordinate, first), each into its
// own slot.
void add_profiles(OrderResult& result, ScanObserver& observer) {
  const Clock::time_point started = Clock::now();
  observer.begin(result.order, ScanStep::profiles);
  const double scale = static_cast<double>(2 * result.order);
  const std::vector<double> fitted = fitted_point(result);
  const std::size_t n = result.fit.parameters.size();
  const ObjectiveWithGradient objective = objective_of(result, observer);
  const BoundedSearchSettings bounds = bounds_of(result);
  auto to_lengths = [scale](const ProfileInterval& interval) {
    return LengthInterval{interval.lower / scale, interval.upper / scale, interval.found};
  };
  result.profiles.assign(n, LengthInterval{});
  // Without fractions several files share nothing but the order: the
  // profiles of a file's lengths and of its total are those of its own
  // likelihood at its own lengths, which cost that file's evaluations
  // alone.  own[k] and own_fitted[k] are file k's.
  const bool separable = !result.shares.empty() && !fits_escape(result) && !fits_error(result);
  std::vector<ObjectiveWithGradient> own;
  std::vector<std::vector<double>> own_fitted;
  std::vector<std::size_t> file_of(n, 0);
  for (std::size_t k = 0; separable && k < result.shares.size(); ++k) {
    const FileShare& share = result.shares[k];
    own.push_back(counted_objective({result.tables[k]}, result.order, ModelTerms{}, observer));
    own_fitted.emplace_back(
        fitted.begin() + static_cast<std::ptrdiff_t>(share.first),
        fitted.begin() + static_cast<std::ptrdiff_t>(share.first + share.count));
    for (std::size_t t = share.first; t < share.first + share.count; ++t) file_of[t] = k;
  }
  // Whether each file's total has a Wald error, found before the tasks
  // start: they write the result's profiles, which file_result reads.
  std::vector<char> file_total_wald(result.shares.size(), 0);
  for (std::size_t k = 0; k < result.shares.size(); ++k) {
    file_total_wald[k] = total_has_wald(file_result(result, k)) ? 1 : 0;
  }
  // The total, each length, then each file's total where there are several.
  const int parts = static_cast<int>(n + 1 + result.shares.size());
  std::atomic<int> parts_done{0};
  auto profile_part = [&](int task) {
    if (task == 0) {
      double total = 0.0;
      for (std::size_t t = 0; t < n; ++t) total += fitted[t];
      const double step =
          first_profile_step(total, total_has_wald(result), result.total_standard_error * scale);
      result.total_profile =
          to_lengths(profile_interval(objective, fitted, std::nullopt, step, bounds));
      return;
    }
    if (static_cast<std::size_t>(task) > n) {
      const std::size_t k = static_cast<std::size_t>(task) - n - 1;
      FileShare& share = result.shares[k];
      double total = 0.0;
      for (std::size_t t = share.first; t < share.first + share.count; ++t) total += fitted[t];
      const double step =
          first_profile_step(total, file_total_wald[k] != 0, share.total_standard_error * scale);
      share.total_profile =
          to_lengths(separable ? profile_interval(own[k], own_fitted[k], std::nullopt, step)
                               : file_total_profile(objective, fitted, bounds, share, step));
      return;
    }
    const auto t = static_cast<std::size_t>(task - 1);
    const bool wald = has_wald(result, t);
    const double step =
        first_profile_step(fitted[t], wald, wald ? result.standard_errors[t] * scale : 0.0);
    if (separable) {
      const std::size_t k = file_of[t];
      const auto own_t = static_cast<int>(t - result.shares[k].first);
      result.profiles[t] = to_lengths(profile_interval(own[k], own_fitted[k], own_t, step));
      return;
    }
    result.profiles[t] = to_lengths(profile_interval(objective, fitted, task - 1, step, bounds));
  };
  run_in_parallel(parts, [&](int task) {
    profile_part(task);
    observer.part_done(result.order, ++parts_done, parts);
  });
  result.profiled = true;
  const double seconds = seconds_since(started);
  result.seconds += seconds;
  observer.profiled(result.order, seconds);
}

void add_fraction_profiles(OrderResult& result, ScanObserver& observer) {
  const Clock::time_point started = Clock::now();
  observer.begin(result.order, ScanStep::profiles);
  const std::vector<double> fitted = fitted_point(result);
  auto profile = [&](FractionResult& e, std::size_t k) {
    // Without a Wald error, the first step is a tenth of the whole range.
    const double step =
        e.has_standard_error ? wald_quantile_95 * e.standard_error : blind_step_share * e.upper;
    const ProfileInterval interval = profile_interval(objective_of(result, observer), fitted,
                                                      static_cast<int>(k), step, bounds_of(result));
    e.profile = LengthInterval{interval.lower, interval.upper, interval.found};
    e.profiled = true;
  };
  if (fits_escape(result)) profile(result.escape, escape_index(result));
  if (fits_error(result)) profile(result.error, error_index(result));
  const double seconds = seconds_since(started);
  result.seconds += seconds;
  observer.profiled(result.order, seconds);
}

std::vector<OrderResult> run_scan(const ScanSettings& settings, ScanObserver& observer) {
  const std::vector<int>& orders = settings.orders;
  const std::vector<std::size_t> schedule = costliest_first(orders);
  const auto task_order = [&schedule](int task) {
    return schedule[static_cast<std::size_t>(task)];
  };
  // The orders are reported as they are scheduled, so that each one's lines
  // can follow as soon as it is done.
  std::vector<int> reported;
  reported.reserve(schedule.size());
  for (const std::size_t k : schedule) reported.push_back(orders[k]);
  observer.expect(reported);
  const int count = static_cast<int>(orders.size());
  // Steps 1a to 1c at every order from its own starts.  The stop flag
  // only ever turns on: clear at the end of a step, it was clear
  // throughout, and the step's result is whole.
  std::vector<OrderFit> fits(orders.size());
  std::vector<OrderResult> results(orders.size());
  std::vector<char> finished(orders.size(), 0);
  run_in_parallel(count, [&](int task) {
    const std::size_t k = task_order(task);
    const Clock::time_point started = Clock::now();
    observer.begin(orders[k], ScanStep::fit);
    fits[k] = fit_from_starts(orders[k], settings, observer);
    results[k] = finish_order(orders[k], fits[k], seconds_since(started), settings, observer);
    finished[k] = observer.stop_requested() ? 0 : 1;
  });
  // The refits from the neighbours' fits; an order they raise is finished
  // again from its new fit.  Then the profiles, on the final fits.  What a
  // stop cuts short is dropped: the order keeps the result it had.
  const std::vector<char> raised = refit_from_neighbours(settings, fits, observer);
  run_in_parallel(count, [&](int task) {
    const std::size_t k = task_order(task);
    OrderResult result = results[k];
    if (raised[k] != 0) {
      result = finish_order(orders[k], std::move(fits[k]), result.seconds, settings, observer);
    }
    const bool profiles = settings.profiles && std::isfinite(result.log_likelihood);
    // The fractions' intervals are what their fits are for: they are found
    // at every order.
    if (profiles && (fits_escape(result) || fits_error(result))) {
      add_fraction_profiles(result, observer);
    }
    if (profiles && settings.profile_all) add_profiles(result, observer);
    if (!observer.stop_requested()) results[k] = std::move(result);
    observer.order_done(orders[k]);
  });
  std::vector<OrderResult> kept;
  for (std::size_t k = 0; k < results.size(); ++k) {
    if (finished[k] != 0) kept.push_back(std::move(results[k]));
  }
  const int best = best_result(kept);
  if (settings.profiles && !settings.profile_all && best >= 0 && !observer.stop_requested()) {
    OrderResult result = kept[static_cast<std::size_t>(best)];
    const int order = result.order;
    observer.expect({order});
    add_profiles(result, observer);
    if (!observer.stop_requested()) kept[static_cast<std::size_t>(best)] = std::move(result);
    observer.order_done(order);
  }
  return kept;
}
