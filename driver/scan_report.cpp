#include "driver/scan_report.hpp"

#include <cmath>
#include <cstddef>

namespace {

// What stands in the table where a standard error cannot be given.
constexpr const char* no_standard_error = "not positive definite";

double scale_of(int order) { return static_cast<double>(2 * order); }

const char* converged_word(const OrderFit& fit) {
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
    if (r.positive_definite) {
      std::fprintf(out, "%f\n", r.total_standard_error);
    } else {
      std::fprintf(out, "%s\n", no_standard_error);
    }
  }
}

void print_best_lengths(std::FILE* out, const OrderResult& r) {
  std::fprintf(out, "\nBest order: p = %d (log-likelihood %f)\n", r.order, r.log_likelihood);
  std::fprintf(out, "%8s  %12s  %14s  %s\n", "interval", "length", "standard error",
               "95% interval");
  for (std::size_t t = 0; t < r.lengths.size(); ++t) {
    std::fprintf(out, "%8zu  %12f  ", t + 1, r.lengths[t]);
    if (r.positive_definite) {
      const double se = r.standard_errors[t];
      // length +- z SE
      std::fprintf(out, "%14f  [%f, %f]\n", se, r.lengths[t] - wald_quantile_95 * se,
                   r.lengths[t] + wald_quantile_95 * se);
    } else {
      std::fprintf(out, "%14s  -\n", no_standard_error);
    }
  }
  std::fprintf(out, "%8s  %12f  ", "total", r.total_length);
  if (r.positive_definite) {
    const double se = r.total_standard_error;
    std::fprintf(out, "%14f  [%f, %f]\n", se, r.total_length - wald_quantile_95 * se,
                 r.total_length + wald_quantile_95 * se);
  } else {
    std::fprintf(out, "%14s  -\n", no_standard_error);
    std::fprintf(out,
                 "The observed information at this fit is not positive definite: the point is "
                 "no proper maximum of the likelihood, or the data cannot separate the lengths, "
                 "so no standard errors are given.\n");
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
    result.standard_errors.push_back(std::sqrt(cov[i][i]) / scale);
    // Var(sum of parameters) = sum_ij Cov[i][j]
    for (int j = 1; j <= n; ++j) total_variance += cov[i][j];
  }
  result.total_standard_error = std::sqrt(total_variance) / scale;
}

int best_result(const std::vector<OrderResult>& results) {
  int best = -1;
  for (std::size_t k = 0; k < results.size(); ++k) {
    const double value = results[k].log_likelihood;
    if (std::isnan(value)) continue;
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
    std::fprintf(out, "\nNo order gives a log-likelihood that is a number.\n");
    return;
  }
  print_best_lengths(out, results[static_cast<std::size_t>(best)]);
}

namespace {

// One CSV row.  `interval` is the interval's number or "total".
void print_csv_row(std::FILE* out, const OrderResult& r, const std::string& interval, double length,
                   bool has_standard_error, double standard_error) {
  std::fprintf(out, "%d,%s,%.17g,", r.order, interval.c_str(), length);
  if (has_standard_error) {
    std::fprintf(out, "%.17g,", standard_error);
  } else {
    std::fprintf(out, "NA,");
  }
  std::fprintf(out, "%.17g,%s\n", r.log_likelihood, r.fit.converged() ? "yes" : "no");
}

}  // namespace

void print_scan_csv(std::FILE* out, const std::vector<OrderResult>& results) {
  std::fprintf(out, "order,interval,length,standard_error,log_likelihood,converged\n");
  for (const OrderResult& r : results) {
    for (std::size_t t = 0; t < r.lengths.size(); ++t) {
      print_csv_row(out, r, std::to_string(t + 1), r.lengths[t], r.positive_definite,
                    r.positive_definite ? r.standard_errors[t] : 0.0);
    }
    print_csv_row(out, r, "total", r.total_length, r.positive_definite, r.total_standard_error);
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
