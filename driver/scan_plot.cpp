// The SVG plot of a scan, drawn by PLplot's "svg" device: the
// log-likelihood against the model order above, the best order's interval
// lengths with their 95% intervals below (profile-likelihood intervals where
// they were computed, else Wald intervals).
#include <plplot.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver/scan_report.hpp"

namespace {

// Page size in points: two panels, one above the other.
constexpr PLINT page_width = 800;
constexpr PLINT page_height = 900;
// Margin around the data, as a fraction of the data's range.
constexpr double margin_fraction = 0.1;
// PLplot's filled-circle symbol.
constexpr PLINT point_symbol = 17;
// Colour map 0: black on white; red for the data.
constexpr PLINT axis_colour = 15;
constexpr PLINT data_colour = 1;

struct Range {
  double low;
  double high;
};

Range padded(double low, double high) {
  double spread = high - low;
  if (!(spread > 0.0)) spread = std::fmax(std::fabs(high), 1.0);
  return {low - margin_fraction * spread, high + margin_fraction * spread};
}

void draw_log_likelihoods(const std::vector<OrderResult>& results) {
  std::vector<PLFLT> orders;
  std::vector<PLFLT> values;
  for (const OrderResult& r : results) {
    if (!std::isfinite(r.log_likelihood)) continue;
    orders.push_back(r.order);
    values.push_back(r.log_likelihood);
  }
  const int first_order = results.front().order;
  const int last_order = results.back().order;
  const Range y = values.empty() ? Range{-1.0, 1.0}
                                 : padded(*std::min_element(values.begin(), values.end()),
                                          *std::max_element(values.begin(), values.end()));
  plcol0(axis_colour);
  plenv(first_order - 0.5, last_order + 0.5, y.low, y.high, 0, 0);
  pllab("model order p", "log-likelihood", "Log-likelihood of the fit of each order");
  if (values.empty()) return;
  plcol0(data_colour);
  const auto count = static_cast<PLINT>(orders.size());
  plline(count, orders.data(), values.data());
  plpoin(count, orders.data(), values.data(), point_symbol);
}

// The best order's lengths with their profile intervals where they were
// computed, else their Wald intervals; the title says which.
void draw_best_lengths(const OrderResult& best) {
  const std::size_t n = best.lengths.size();
  std::vector<PLFLT> intervals;
  std::vector<PLFLT> lengths;
  std::vector<PLFLT> lower;
  std::vector<PLFLT> upper;
  double low = 0.0;
  double high = 0.0;
  for (std::size_t t = 0; t < n; ++t) {
    low = std::fmin(low, best.lengths[t]);
    high = std::fmax(high, best.lengths[t]);
    double from = 0.0;
    double to = 0.0;
    if (best.profiled && t < best.profiles.size() && std::isfinite(best.profiles[t].upper)) {
      from = best.profiles[t].lower;
      to = best.profiles[t].upper;
    } else if (!best.profiled && has_wald(best, t)) {
      from = best.lengths[t] - wald_quantile_95 * best.standard_errors[t];
      to = best.lengths[t] + wald_quantile_95 * best.standard_errors[t];
    } else {
      continue;
    }
    intervals.push_back(static_cast<double>(t + 1));
    lengths.push_back(best.lengths[t]);
    lower.push_back(from);
    upper.push_back(to);
    low = std::fmin(low, from);
    high = std::fmax(high, to);
  }
  const Range y = padded(low, high);
  char title[160];
  std::snprintf(title, sizeof title, "Lengths of order %d%s", best.order,
                best.profiled ? " with 95% profile-likelihood intervals"
                              : " with 95% Wald intervals (length +- 1.96 SE)");
  plcol0(axis_colour);
  plenv(0.5, static_cast<double>(n) + 0.5, y.low, y.high, 0, 0);
  pllab("interval", "length", title);
  plcol0(data_colour);
  std::vector<PLFLT> all_intervals(n);
  for (std::size_t t = 0; t < n; ++t) all_intervals[t] = static_cast<double>(t + 1);
  std::vector<PLFLT> all_lengths(best.lengths.begin(), best.lengths.end());
  plpoin(static_cast<PLINT>(n), all_intervals.data(), all_lengths.data(), point_symbol);
  if (!intervals.empty()) {
    plerry(static_cast<PLINT>(intervals.size()), intervals.data(), lower.data(), upper.data());
  }
}

}  // namespace

bool scan_plot_available() { return true; }

std::string write_scan_plot(const std::string& file_name, const std::vector<OrderResult>& results) {
  // PLplot asks on the console for another name when it cannot open the
  // file; trying the file first keeps a bad name a plain failure.
  std::FILE* probe = std::fopen(file_name.c_str(), "w");
  if (probe == nullptr)
    return "can't open the plot file " + file_name + ": " + std::strerror(errno);
  std::fclose(probe);
  const int best = best_result(results);
  if (results.empty() || best < 0) return "no fit gives a log-likelihood to plot";

  plsdev("svg");
  plsfnam(file_name.c_str());
  plspage(0.0, 0.0, page_width, page_height, 0, 0);
  plscolbg(255, 255, 255);
  plscol0(axis_colour, 0, 0, 0);
  plstar(1, 2);
  draw_log_likelihoods(results);
  draw_best_lengths(results[static_cast<std::size_t>(best)]);
  plend();

  // The device writes through its own stream; an empty file means it failed.
  std::FILE* check = std::fopen(file_name.c_str(), "r");
  const bool written = check != nullptr && std::fgetc(check) != EOF;
  if (check != nullptr) std::fclose(check);
  if (!written) return "writing the plot file " + file_name + " failed";
  return {};
}
