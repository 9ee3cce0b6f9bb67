#include "driver/check_of_fit.hpp"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/worker_threads.hpp"
#include "model/likelihood_gradient.hpp"
#include "model/observations.hpp"
#include "model/pattern_probability.hpp"
#include "model/reading_draws.hpp"
#include "model/simulation.hpp"
#include "optimise/gradient_fit.hpp"

namespace {

// The codes of the installed table, row after row.
std::string installed_codes() {
  const std::size_t size =
      static_cast<std::size_t>(observation_count) * static_cast<std::size_t>(interval_count);
  std::string codes(size, ' ');
  for (std::size_t k = 0; k < size; ++k)
    codes[k] = static_cast<char>(observations[static_cast<int>(k)]);
  return codes;
}

bool fits_escape(const OrderResult& result) {
  return result.escape.fitted && result.escape.identified;
}

double error_rate_of(const OrderResult& result) {
  return result.error.fitted ? result.error.fraction : 0.0;
}

// One replicate's table: every observation's readings drawn anew, and
// misread at the fitted rate.
std::string replicate_codes(const PatternModel& model, const double weight[reading_count],
                            double error_rate, std::string_view codes, int count,
                            std::uint64_t seed) {
  const auto n = static_cast<std::size_t>(model.intervals());
  std::string drawn(codes.size(), ' ');
  SimulationEngine engine(seed);
  for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
    draw_readings(engine, model, weight, codes.substr(i * n, n), drawn.data() + i * n, error_rate);
  }
  return drawn;
}

// The statistics of a table against a model: the pairs always, and the
// full pattern table where the intervals are few; the value is the latter
// where there is one.
FitStatistic statistic_of(const PatternModel& model, std::string_view codes, int count) {
  FitStatistic statistic;
  statistic.pairs = pair_statistic(model, codes, count);
  statistic.value = statistic.pairs.g2;
  if (model.intervals() <= full_pattern_interval_limit) {
    statistic.full_patterns = true;
    statistic.patterns = pattern_statistic(model, codes, count, statistic.pairs.x_rate);
    statistic.value = statistic.patterns.g2;
  }
  return statistic;
}

// The statistic of a replicate at its refit from the fit to the data;
// nothing when the refit finds no finite likelihood.
std::optional<double> replicate_statistic(const OrderResult& result, std::string_view codes,
                                          int count, ScanObserver& observer) {
  const HeldTable table(reinterpret_cast<const unsigned char*>(codes.data()), count,
                        interval_count);
  const OrderFit refit =
      fit_from(objective_of(result, {&table}, observer), fitted_point(result), bounds_of(result));
  forget_gradient_work(table);
  if (!std::isfinite(refit.objective)) return std::nullopt;
  const std::size_t n = result.fit.parameters.size();
  std::vector<double> parameters(refit.parameters.begin(),
                                 refit.parameters.begin() + static_cast<std::ptrdiff_t>(n));
  std::size_t k = n;
  const double q = fits_escape(result) ? refit.parameters[k++] : 0.0;
  const double e = result.error.fitted ? refit.parameters[k] : 0.0;
  const PatternModel model(result.order, parameters, q, e);
  return statistic_of(model, codes, count).value;
}

}  // namespace

double bootstrap_p_value(int reached, int replicates) {
  return (1.0 + static_cast<double>(reached)) / (static_cast<double>(replicates) + 1.0);
}

std::uint64_t replicate_seed(std::uint64_t seed, int replicate) {
  // SplitMix64 (Steele, Lea and Flood, OOPSLA 2014) over seed and index.
  std::uint64_t z = seed + 0x9e3779b97f4a7c15ULL * (static_cast<std::uint64_t>(replicate) + 1);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

CheckOfFit check_fit(const OrderResult& result, const CheckFitSettings& settings,
                     ScanObserver& observer) {
  const auto started = std::chrono::steady_clock::now();
  const int count = observation_count;
  const std::string codes = installed_codes();
  CheckOfFit check;
  check.order = result.order;
  check.replicates = settings.replicates;
  const PatternModel fitted(result.order, result.fit.parameters,
                            fits_escape(result) ? result.escape.fraction : 0.0,
                            error_rate_of(result));
  check.observed = statistic_of(fitted, codes, count);
  double weight[reading_count];
  reading_weights(check.observed.pairs.x_rate, weight);
  // The replicates run on the worker threads, each into its own slot.
  std::vector<std::optional<double>> statistics(static_cast<std::size_t>(settings.replicates));
  std::atomic<int> done{0};
  run_in_parallel(settings.replicates, [&](int b) {
    const std::string drawn = replicate_codes(fitted, weight, error_rate_of(result), codes, count,
                                              replicate_seed(settings.seed, b));
    statistics[static_cast<std::size_t>(b)] = replicate_statistic(result, drawn, count, observer);
    observer.replicate_done(result.order, ++done, settings.replicates);
  });
  for (const std::optional<double>& statistic : statistics) {
    if (!statistic) ++check.failed_refits;
    const double value = statistic.value_or(std::numeric_limits<double>::infinity());
    check.replicate_statistics.push_back(value);
    if (value >= check.observed.value) ++check.reached;
  }
  check.p_value = bootstrap_p_value(check.reached, check.replicates);
  check.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return check;
}

std::vector<CheckOfFit> check_scan_fits(const std::vector<OrderResult>& results,
                                        const CheckFitSettings& settings, bool every_order,
                                        ScanObserver& observer) {
  std::vector<CheckOfFit> checks;
  const int best = best_result(results);
  for (std::size_t k = 0; k < results.size(); ++k) {
    const bool wanted =
        every_order ? std::isfinite(results[k].log_likelihood) : static_cast<int>(k) == best;
    if (wanted) checks.push_back(check_fit(results[k], settings, observer));
  }
  return checks;
}
