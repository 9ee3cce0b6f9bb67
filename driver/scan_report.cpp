#include "driver/scan_report.hpp"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <type_traits>

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

// "%f" of x, without the sign of a value that rounds to zero: a reader
// takes "-0.000000" for a small negative number.
std::string fixed(double x) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", x);
  std::string written = text;
  if (written.front() == '-' && written.find_first_not_of("-0.") == std::string::npos) {
    return written.substr(1);
  }
  return written;
}

std::string interval_text(double lower, double upper) {
  return "[" + fixed(lower) + ", " + fixed(upper) + "]";
}

// A table whose columns are as wide as their widest cell (at least their
// minimum), two blanks apart, text columns left-aligned and number columns
// right-aligned, and no blank at the end of a line.
struct Column {
  std::size_t minimum_width;
  bool left_aligned;
};

void print_aligned(std::FILE* out, const std::vector<Column>& columns,
                   const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  widths.reserve(columns.size());
  for (const Column& column : columns) widths.push_back(column.minimum_width);
  for (const std::vector<std::string>& row : rows) {
    for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c) {
      widths[c] = std::max(widths[c], row[c].size());
    }
  }
  for (const std::vector<std::string>& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c) {
      if (c > 0) line += "  ";
      const std::string padding(widths[c] - row[c].size(), ' ');
      line += columns[c].left_aligned ? row[c] + padding : padding + row[c];
    }
    line.erase(line.find_last_not_of(' ') + 1);
    std::fprintf(out, "%s\n", line.c_str());
  }
}

void print_order_rows(std::FILE* out, const std::vector<OrderResult>& results, double best) {
  std::vector<std::vector<std::string>> rows = {
      {"order", "log-likelihood", "difference", "converged", "total length", "standard error"}};
  for (const OrderResult& r : results) {
    std::string error = no_standard_error;
    if (total_has_wald(r)) {
      error = fixed(r.total_standard_error);
    } else if (r.positive_definite) {
      error = "at bound";
    }
    rows.push_back({std::to_string(r.order), fixed(r.log_likelihood),
                    fixed(r.log_likelihood - best), converged_word(r.fit), fixed(r.total_length),
                    error});
  }
  print_aligned(out, {{5, false}, {16, false}, {12, false}, {16, true}, {12, false}, {0, true}},
                rows);
}

// The standard-error and Wald cells of one row.
void add_wald_cells(std::vector<std::string>& row, bool wald, bool at_bound, double value,
                    double se) {
  if (wald) {
    row.push_back(fixed(se));
    row.push_back(interval_text(value - wald_quantile_95 * se, value + wald_quantile_95 * se));
  } else {
    row.push_back(at_bound ? "at bound" : no_standard_error);
    row.push_back("-");
  }
}

void add_profile_cell(std::vector<std::string>& row, const OrderResult& r, bool profiled,
                      const LengthInterval& interval) {
  if (!r.profiled) return;
  if (!profiled) {
    row.push_back("-");
    return;
  }
  row.push_back(interval_text(interval.lower, interval.upper) +
                (interval.found ? "" : " (not settled)"));
}

// The row of a fraction (named "escape" or "error"); false when its Wald
// interval would leave the fraction's range and is left out.
bool add_fraction_row(std::vector<std::vector<std::string>>& rows, const OrderResult& r,
                      const FractionResult& e, const char* name) {
  if (!e.identified) {
    rows.push_back({name, "NA", "not identified"});
    return true;
  }
  std::vector<std::string> row = {name, fixed(e.fraction)};
  const bool inside = fraction_wald_inside(e);
  add_wald_cells(row, e.has_standard_error && inside, e.at_bound, e.fraction, e.standard_error);
  if (e.has_standard_error && !inside) row[2] = fixed(e.standard_error);
  add_profile_cell(row, r, e.profiled, e.profile);
  rows.push_back(row);
  return !e.has_standard_error || inside;
}

