// The SVG plot of a scan, drawn by PLplot's "svg" device on a landscape
// page of two panels side by side: the log-likelihood against the model
// order with the best order marked, and the best order's interval lengths
// with their 95% Wald intervals.  The titles name the data file, its
// number of observations M and of intervals n, and what the bars are.
#include <plplot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/scan_report.hpp"

namespace {

// Page size in points, landscape, as a slide is.
constexpr PLINT page_width = 1100;
constexpr PLINT page_height = 620;
// Margin around the data, as a fraction of the data's range.
constexpr double margin_fraction = 0.1;
// PLplot's symbols: a filled circle for the data, an open square around
// the best order.
constexpr PLINT point_symbol = 17;
constexpr PLINT best_symbol = 6;
// Character heights: the scale of the default size.
constexpr PLFLT text_scale = 1.0;
constexpr PLFLT best_symbol_scale = 2.5;
// Colour map 0: black on white, red for the data, blue for the best order.
constexpr PLINT axis_colour = 15;
constexpr PLINT data_colour = 1;
constexpr PLINT best_colour = 9;
// Axis options: frame, ticks, numeric labels in fixed point (no corner
// multiplier such as "x10^3", which a reader misses), and the y labels
// written upright.
constexpr const char* x_axis_options = "bcnst";
constexpr const char* y_axis_options = "bcfnstv";

struct Range {
  double low;
  double high;
};

Range padded(double low, double high) {
  double spread = high - low;
  if (!(spread > 0.0)) spread = std::fmax(std::fabs(high), 1.0);
  return {low - margin_fraction * spread, high + margin_fraction * spread};
}

// A panel's frame and axes on the current subpage.
void start_panel(double x_low, double x_high, const Range& y) {
  pladv(0);
  plvsta();
  plwind(x_low, x_high, y.low, y.high);
  plcol0(axis_colour);
  plbox(x_axis_options, 0.0, 0, y_axis_options, 0.0, 0);
}

void draw_log_likelihoods(const std::vector<OrderResult>& results, const OrderResult& best,
                          const ScannedData& data) {
  std::vector<PLFLT> orders;
  std::vector<PLFLT> values;
  for (const OrderResult& r : results) {
    if (!std::isfinite(r.log_likelihood)) continue;
    orders.push_back(r.order);
    values.push_back(r.log_likelihood);
  }
  const Range y = padded(*std::min_element(values.begin(), values.end()),
                         *std::max_element(values.begin(), values.end()));
  start_panel(results.front().order - 0.5, results.back().order + 0.5, y);
  char title[512];
  std::snprintf(title, sizeof title, "%s: M = %d observations, n = %d intervals", data.name.c_str(),
                data.observation_count, data.interval_count);
  plmtex("t", 3.0, 0.5, 0.5, title);
  pllab("model order p", "log-likelihood", "Log-likelihood of the fit of each order");
  plcol0(data_colour);
  const auto count = static_cast<PLINT>(orders.size());
  plline(count, orders.data(), values.data());
  plpoin(count, orders.data(), values.data(), point_symbol);

  // The best order: a square around its point, and its name beside it.
  PLFLT best_order = best.order;
  PLFLT best_value = best.log_likelihood;
  plcol0(best_colour);
  plssym(0.0, best_symbol_scale);
  plpoin(1, &best_order, &best_value, best_symbol);
  plssym(0.0, 1.0);
  char label[64];
  std::snprintf(label, sizeof label, "best: p = %d", best.order);
  plptex(best_order, best_value - 0.06 * (y.high - y.low), 1.0, 0.0, 0.5, label);
}

void draw_best_lengths(const OrderResult& best) {
  const std::size_t n = best.lengths.size();
  std::vector<PLFLT> intervals(n);
  std::vector<PLFLT> lengths(best.lengths.begin(), best.lengths.end());
  std::vector<PLFLT> lower(n);
  std::vector<PLFLT> upper(n);
  double low = 0.0;
  double high = 0.0;
  for (std::size_t t = 0; t < n; ++t) {
    intervals[t] = static_cast<double>(t + 1);
    // length +- z SE
    const double half_width =
        best.positive_definite ? wald_quantile_95 * best.standard_errors[t] : 0.0;
    lower[t] = lengths[t] - half_width;
    upper[t] = lengths[t] + half_width;
    low = std::fmin(low, lower[t]);
    high = std::fmax(high, upper[t]);
  }
  start_panel(0.5, static_cast<double>(n) + 0.5, padded(low, high));
  char title[160];
  std::snprintf(title, sizeof title, "Lengths of the best order, p = %d", best.order);
  pllab("interval", "length (expected events / 2p)", title);
  plmtex("t", 3.0, 0.5, 0.5,
         best.positive_definite
             ? "bars: 95% Wald intervals, length +- 1.96 standard errors (observed information)"
             : "no intervals: the observed information is not positive definite");
  plcol0(data_colour);
  const auto count = static_cast<PLINT>(n);
  plpoin(count, intervals.data(), lengths.data(), point_symbol);
  if (best.positive_definite) plerry(count, intervals.data(), lower.data(), upper.data());
}

}  // namespace

bool scan_plot_available() { return true; }

std::string plot_unavailable_reason() { return {}; }

std::string write_scan_plot(const std::string& svg_path, const std::vector<OrderResult>& results,
                            const ScannedData& data) {
  const int best = best_result(results);
  if (results.empty() || best < 0) return "no fit gives a log-likelihood to plot";

  plsdev("svg");
  plsfnam(svg_path.c_str());
  plspage(0.0, 0.0, page_width, page_height, 0, 0);
  plscolbg(255, 255, 255);
  plscol0(axis_colour, 0, 0, 0);
  plstar(2, 1);
  plschr(0.0, text_scale);
  draw_log_likelihoods(results, results[static_cast<std::size_t>(best)], data);
  draw_best_lengths(results[static_cast<std::size_t>(best)]);
  plend();
  return {};
}
