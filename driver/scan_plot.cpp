// The plot of a scan, drawn by one of PLplot's devices (SVG, PDF or PNG,
// by the name's ending) on one landscape page with two panels side by
// side: each order's log-likelihood as its difference from the best, the
// support band marked, and the best order's interval lengths with their
// 95% intervals (profile-likelihood intervals where they were computed,
// else Wald intervals).  The titles name the data file, its number of
// observations M and of intervals n, and what the bars are.
#include <plplot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/output_file.hpp"
#include "driver/scan_report.hpp"

namespace {

// Page size in points, landscape, as a slide is.
constexpr PLINT page_width = 1100;
constexpr PLINT page_height = 620;
// The two panels, as fractions of the page (left, right, bottom, top).
constexpr PLFLT left_panel[4] = {0.09, 0.46, 0.13, 0.78};
constexpr PLFLT right_panel[4] = {0.59, 0.96, 0.13, 0.78};
// Where the page's title stands, as a fraction of its height.
constexpr PLFLT page_title_height = 0.93;
// Margin around the data, as a fraction of the data's range.
constexpr double margin_fraction = 0.1;
// PLplot's symbols: a filled circle for the data, an open square around
// the best order.
constexpr PLINT point_symbol = 17;
constexpr PLINT best_symbol = 6;
// Character heights: scales of the default size, which is too large for
// two panels side by side.
constexpr PLFLT text_scale = 0.7;
constexpr PLFLT title_scale = 0.9;
constexpr PLFLT best_symbol_scale = 2.5;
// Colour map 0: black on white, red for the data, blue for the best order,
// a pale grey for the support band.
constexpr PLINT axis_colour = 15;
constexpr PLINT data_colour = 1;
constexpr PLINT best_colour = 9;
constexpr PLINT band_colour = 7;
constexpr PLINT band_grey = 225;
// An open triangle pointing down: an order whose difference lies below the
// panel, drawn at its lower edge.
constexpr PLINT below_symbol = 7;
// The left panel shows differences down to this many times the support
// width, so that the band stays readable when a poor order is far off.
constexpr double shown_support_widths = 5.0;
// At most this many numbered ticks on an axis of whole numbers.
constexpr double most_ticks = 10.0;
// Axis options: frame, ticks, numeric labels in fixed point (no corner
// multiplier such as "x10^3", which a reader misses), and the y labels
// written upright.
constexpr const char* x_axis_options = "bcnst";
constexpr const char* y_axis_options = "bcfnstv";
// Distances of the labels from the frame, in character heights.
constexpr PLFLT x_label_distance = 3.2;
constexpr PLFLT y_label_distance = 5.5;
constexpr PLFLT title_distance = 4.0;
constexpr PLFLT subtitle_distance = 2.6;
// The name of the best order stands on a line of its own between the
// subtitle and the frame.
constexpr PLFLT best_label_distance = 1.0;

// What the plotting library needs in its scratch folder before it draws
// (its table of drivers, a few kilobytes), with a wide margin: without it,
// the library ends the process with a message of its own.
constexpr std::size_t library_scratch_bytes = std::size_t{64} << 10;

// The length of the UTF-8 sequence that starts at `text[at]`, or 0 when it
// is not a whole, shortest, valid one (no surrogates, nothing past
// U+10FFFF).
std::size_t utf8_sequence_length(const std::string& text, std::size_t at) {
  const auto byte = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned long code = 0;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
    code = lead & 0x1fu;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    code = lead & 0x0fu;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    code = lead & 0x07u;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(at + k) & 0xc0u) != 0x80u) return 0;
    code = (code << 6) | (byte(at + k) & 0x3fu);
  }
  const unsigned long shortest[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < shortest[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
  return length;
}

// A name as the library shows it literally: '#' begins the library's own
// escapes ("#g" a Greek letter, "#[0x..]" a code point), so it is doubled;
// a byte that is no valid UTF-8, or a control character (which an SVG file
// cannot hold), is shown as '?'.
std::string literal_text(const std::string& name) {
  std::string text;
  for (std::size_t at = 0; at < name.size();) {
    const std::size_t length = utf8_sequence_length(name, at);
    const auto byte = static_cast<unsigned char>(name[at]);
    if (length == 0 || byte < 0x20 || byte == 0x7f) {
      text += '?';
      ++at;
      continue;
    }
    if (name[at] == '#') text += '#';
    text.append(name, at, length);
    at += length;
  }
  return text;
}

struct Range {
  double low;
  double high;
};

Range padded(double low, double high) {
  double spread = high - low;
  if (!(spread > 0.0)) spread = std::fmax(std::fabs(high), 1.0);
  return {low - margin_fraction * spread, high + margin_fraction * spread};
}

// The step of numbered ticks on an axis of whole numbers (orders,
// intervals) spanning `span`: 1, 2, 5, 10, 20, ... so that no tick falls
// between two whole numbers and at most most_ticks are numbered.
double whole_number_step(double span) {
  double step = 1.0;
  for (int k = 0; span / step > most_ticks; ++k) step *= k % 3 == 1 ? 2.5 : 2.0;
  return step;
}

// A panel's frame, axes and labels in the viewport `panel`; the x axis
// counts whole numbers.
void start_panel(const PLFLT panel[4], double x_low, double x_high, const Range& y,
                 const char* x_label, const char* y_label, const char* title, const char* subtitle,
                 const char* x_options = x_axis_options) {
  plvpor(panel[0], panel[1], panel[2], panel[3]);
  plwind(x_low, x_high, y.low, y.high);
  plcol0(axis_colour);
  plbox(x_options, whole_number_step(x_high - x_low), 1, y_axis_options, 0.0, 0);
  plmtex("b", x_label_distance, 0.5, 0.5, x_label);
  plmtex("l", y_label_distance, 0.5, 0.5, y_label);
  plmtex("t", title_distance, 0.5, 0.5, title);
  plmtex("t", subtitle_distance, 0.5, 0.5, subtitle);
}

// The last part of a path: a long folder would crowd the title out.
std::string file_name_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
}

