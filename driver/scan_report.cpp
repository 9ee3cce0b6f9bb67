#include "driver/scan_report.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

// What stands in the table where a standard error cannot be given.
constexpr const char* no_standard_error = "not positive definite";

double scale_of(int order) { return static_cast<double>(2 * order); }

const char* converged_word(const OrderFit& fit) {
  if (!std::isfinite(fit.objective)) return "failed";
  if (fit.converged()) return "yes";
  if (fit.evaluation_limit_reached) return "no (evaluations)";
  return "no (restarts)";
}

void print_order_rows(std::FILE* out, const std::vector<OrderResult>& results, double best) {
  std::fprintf(out, "%5s  %16s  %12s  %-16s  %12s  %s\n", "order", "log-likelihood", "difference",
               "converged", "total length", "standard error");
  for (const OrderResult& r : results) {
    std::fprintf(out, "%5d  %16f  %12f  %-16s  %12f  ", r.order, r.log_likelihood,
                 r.log_likelihood - best, converged_word(r.fit), r.total_length);
    if (total_has_wald(r)) {
      std::fprintf(out, "%f\n", r.total_standard_error);
    } else if (r.positive_definite) {
      std::fprintf(out, "at bound\n");
    } else {
      std::fprintf(out, "%s\n", no_standard_error);
    }
  }
}

// "[lower, upper]" of a Wald interval length +- z SE.
std::string wald_text(double length, double se) {
  char text[80];
  std::snprintf(text, sizeof text, "[%f, %f]", length - wald_quantile_95 * se,
                length + wald_quantile_95 * se);
  return text;
}

void print_profile(std::FILE* out, const OrderResult& r, const LengthInterval& interval) {
  if (!r.profiled) {
    std::fprintf(out, "\n");
    return;
  }
  std::fprintf(out, "  [%f, %f]%s\n", interval.lower, interval.upper,
               interval.found ? "" : " (not settled)");
}

// One row of the best order's table: the Wald part, then the profile part.
void print_length_row(std::FILE* out, const OrderResult& r, bool wald, bool at_bound, double length,
                      double se, const LengthInterval& profile) {
  if (wald) {
    std::fprintf(out, "%14f  %-24s", se, wald_text(length, se).c_str());
  } else if (at_bound) {
    std::fprintf(out, "%14s  %-24s", "at bound", "-");
  } else {
    std::fprintf(out, "%14s  %-24s", no_standard_error, "-");
  }
  print_profile(out, r, profile);
}

void print_best_lengths(std::FILE* out, const OrderResult& r) {
  std::fprintf(out, "\nBest order: p = %d (log-likelihood %f)\n", r.order, r.log_likelihood);
  std::fprintf(out, "%8s  %12s  %14s  %-*s%s\n", "interval", "length", "standard error",
               r.profiled ? 24 : 0, "95% Wald interval",
               r.profiled ? "  95% profile interval" : "");
  bool any_at_bound = false;
  for (std::size_t t = 0; t < r.lengths.size(); ++t) {
    std::fprintf(out, "%8zu  %12f  ", t + 1, r.lengths[t]);
    const bool at_bound = t < r.at_bound.size() && r.at_bound[t];
    any_at_bound = any_at_bound || at_bound;
    print_length_row(out, r, has_wald(r, t), at_bound, r.lengths[t],
                     has_wald(r, t) ? r.standard_errors[t] : 0.0,
                     t < r.profiles.size() ? r.profiles[t] : LengthInterval{});
  }
  std::fprintf(out, "%8s  %12f  ", "total", r.total_length);
  print_length_row(out, r, total_has_wald(r), any_at_bound && r.positive_definite, r.total_length,
                   r.total_standard_error, r.total_profile);
  const EscapeResult& e = r.escape;
  if (e.fitted && !e.identified) {
    std::fprintf(out,
                 "%8s  %12s  (at order 1 every event moves the class: q does not change the "
                 "likelihood)\n",
                 "escape", "NA");
  } else if (e.fitted) {
    std::fprintf(out, "%8s  %12f  ", "escape", e.fraction);
    if (e.has_standard_error) {
      std::fprintf(out, "%14f  %-24s", e.standard_error,
                   wald_text(e.fraction, e.standard_error).c_str());
    } else {
      std::fprintf(out, "%14s  %-24s", e.at_bound ? "at bound" : no_standard_error, "-");
    }
    if (!r.profiled) {
      std::fprintf(out, "\n");
    } else if (e.profiled) {
      std::fprintf(out, "  [%f, %f]%s\n", e.profile.lower, e.profile.upper,
                   e.profile.found ? "" : " (not settled)");
    } else {
      std::fprintf(out, "  -\n");
    }
  }
  if (!r.positive_definite) {
    std::fprintf(out,
                 "The observed information at this fit is not positive definite: the point is "
                 "no proper maximum of the likelihood, or the data cannot separate the lengths, "
                 "so no standard errors are given.\n");
  }
  if (any_at_bound) {
    std::fprintf(out,
                 "A length at bound is fitted as 0: its Wald interval would rest on a "
                 "curvature the bound cuts off, so none is given.\n");
  }
}