// The lengths of one order with their standard errors and intervals, under
// `heading`, and the notes that explain what is missing; the fractions'
// rows unless `fractions` is false.
void print_lengths(std::FILE* out, const OrderResult& r, const std::string& heading,
                   bool fractions = true) {
  std::fprintf(out, "\n%s\n", heading.c_str());
  std::vector<std::vector<std::string>> rows = {
      {"interval", "length", "standard error", "95% Wald interval"}};
  if (r.profiled) rows.front().push_back("95% profile interval");
  bool any_at_bound = false;
  for (std::size_t t = 0; t < r.lengths.size(); ++t) {
    const bool at_bound = t < r.at_bound.size() && r.at_bound[t];
    any_at_bound = any_at_bound || at_bound;
    std::vector<std::string> row = {std::to_string(t + 1), fixed(r.lengths[t])};
    add_wald_cells(row, has_wald(r, t), at_bound, r.lengths[t],
                   has_wald(r, t) ? r.standard_errors[t] : 0.0);
    add_profile_cell(row, r, t < r.profiles.size(),
                     t < r.profiles.size() ? r.profiles[t] : LengthInterval{});
    rows.push_back(row);
  }
  std::vector<std::string> total = {"total", fixed(r.total_length)};
  add_wald_cells(total, total_has_wald(r), false, r.total_length, r.total_standard_error);
  add_profile_cell(total, r, true, r.total_profile);
  rows.push_back(total);
  bool escape_wald_shown = true;
  bool error_wald_shown = true;
  if (fractions && r.escape.fitted) {
    escape_wald_shown = add_fraction_row(rows, r, r.escape, "escape");
  }
  if (fractions && r.error.fitted) error_wald_shown = add_fraction_row(rows, r, r.error, "error");
  print_aligned(out, {{8, false}, {12, false}, {14, false}, {24, true}, {0, true}}, rows);
  if (fractions && r.escape.fitted && !r.escape.identified) {
    std::fprintf(out,
                 "At order 1 every event moves the class: q does not change the likelihood and "
                 "is not fitted.\n");
  }
  if (!escape_wald_shown) {
    std::fprintf(out,
                 "The Wald interval of q would reach past 0 or 1, where q cannot go, so none is "
                 "given; the profile interval respects the range.\n");
  }
  if (!error_wald_shown) {
    std::fprintf(out,
                 "The Wald interval of e would reach past 0 or 0.5, where e cannot go, so none is "
                 "given; the profile interval respects the range.\n");
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
                 "curvature the bound cuts off, so none is given; the total's standard error "
                 "holds that length at 0.\n");
  }
}

// The same for a fit of several files: each file's lengths under its name,
// the common fractions with the last file's.
void print_order_lengths(std::FILE* out, const OrderResult& r, const std::string& heading,
                         const std::vector<std::string>& files) {
  if (r.shares.empty()) {
    print_lengths(out, r, heading);
    return;
  }
  std::fprintf(out, "\n%s", heading.c_str());
  for (std::size_t k = 0; k < r.shares.size(); ++k) {
    const std::string name = k < files.size() ? files[k] : "file " + std::to_string(k + 1);
    print_lengths(out, file_result(r, k), "Data file " + name + ":", k + 1 == r.shares.size());
  }
}

void print_support_set(std::FILE* out, const std::vector<OrderResult>& results) {
  char width[32];
  std::snprintf(width, sizeof width, "%g", support_width);
  std::string line =
      std::string("\nSupport set (orders within ") + width + " log-likelihood units of the best):";
  for (const int order : support_set(results)) line += " " + std::to_string(order);
  std::fprintf(out, "%s\n", line.c_str());
}