// The data the fits were made to, across the top of the page: the file,
// or the first of several and how many there are with it.
void draw_page_title(const std::vector<ScannedData>& files) {
  char title[512];
  const ScannedData& data = files.front();
  if (files.size() == 1) {
    std::snprintf(title, sizeof title, "%s: M = %d observations, n = %d intervals",
                  literal_text(file_name_of(data.name)).c_str(), data.observation_count,
                  data.interval_count);
  } else {
    long long observations = 0;
    long long intervals = 0;
    for (const ScannedData& file : files) {
      observations += file.observation_count;
      intervals += file.interval_count;
    }
    std::snprintf(title, sizeof title,
                  "%s and %zu more file%s, fitted together: %lld observations, %lld intervals",
                  literal_text(file_name_of(data.name)).c_str(), files.size() - 1,
                  files.size() > 2 ? "s" : "", observations, intervals);
  }
  plvpor(0.0, 1.0, 0.0, 1.0);
  plwind(0.0, 1.0, 0.0, 1.0);
  plcol0(axis_colour);
  plschr(0.0, title_scale);
  plptex(0.5, page_title_height, 1.0, 0.0, 0.5, title);
  plschr(0.0, text_scale);
}

// Each order's log-likelihood less the best one's: the support set is the
// band from -support_width to 0, shaded, and the best order is marked and
// named above the panel, where neither the curve nor the mark can cover it.
void draw_log_likelihoods(const std::vector<OrderResult>& results, const OrderResult& best) {
  std::vector<PLFLT> orders;
  std::vector<PLFLT> differences;
  for (const OrderResult& r : results) {
    if (!std::isfinite(r.log_likelihood)) continue;
    orders.push_back(r.order);
    differences.push_back(r.log_likelihood - best.log_likelihood);
  }
  const double lowest = *std::min_element(differences.begin(), differences.end());
  const double shown = std::fmax(std::fmax(-lowest, 1.5 * support_width), 0.0);
  const double floor = -std::fmin(shown, shown_support_widths * support_width);
  const Range y{floor - margin_fraction * -floor, margin_fraction * -floor};
  const double x_low = results.front().order - 0.5;
  const double x_high = results.back().order + 0.5;
  plvpor(left_panel[0], left_panel[1], left_panel[2], left_panel[3]);
  plwind(x_low, x_high, y.low, y.high);
  // The band first, so that the frame and the data are drawn over it.
  PLFLT band_x[4] = {x_low, x_high, x_high, x_low};
  PLFLT band_y[4] = {-support_width, -support_width, 0.0, 0.0};
  plscol0(band_colour, band_grey, band_grey, band_grey);
  plcol0(band_colour);
  plfill(4, band_x, band_y);
  char caption[160];
  std::snprintf(caption, sizeof caption, "shaded: within %g units of the best (the support set)",
                support_width);
  start_panel(left_panel, x_low, x_high, y, "model order p", "log-likelihood - best",
              "Log-likelihood of each order, from the best", caption);
  plcol0(data_colour);
  std::vector<PLFLT> clipped(differences);
  std::vector<PLFLT> below_orders;
  std::vector<PLFLT> below_values;
  for (std::size_t k = 0; k < clipped.size(); ++k) {
    if (clipped[k] >= floor) continue;
    clipped[k] = floor;
    below_orders.push_back(orders[k]);
    below_values.push_back(floor);
  }
  const auto count = static_cast<PLINT>(orders.size());
  plline(count, orders.data(), clipped.data());
  plpoin(count, orders.data(), clipped.data(), point_symbol);
  if (!below_orders.empty()) {
    plpoin(static_cast<PLINT>(below_orders.size()), below_orders.data(), below_values.data(),
           below_symbol);
    char note[160];
    std::snprintf(note, sizeof note, "orders further below drawn at %g", floor);
    plcol0(axis_colour);
    plmtex("b", x_label_distance + 1.3, 0.0, 0.0, note);
  }

  PLFLT best_order = best.order;
  PLFLT zero = 0.0;
  plcol0(best_colour);
  plssym(0.0, best_symbol_scale);
  plpoin(1, &best_order, &zero, best_symbol);
  plssym(0.0, 1.0);
  char label[64];
  std::snprintf(label, sizeof label, "best: p = %d", best.order);
  plmtex("t", best_label_distance, 1.0, 1.0, label);
}