void print_support_set(std::FILE* out, const std::vector<OrderResult>& results) {
  std::fprintf(out,
               "\nSupport set (orders within %g log-likelihood units of the best):", support_width);
  for (const int order : support_set(results)) std::fprintf(out, " %d", order);
  std::fprintf(out, "\n");
}

// q at every order, its profile interval, and the test of q = 0.
void print_escape_by_order(std::FILE* out, const std::vector<OrderResult>& results) {
  std::fprintf(out,
               "\nEscape fraction q by order; LR tests q = 0, its p-value from the 50:50 "
               "mixture of chi-square with 0 and 1 degrees of freedom:\n");
  std::fprintf(out, "%5s  %10s  %-26s  %12s  %s\n", "order", "escape", "95% profile interval", "LR",
               "p-value");
  for (const OrderResult& r : results) {
    const EscapeResult& e = r.escape;
    char interval[80] = "-";
    if (e.profiled) {
      std::snprintf(interval, sizeof interval, "[%f, %f]%s", e.profile.lower, e.profile.upper,
                    e.profile.found ? "" : "?");
    }
    if (!e.identified) {
      std::fprintf(out, "%5d  %10s  %-26s  %12s  %s\n", r.order, "NA", "not identified", "-", "-");
      continue;
    }
    std::fprintf(out, "%5d  %10f  %-26s  %12f  %.4g\n", r.order, e.fraction, interval,
                 e.likelihood_ratio, e.p_value);
  }
}

}  // namespace

void set_lengths(OrderResult& result) {
  const double scale = scale_of(result.order);
  result.log_likelihood = -result.fit.objective;
  result.lengths.clear();
  result.total_length = 0.0;
  // The same sum, in the same order, as the fitting program's Total Length.
  for (const double parameter : result.fit.parameters) {
    result.lengths.push_back(parameter / scale);
    result.total_length += parameter / scale;
  }
}

bool has_wald(const OrderResult& result, std::size_t t) {
  return result.positive_definite && !(t < result.at_bound.size() && result.at_bound[t]);
}

bool total_has_wald(const OrderResult& result) {
  return result.positive_definite &&
         std::none_of(result.at_bound.begin(), result.at_bound.end(), [](bool b) { return b; });
}

std::vector<int> support_set(const std::vector<OrderResult>& results) {
  std::vector<int> orders;
  const int best = best_result(results);
  if (best < 0) return orders;
  const double best_value = results[static_cast<std::size_t>(best)].log_likelihood;
  for (const OrderResult& r : results) {
    if (std::isfinite(r.log_likelihood) && r.log_likelihood >= best_value - support_width) {
      orders.push_back(r.order);
    }
  }
  return orders;
}

void set_standard_errors(OrderResult& result, const DoubleMatrix* covariance) {
  result.standard_errors.clear();
  result.positive_definite = covariance != nullptr;
  result.total_standard_error = 0.0;
  if (covariance == nullptr) return;
  const DoubleMatrix& cov = *covariance;
  const double scale = scale_of(result.order);
  const int n = static_cast<int>(result.fit.parameters.size());
  double total_variance = 0.0;
  for (int i = 1; i <= n; ++i) {
    // A length at bound has no standard error (its entries are not used).
    const bool at_bound = static_cast<std::size_t>(i - 1) < result.at_bound.size() &&
                          result.at_bound[static_cast<std::size_t>(i - 1)];
    result.standard_errors.push_back(at_bound ? std::nan("") : std::sqrt(cov[i][i]) / scale);
    // Var(sum of parameters) = sum_ij Cov[i][j]
    for (int j = 1; j <= n; ++j) total_variance += cov[i][j];
  }
  result.total_standard_error = std::sqrt(total_variance) / scale;
}