// A fraction at every order, its profile interval, and the test of it
// being 0: the escape fraction q, or the misread rate e.
void print_fraction_by_order(std::FILE* out, const std::vector<OrderResult>& results,
                             FractionResult OrderResult::*member, const char* title,
                             const char* symbol, const char* name) {
  std::fprintf(out,
               "\n%s %s by order; LR tests %s = 0, its p-value from the 50:50 "
               "mixture of chi-square with 0 and 1 degrees of freedom:\n",
               title, symbol, symbol);
  std::vector<std::vector<std::string>> rows = {
      {"order", name, "95% profile interval", "LR", "p-value"}};
  for (const OrderResult& r : results) {
    const FractionResult& e = r.*member;
    if (!e.identified) {
      rows.push_back({std::to_string(r.order), "NA", "not identified", "-", "-"});
      continue;
    }
    std::string interval = "-";
    if (e.profiled) {
      interval = interval_text(e.profile.lower, e.profile.upper) + (e.profile.found ? "" : "?");
    }
    char p_value[32];
    std::snprintf(p_value, sizeof p_value, "%.4g", e.p_value);
    rows.push_back(
        {std::to_string(r.order), fixed(e.fraction), interval, fixed(e.likelihood_ratio), p_value});
  }
  print_aligned(out, {{5, false}, {10, false}, {26, true}, {12, false}, {0, true}}, rows);
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
  for (FileShare& share : result.shares) {
    share.total_length = 0.0;
    for (std::size_t t = share.first; t < share.first + share.count; ++t) {
      share.total_length += result.lengths[t];
    }
  }
}

std::vector<FileShare> shares_of(const std::vector<const HeldTable*>& tables) {
  std::vector<FileShare> shares;
  shares.reserve(tables.size());
  std::size_t first = 0;
  for (const HeldTable* table : tables) {
    FileShare share;
    share.first = first;
    share.count = static_cast<std::size_t>(table->intervals());
    first += share.count;
    shares.push_back(share);
  }
  return shares;
}

OrderResult file_result(const OrderResult& joint, std::size_t k) {
  if (joint.shares.empty()) return joint;
  const FileShare& share = joint.shares[k];
  const auto first = static_cast<std::ptrdiff_t>(share.first);
  const auto last = static_cast<std::ptrdiff_t>(share.first + share.count);
  auto slice = [first, last](const auto& all) {
    using Vector = std::remove_cvref_t<decltype(all)>;
    return all.size() >= static_cast<std::size_t>(last)
               ? Vector(all.begin() + first, all.begin() + last)
               : Vector{};
  };
  OrderResult result;
  result.order = joint.order;
  result.fit = joint.fit;
  result.fit.parameters = slice(joint.fit.parameters);
  result.log_likelihood = joint.log_likelihood;
  result.lengths = slice(joint.lengths);
  result.total_length = share.total_length;
  result.positive_definite = joint.positive_definite;
  result.standard_errors = slice(joint.standard_errors);
  result.total_standard_error = share.total_standard_error;
  result.at_bound = slice(joint.at_bound);
  result.profiled = joint.profiled;
  result.profiles = slice(joint.profiles);
  result.total_profile = share.total_profile;
  result.escape = joint.escape;
  result.error = joint.error;
  result.seconds = joint.seconds;
  return result;
}

bool has_wald(const OrderResult& result, std::size_t t) {
  return result.positive_definite && !(t < result.at_bound.size() && result.at_bound[t]);
}

// A length at bound is held at 0 in the total's variance: the total itself
// is not at a bound, so it keeps its error as long as one length is free.
bool total_has_wald(const OrderResult& result) {
  if (!result.positive_definite) return false;
  for (std::size_t t = 0; t < result.lengths.size(); ++t) {
    if (!(t < result.at_bound.size() && result.at_bound[t])) return true;
  }
  return false;
}