// The files' blocks in the lengths panel: a dashed line in each gap and
// each file's name at the top of its block, upright when many files leave
// little room across.
void draw_file_blocks(const OrderResult& best, const std::vector<ScannedData>& files,
                      const std::vector<double>& place, const Range& y) {
  constexpr std::size_t across_limit = 4;
  constexpr PLINT dashed = 2;
  constexpr PLFLT name_scale = 0.8;
  plcol0(axis_colour);
  plschr(0.0, text_scale * name_scale);
  const bool upright = best.shares.size() > across_limit;
  for (std::size_t k = 0; k < best.shares.size(); ++k) {
    const FileShare& share = best.shares[k];
    if (share.count == 0) continue;
    const double first = place[share.first];
    const double last = place[share.first + share.count - 1];
    if (k + 1 < best.shares.size()) {
      PLFLT x[2] = {last + 1.0, last + 1.0};
      PLFLT line_y[2] = {y.low, y.high};
      pllsty(dashed);
      plline(2, x, line_y);
      pllsty(1);
    }
    const std::string name = literal_text(file_name_of(k < files.size() ? files[k].name : ""));
    const double top = y.high - margin_fraction * 0.3 * (y.high - y.low);
    if (upright) {
      plptex((first + last) / 2.0, top, 0.0, -1.0, 0.0, name.c_str());
    } else {
      plptex((first + last) / 2.0, top, 1.0, 0.0, 0.5, name.c_str());
    }
  }
  plschr(0.0, text_scale);
}

// The best order's lengths with their profile intervals where they were
// computed, else their Wald intervals; the title says which.  Several
// files' lengths stand side by side along one axis, file after file, a
// dashed line and a gap between files and each file's name over its
// lengths: up to some twenty files of a few dozen intervals stay readable
// on one panel, where a panel per file would be too small to read.
void draw_best_lengths(const OrderResult& best, const std::vector<ScannedData>& files) {
  const std::size_t n = best.lengths.size();
  // The place of length t on the axis: its number, one more for each file
  // before its own.
  std::vector<double> place(n);
  std::size_t file = 0;
  for (std::size_t t = 0; t < n; ++t) {
    while (file + 1 < best.shares.size() && t >= best.shares[file + 1].first) ++file;
    place[t] = static_cast<double>(t + 1 + file);
  }
  const double last_place = n == 0 ? 1.0 : place[n - 1];
  std::vector<PLFLT> intervals;
  std::vector<PLFLT> lengths;
  std::vector<PLFLT> lower;
  std::vector<PLFLT> upper;
  double high = 0.0;
  for (std::size_t t = 0; t < n; ++t) {
    high = std::fmax(high, best.lengths[t]);
    double from = 0.0;
    double to = 0.0;
    if (best.profiled && t < best.profiles.size() && std::isfinite(best.profiles[t].upper)) {
      from = best.profiles[t].lower;
      to = best.profiles[t].upper;
    } else if (!best.profiled && has_wald(best, t)) {
      // length +- z SE
      from = best.lengths[t] - wald_quantile_95 * best.standard_errors[t];
      to = best.lengths[t] + wald_quantile_95 * best.standard_errors[t];
    } else {
      continue;
    }
    intervals.push_back(place[t]);
    lengths.push_back(best.lengths[t]);
    lower.push_back(from);
    upper.push_back(to);
    high = std::fmax(high, to);
  }
  char title[160];
  std::snprintf(title, sizeof title, "Lengths of the best order, p = %d%s", best.order,
                best.shares.empty() ? "" : ", file by file");
  const char* caption = best.profiled ? "bars: 95% profile-likelihood intervals"
                        : best.positive_definite
                            ? "bars: 95% Wald intervals, length +- 1.96 SE"
                            : "no intervals: the observed information is not positive definite";
  // Lengths are never below 0: the axis starts there, and a Wald bar that
  // would reach below it is cut at it.
  for (PLFLT& from : lower) from = std::fmax(from, 0.0);
  // Several files' places are no interval numbers: their axis has ticks
  // without numbers, and room at the top for the files' names.
  const bool several = !best.shares.empty();
  constexpr double name_room = 1.25;
  const Range y{0.0, padded(0.0, high).high * (several ? name_room : 1.0)};
  start_panel(right_panel, 0.5, last_place + 0.5, y,
              several ? "intervals of each file in turn, the files in the order given" : "interval",
              "length (expected events / 2p)", title, caption, several ? "bcst" : x_axis_options);
  if (!best.shares.empty()) draw_file_blocks(best, files, place, y);
  plcol0(data_colour);
  std::vector<PLFLT> all_intervals(place.begin(), place.end());
  std::vector<PLFLT> all_lengths(best.lengths.begin(), best.lengths.end());
  plpoin(static_cast<PLINT>(n), all_intervals.data(), all_lengths.data(), point_symbol);
  if (!intervals.empty()) {
    plerry(static_cast<PLINT>(intervals.size()), intervals.data(), lower.data(), upper.data());
  }
}

}  // namespace

