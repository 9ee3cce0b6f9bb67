// The check of fit of one fitted order: the statistic of the data
// (driver/pair_statistic.hpp: the pairs, or the full pattern table for at
// most full_pattern_interval_limit intervals) and its parametric-bootstrap
// p-value.
//
// The pairs are dependent and the parameters fitted, so the statistic has
// no simple law under the model; the bootstrap draws it instead.  Replicate
// b (0-based) is a table of as many observations as the data, each with
// the X and no-information codes of the real observation at the same
// places and its readings drawn from the fitted model given them
// (model/reading_draws.hpp), from its own stream seeded by
// replicate_seed(seed, b).  The same order is refitted to it with the same
// options, starting from the fit to the data, and its statistic computed
// at the refit.  With B replicates of which k reach the data's statistic,
//
//   p = (1 + k) / (B + 1),
//
// the share of the B + 1 tables (the data among them) whose statistic is
// at least the data's: never 0, and exact under the null when the
// statistic's law does not depend on the parameters.  A replicate whose
// refit fails counts as reaching it: that errs towards keeping the model.
//
// Each replicate's table is held apart from the installed one, so the
// replicates run on the worker threads, each refit's evaluations on the
// thread that runs it.  The random draws of replicate b depend on `seed`
// and b alone and each statistic lands in its own slot, so the result does
// not depend on the number of threads.
#pragma once

#include <cstdint>
#include <vector>

#include "driver/pair_statistic.hpp"
#include "driver/scan_run.hpp"

inline constexpr int default_check_fit_replicates = 200;
inline constexpr std::uint64_t default_check_fit_seed = 1;

struct CheckFitSettings {
  int replicates = default_check_fit_replicates;  // B >= 1
  std::uint64_t seed = default_check_fit_seed;
};

// The data's statistics.  `value` is the one tested: the full pattern
// table's G2 where there is one, else the pairs'.
struct FitStatistic {
  PairStatistic pairs;
  bool full_patterns = false;
  PatternStatistic patterns;
  double value = 0.0;
};

struct CheckOfFit {
  int order = 0;
  FitStatistic observed;
  int replicates = 0;
  int reached = 0;        // replicates whose statistic is at least the data's
  int failed_refits = 0;  // among them, those whose refit failed
  double p_value = 1.0;
  std::vector<double> replicate_statistics;  // in replicate order, +inf for a failed refit
  double seconds = 0.0;
};

// (1 + reached) / (replicates + 1).
double bootstrap_p_value(int reached, int replicates);

// The starting state of replicate b's engine: `seed` and b mixed by the SplitMix64
// finaliser, so that neighbouring seeds and indices give unrelated streams.
std::uint64_t replicate_seed(std::uint64_t seed, int replicate);

// The check of `result`, fitted to the installed table.  The result must
// have a finite log-likelihood.  Tells `observer` each replicate's end.
CheckOfFit check_fit(const OrderResult& result, const CheckFitSettings& settings,
                     ScanObserver& observer);

// The checks a scan asks for: the best order's, or with `every_order` each
// order's whose fit has a finite log-likelihood, in the results' order.
std::vector<CheckOfFit> check_scan_fits(const std::vector<OrderResult>& results,
                                        const CheckFitSettings& settings, bool every_order,
                                        ScanObserver& observer);