bool fraction_wald_inside(const FractionResult& e) {
  // fraction +- z SE within its range.
  return e.fraction - wald_quantile_95 * e.standard_error >= 0.0 &&
         e.fraction + wald_quantile_95 * e.standard_error <= e.upper;
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
  auto at_bound = [&result](int i) {
    return static_cast<std::size_t>(i - 1) < result.at_bound.size() &&
           result.at_bound[static_cast<std::size_t>(i - 1)];
  };
  // Var(sum of parameters first..last) = sum_ij Cov[i][j] over the free
  // parameters among them, the bound ones held at their value.
  auto total_error = [&](int first, int last) {
    double variance = 0.0;
    for (int i = first; i <= last; ++i) {
      if (at_bound(i)) continue;
      for (int j = first; j <= last; ++j) {
        if (!at_bound(j)) variance += cov[i][j];
      }
    }
    return std::sqrt(variance) / scale;
  };
  for (int i = 1; i <= n; ++i) {
    // A length at bound has no standard error (its entries are not used).
    result.standard_errors.push_back(at_bound(i) ? std::nan("") : std::sqrt(cov[i][i]) / scale);
  }
  result.total_standard_error = total_error(1, n);
  for (FileShare& share : result.shares) {
    const int first = static_cast<int>(share.first) + 1;
    share.total_standard_error = total_error(first, first + static_cast<int>(share.count) - 1);
  }
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

void print_scan_table(std::FILE* out, const std::vector<OrderResult>& results,
                      const std::vector<std::string>& files) {
  const int best = best_result(results);
  const double best_value =
      best < 0 ? std::nan("") : results[static_cast<std::size_t>(best)].log_likelihood;
  print_order_rows(out, results, best_value);
  if (best < 0) {
    std::fprintf(out, "\nNo order gives a finite log-likelihood: every fit failed.\n");
    return;
  }
  const OrderResult& chosen = results[static_cast<std::size_t>(best)];
  // One order is no choice: its lengths, without a best order or a support set.
  if (results.size() == 1) {
    print_order_lengths(out, chosen,
                        "Order p = " + std::to_string(chosen.order) + " (log-likelihood " +
                            fixed(chosen.log_likelihood) + ")",
                        files);
  } else {
    print_order_lengths(out, chosen,
                        "Best order: p = " + std::to_string(chosen.order) + " (log-likelihood " +
                            fixed(chosen.log_likelihood) + ")",
                        files);
    // The data cannot tell the support set's orders from the best: each one's
    // lengths are a result to report beside the best's.
    for (const OrderResult& r : results) {
      if (&r == &chosen || !(r.log_likelihood >= best_value - support_width)) continue;
      print_order_lengths(out, r,
                          "Order p = " + std::to_string(r.order) +
                              ", in the support set (log-likelihood " + fixed(r.log_likelihood) +
                              ", " + fixed(r.log_likelihood - best_value) + " from the best)",
                          files);
    }
    print_support_set(out, results);
  }
  if (chosen.escape.fitted) {
    print_fraction_by_order(out, results, &OrderResult::escape, "Escape fraction", "q", "escape");
  }
  if (chosen.error.fitted) {
    print_fraction_by_order(out, results, &OrderResult::error, "Misread rate", "e", "error");
  }
}

double boundary_test_p_value(double likelihood_ratio) {
  if (!(likelihood_ratio > 0.0)) return 1.0;
  // P(chi2_1 > x) = P(|Z| > sqrt(x)) = erfc(sqrt(x / 2)), halved by the mixture.
  return 0.5 * std::erfc(std::sqrt(0.5 * likelihood_ratio));
}

namespace {

// A text as one CSV field: quoted, its quotes doubled, where it holds a
// comma, a quote or a line break.
std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// A number for the CSV with all its digits, 0 for a negative zero.
double csv_number(double x) { return x == 0.0 ? 0.0 : x; }

// One CSV row.  `interval` is the interval's number, "total" or "escape",
// and `parameter` says which of them the row is; the Wald interval is
// value +- z SE where there is one (`wald`), the standard error is given
// where there is one, and the profile interval when one was computed
// (`profile` not null).
struct CsvValue {
  std::string interval;
  const char* parameter;
  double value;
  bool has_standard_error;
  double standard_error;
  bool wald;
  const LengthInterval* profile;
};

void print_csv_row(std::FILE* out, const OrderResult& r, const CsvValue& v,
                   const std::string& file) {
  std::fprintf(out, "%d,%s,", r.order, v.interval.c_str());
  if (std::isnan(v.value)) {
    std::fprintf(out, "NA,");
  } else {
    std::fprintf(out, "%.17g,", csv_number(v.value));
  }
  if (v.has_standard_error) {
    std::fprintf(out, "%.17g,", csv_number(v.standard_error));
  } else {
    std::fprintf(out, "NA,");
  }
  std::fprintf(out, "%.17g,%s,", csv_number(r.log_likelihood), r.fit.converged() ? "yes" : "no");
  if (v.has_standard_error && v.wald) {
    std::fprintf(out, "%.17g,%.17g,", csv_number(v.value - wald_quantile_95 * v.standard_error),
                 csv_number(v.value + wald_quantile_95 * v.standard_error));
  } else {
    std::fprintf(out, "NA,NA,");
  }
  if (v.profile != nullptr) {
    std::fprintf(out, "%.17g,%.17g,", csv_number(v.profile->lower), csv_number(v.profile->upper));
  } else {
    std::fprintf(out, "NA,NA,");
  }
  std::fprintf(out, "%s,%s\n", v.parameter, file.c_str());
}

}  // namespace

void print_scan_csv(std::FILE* out, const std::vector<OrderResult>& results,
                    const std::vector<std::string>& files) {
  std::fprintf(out,
               "order,interval,length,standard_error,log_likelihood,converged,"
               "wald_lower,wald_upper,profile_lower,profile_upper,parameter,file\n");
  for (const OrderResult& joint : results) {
    // Each file's rows as a scan of it alone lays them out; the common
    // fractions' rows are in every file's.
    const std::size_t count = std::max<std::size_t>(joint.shares.size(), 1);
    for (std::size_t k = 0; k < count; ++k) {
      const OrderResult r = file_result(joint, k);
      const std::string file = csv_field(k < files.size() ? files[k] : "");
      for (std::size_t t = 0; t < r.lengths.size(); ++t) {
        const bool wald = has_wald(r, t);
        print_csv_row(
            out, r,
            {std::to_string(t + 1), "length", r.lengths[t], wald, wald ? r.standard_errors[t] : 0.0,
             true, r.profiled && t < r.profiles.size() ? &r.profiles[t] : nullptr},
            file);
      }
      print_csv_row(out, r,
                    {"total", "total", r.total_length, total_has_wald(r), r.total_standard_error,
                     true, r.profiled ? &r.total_profile : nullptr},
                    file);
      for (const auto& [e, name] :
           {std::pair<const FractionResult&, const char*>{r.escape, "escape"},
            std::pair<const FractionResult&, const char*>{r.error, "error"}}) {
        if (e.fitted && !e.identified) {
          print_csv_row(out, r, {name, name, std::nan(""), false, 0.0, false, nullptr}, file);
        } else if (e.fitted) {
          print_csv_row(out, r,
                        {name, name, e.fraction, e.has_standard_error, e.standard_error,
                         fraction_wald_inside(e), e.profiled ? &e.profile : nullptr},
                        file);
        }
      }
    }
  }
}

std::string plot_kind_of(const std::string& name) {
  for (std::string kind : {".svg", ".pdf", ".png"}) {
    if (name.size() <= kind.size()) continue;
    std::string ending = name.substr(name.size() - kind.size());
    for (char& c : ending) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (ending == kind) return kind;
  }
  return {};
}

bool known_plot_kind(const std::string& name) { return !plot_kind_of(name).empty(); }

bool plot_complete(const std::string& contents, const std::string& kind) {
  // What ends each kind of file, followed by nothing but blank space.
  std::string ending;
  if (kind == ".svg") ending = "</svg>";
  if (kind == ".pdf") ending = "%%EOF";
  if (kind == ".png") ending = std::string("IEND\xae\x42\x60\x82", 8);
  if (ending.empty()) return false;
  const std::size_t at = contents.rfind(ending);
  return at != std::string::npos &&
         contents.find_first_not_of(" \t\r\n", at + ending.size()) == std::string::npos;
}

std::string progress_line(const OrderResult& r) {
  char line[400];
  std::snprintf(
      line, sizeof line,
      "order %d: log-likelihood %s after %d restart%s (%lld evaluations), %.3f s%s%s%s", r.order,
      fixed(r.log_likelihood).c_str(), r.fit.restarts, r.fit.restarts == 1 ? "" : "s",
      r.fit.evaluations, r.seconds,
      r.fit.restart_limit_reached ? "; the restart limit was reached" : "",
      r.fit.evaluation_limit_reached ? "; the last search stopped at the evaluation limit" : "",
      r.positive_definite ? "" : "; information not positive definite");
  return line;
}