int best_result(const std::vector<OrderResult>& results) {
  int best = -1;
  for (std::size_t k = 0; k < results.size(); ++k) {
    const double value = results[k].log_likelihood;
    if (!std::isfinite(value)) continue;
    if (best < 0 || value > results[static_cast<std::size_t>(best)].log_likelihood) {
      best = static_cast<int>(k);
    }
  }
  return best;
}

void print_scan_table(std::FILE* out, const std::vector<OrderResult>& results) {
  const int best = best_result(results);
  const double best_value =
      best < 0 ? std::nan("") : results[static_cast<std::size_t>(best)].log_likelihood;
  print_order_rows(out, results, best_value);
  if (best < 0) {
    std::fprintf(out, "\nNo order gives a finite log-likelihood: every fit failed.\n");
    return;
  }
  print_best_lengths(out, results[static_cast<std::size_t>(best)]);
  print_support_set(out, results);
  if (results[static_cast<std::size_t>(best)].escape.fitted) print_escape_by_order(out, results);
}

double escape_test_p_value(double likelihood_ratio) {
  if (!(likelihood_ratio > 0.0)) return 1.0;
  // P(chi2_1 > x) = P(|Z| > sqrt(x)) = erfc(sqrt(x / 2)), halved by the mixture.
  return 0.5 * std::erfc(std::sqrt(0.5 * likelihood_ratio));
}

namespace {

// One CSV row.  `interval` is the interval's number or "total"; the Wald
// interval is length +- z SE where there is a standard error, and the
// profile interval is given when one was computed (`profile` not null).
void print_csv_row(std::FILE* out, const OrderResult& r, const std::string& interval, double length,
                   bool has_standard_error, double standard_error, const LengthInterval* profile) {
  std::fprintf(out, "%d,%s,%.17g,", r.order, interval.c_str(), length);
  if (has_standard_error) {
    std::fprintf(out, "%.17g,", standard_error);
  } else {
    std::fprintf(out, "NA,");
  }
  std::fprintf(out, "%.17g,%s,", r.log_likelihood, r.fit.converged() ? "yes" : "no");
  if (has_standard_error) {
    std::fprintf(out, "%.17g,%.17g,", length - wald_quantile_95 * standard_error,
                 length + wald_quantile_95 * standard_error);
  } else {
    std::fprintf(out, "NA,NA,");
  }
  if (profile != nullptr) {
    std::fprintf(out, "%.17g,%.17g\n", profile->lower, profile->upper);
  } else {
    std::fprintf(out, "NA,NA\n");
  }
}

}  // namespace

void print_scan_csv(std::FILE* out, const std::vector<OrderResult>& results) {
  std::fprintf(out,
               "order,interval,length,standard_error,log_likelihood,converged,"
               "wald_lower,wald_upper,profile_lower,profile_upper\n");
  for (const OrderResult& r : results) {
    for (std::size_t t = 0; t < r.lengths.size(); ++t) {
      const bool wald = has_wald(r, t);
      print_csv_row(out, r, std::to_string(t + 1), r.lengths[t], wald,
                    wald ? r.standard_errors[t] : 0.0,
                    r.profiled && t < r.profiles.size() ? &r.profiles[t] : nullptr);
    }
    print_csv_row(out, r, "total", r.total_length, total_has_wald(r), r.total_standard_error,
                  r.profiled ? &r.total_profile : nullptr);
    const EscapeResult& e = r.escape;
    if (e.fitted && !e.identified) {
      std::fprintf(out, "%d,escape,NA,NA,%.17g,%s,NA,NA,NA,NA\n", r.order, r.log_likelihood,
                   r.fit.converged() ? "yes" : "no");
    } else if (e.fitted) {
      print_csv_row(out, r, "escape", e.fraction, e.has_standard_error, e.standard_error,
                    e.profiled ? &e.profile : nullptr);
    }
  }
}

std::string progress_line(const OrderResult& r) {
  char line[400];
  std::snprintf(
      line, sizeof line,
      "order %d: log-likelihood %f after %d restart%s (%lld evaluations), %.3f s%s%s%s", r.order,
      r.log_likelihood, r.fit.restarts, r.fit.restarts == 1 ? "" : "s", r.fit.evaluations,
      r.seconds, r.fit.restart_limit_reached ? "; the restart limit was reached" : "",
      r.fit.evaluation_limit_reached ? "; the last search stopped at the evaluation limit" : "",
      r.positive_definite ? "" : "; information not positive definite");
  return line;
}