// The device for each kind, the first one installed: cairo's for PDF and
// PNG draw the text with the system's fonts.
struct PlotDevice {
  const char* kind;
  const char* devices[2];
};
constexpr PlotDevice plot_devices[] = {
    {".svg", {"svg", "svgcairo"}},
    {".pdf", {"pdfcairo", "pdf"}},
    {".png", {"pngcairo", "png"}},
};

// The PLplot devices installed, by name.
std::vector<std::string> installed_devices() {
  constexpr int most_devices = 128;
  // The library fills the two arrays that the pointers point at.
  std::vector<const char*> menus(most_devices);
  std::vector<const char*> names(most_devices);
  const char** menu_list = menus.data();
  const char** name_list = names.data();
  int count = most_devices;
  plgDevs(&menu_list, &name_list, &count);
  return std::vector<std::string>(names.begin(), names.begin() + count);
}

// The device that draws `kind`, or null.
const char* device_for(const std::string& kind) {
  static const std::vector<std::string> installed = installed_devices();
  for (const PlotDevice& d : plot_devices) {
    if (kind != d.kind) continue;
    for (const char* device : d.devices) {
      if (std::find(installed.begin(), installed.end(), device) != installed.end()) return device;
    }
  }
  return nullptr;
}

bool scan_plot_available() { return true; }

std::string plot_device_problem(const std::string& kind) {
  const std::string scratch = temporary_folder();
  if (const std::string problem = scratch_space_problem(scratch, library_scratch_bytes);
      !problem.empty()) {
    return "no room for the plotting library's scratch files in " + scratch + ": " + problem +
           " (is the disk full?)";
  }
  if (device_for(kind) == nullptr)
    return "no plotting device in this build draws a " + kind + " file";
  return {};
}

std::vector<std::string> plot_kinds() {
  std::vector<std::string> kinds;
  for (const PlotDevice& d : plot_devices) {
    if (device_for(d.kind) != nullptr) kinds.emplace_back(d.kind);
  }
  return kinds;
}

std::string plot_unavailable_reason() { return {}; }

std::string write_scan_plot(const std::string& svg_path, const std::vector<OrderResult>& results,
                            const std::vector<ScannedData>& files) {
  return write_scan_plot(svg_path, ".svg", results, files);
}

std::string write_scan_plot(const std::string& path, const std::string& kind,
                            const std::vector<OrderResult>& results,
                            const std::vector<ScannedData>& files) {
  const int best = best_result(results);
  if (files.empty()) return "no data file to name in the plot";
  if (results.empty() || best < 0) return "no fit gives a log-likelihood to plot";
  if (std::string problem = plot_device_problem(kind); !problem.empty()) return problem;
  plsdev(device_for(kind));
  plsfnam(path.c_str());
  plspage(0.0, 0.0, page_width, page_height, 0, 0);
  plscolbg(255, 255, 255);
  plscol0(axis_colour, 0, 0, 0);
  plstar(1, 1);
  pladv(0);
  draw_page_title(files);
  draw_log_likelihoods(results, results[static_cast<std::size_t>(best)]);
  draw_best_lengths(results[static_cast<std::size_t>(best)], files);
  plend();
  return {};
}
