// interval-scan: fits a range of model orders to one observation data file,
// each with a bounded quasi-Newton search on the exact gradient, restarted
// until it settles, and reports which order fits best and how uncertain each
// fitted length is: Wald intervals from the observed information (the
// Hessian of the negative log-likelihood at the fit) and profile-likelihood
// intervals from constrained refits.
//
// Exit status: 0 when everything asked for is written, 1 for a data file
// that cannot be used or an output that cannot be written, 2 for options
// that are not understood or not valid, or outputs that would land on the
// data file or on each other (nothing is read or written then).
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "driver/command_line.hpp"
#include "driver/console_output.hpp"
#include "driver/file_identity.hpp"
#include "driver/observation_file.hpp"
#include "driver/observation_rows.hpp"
#include "driver/output_file.hpp"
#include "driver/scan_options.hpp"
#include "driver/scan_progress.hpp"
#include "driver/scan_report.hpp"
#include "foundation/fatal_error.hpp"
#include "foundation/worker_threads.hpp"
#include "model/likelihood.hpp"
#include "model/observations.hpp"
#include "optimise/gradient_fit.hpp"
#include "optimise/gradient_information.hpp"
#include "optimise/profile_likelihood.hpp"

namespace {

constexpr int status_data_problem = 1;

// The profile search's first step is this many Wald half-widths.
constexpr double wald_overshoot = 1.25;

// Where the search for the escape fraction starts, from the lengths of the
// fit without escape: a small share, off the bound, so the first gradient
// can point either way.
constexpr double escape_start = 0.1;

constexpr const char* program_name = "interval-scan";

constexpr const char* description =
    "Fits the latent-state model of each order in a range to an observation data\n"
    "file (the same file as interval-fit reads, checked strictly), and reports which\n"
    "order fits best and how uncertain each fitted length is.\n"
    "\n"
    "Each order is fitted from the estimate in every coordinate by a quasi-Newton\n"
    "search (L-BFGS) on the exact gradient of the log-likelihood, with every\n"
    "parameter kept at 0 or above, restarted from its end until a restart no\n"
    "longer improves the fit.  Standard errors come from the inverse of the\n"
    "observed information (central differences of the gradient), divided by 2p\n"
    "like the lengths; a length fitted as 0 gets none (\"at bound\").  Profile-\n"
    "likelihood 95% intervals hold every value whose best fit stays within\n"
    "3.841/2 log-likelihood units of the best: they respect the bound at 0 and\n"
    "the skew of small samples.  Progress goes to standard error.";

constexpr const char* footer =
    "Output: a table of all orders (log-likelihood, difference from the best,\n"
    "convergence, Total Length with its standard error), then the lengths of the\n"
    "best order with standard errors, 95% Wald and profile intervals, and the\n"
    "support set: the orders within 2 log-likelihood units of the best, which the\n"
    "data cannot tell apart from it.  etest.txt is not written.  Output files are\n"
    "replaced only when complete.  The orders are fitted on all cores at once;\n"
    "INTERVAL_THREADS=N sets the number of threads (1 to 256), which changes no\n"
    "result.  Exit status: 0 done, 1 data file or output problem, 2 bad options\n"
    "or colliding files.";

int report_failure(const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", program_name, what.c_str());
  return status_data_problem;
}

std::string data_name(const ScanOptions& options) {
  return options.data_file == "-" ? "standard input" : options.data_file;
}

// An output that is the data file, or the other output, would destroy what
// it lands on; refused before anything is read.
std::string collision_problem(const ScanOptions& options) {
  struct Named {
    std::string description;
    std::string name;
    FileIdentity identity;
  };
  std::vector<Named> files;
  files.push_back(
      {"the data file", data_name(options),
       options.data_file == "-" ? identify_descriptor(0) : identify_path(options.data_file)});
  if (!options.csv_file.empty()) {
    files.push_back(
        {"the CSV file", options.csv_file == "-" ? "standard output" : options.csv_file,
         options.csv_file == "-" ? identify_descriptor(1) : identify_path(options.csv_file)});
  }
  if (!options.plot_file.empty()) {
    files.push_back({"the plot file", options.plot_file, identify_path(options.plot_file)});
  }
  for (std::size_t later = 1; later < files.size(); ++later) {
    for (std::size_t earlier = 0; earlier < later; ++earlier) {
      if (!same_file(files[earlier].identity, files[later].identity)) continue;
      return files[later].description + " " + files[later].name + " is the same file as " +
             files[earlier].description + " " + files[earlier].name +
             "; give the output another name";
    }
  }
  return {};
}

// Reads, checks and installs the data file; the counts go to the plot.
// Returns the failure status, or nothing when the table is set.
std::optional<int> load_data_file(const ScanOptions& options, ScannedData& data) {
  const std::string name = data_name(options);
  const bool from_standard_input = options.data_file == "-";
  std::FILE* file = from_standard_input ? stdin : std::fopen(options.data_file.c_str(), "r");
  if (file == nullptr) {
    return report_failure("can't open the data file " + name + ": " + std::strerror(errno));
  }
  errno = 0;
  const std::optional<std::string> read = read_observation_stream(file);
  const int read_error = errno;
  if (!from_standard_input) std::fclose(file);
  if (!read) {
    return report_failure("can't read the data file " + name + ": " +
                          std::strerror(read_error != 0 ? read_error : EIO));
  }
  const std::string& text = *read;
  const ObservationFileHeader header = read_observation_header(text);
  if (!header.problem.empty()) return report_failure(name + ": " + header.problem);
  if (const std::optional<RowsProblem> rows = strict_rows_problem(text, header)) {
    return report_failure(name + ", line " + std::to_string(rows->line) + ": " + rows->message);
  }
  if (!install_observation_table(text, header)) {
    fatal_numeric_error("allocation failure in cvector()");
  }
  data.name = name;
  data.observation_count = header.observation_count;
  data.interval_count = header.interval_count;
  return std::nullopt;
}

// Whether q is among the fitted coordinates (it is not where the order
// leaves it unidentified).
bool fits_escape(const OrderResult& result) {
  return result.escape.fitted && result.escape.identified;
}

// The fitted point the profiles and the information work on: the
// parameters, and q after them when the escape fraction is fitted.
std::vector<double> fitted_point(const OrderResult& result) {
  std::vector<double> point = result.fit.parameters;
  if (fits_escape(result)) point.push_back(result.escape.fraction);
  return point;
}

// The objective of the fit: with q as the last coordinate when it is fitted.
ObjectiveWithGradient objective_of(const OrderResult& result) {
  return fits_escape(result) ? counted_escape_objective_with_gradient(result.order)
                             : counted_objective_with_gradient(result.order);
}

// The bounds of a fit with escape: the parameters have none above, q has 1.
// The total length sums the parameters only.
BoundedSearchSettings bounds_of(const OrderResult& result) {
  BoundedSearchSettings bounds;
  if (fits_escape(result)) {
    const std::size_t n = result.fit.parameters.size();
    bounds.upper_bounds.assign(n + 1, std::numeric_limits<double>::infinity());
    bounds.upper_bounds[n] = 1.0;
    bounds.summed_coordinates = n;
  }
  return bounds;
}

// The covariance of the fitted parameters and the lengths at bound (and of
// q, when fitted: the lengths' errors then allow for its uncertainty).
void add_standard_errors(OrderResult& result) {
  const int n = interval_count;
  const std::vector<double> point = fitted_point(result);
  const std::size_t size = point.size();
  const ParameterCovariance information = covariance_from_gradient(
      objective_of(result), point, bounds_of(result).upper_bounds, Evaluation::concurrent);
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
  if (fits_escape(result)) {
    EscapeResult& e = result.escape;
    const std::size_t q = size - 1;
    e.at_bound = information.at_bound[q];
    e.has_standard_error = information.positive_definite && !e.at_bound;
    e.standard_error = e.has_standard_error ? std::sqrt(information.covariance[q * size + q]) : 0.0;
  }
}

// The fit with the escape fraction, from the fit without it (lengths x0,
// value f0): a search over the lengths and q from x0 and q = escape_start.
// The fit at q = 0 is a point of the larger model, so when the search ends
// higher than f0, (x0, 0) is the fit.  LR = 2 (f0 - f) then is never
// negative.
void fit_escape(OrderResult& result) {
  const OrderFit restricted = result.fit;
  result.escape.fitted = true;
  result.escape.restricted_log_likelihood = -restricted.objective;
  if (result.order == 1) {
    result.escape.identified = false;
    return;
  }
  std::vector<double> start = restricted.parameters;
  start.push_back(escape_start);
  OrderFit full =
      fit_from(counted_escape_objective_with_gradient(result.order), start, bounds_of(result));
  full.evaluations += restricted.evaluations;
  if (full.objective <= restricted.objective) {
    result.escape.fraction = full.parameters.back();
    full.parameters.pop_back();
    result.fit = full;
  } else {
    result.escape.fraction = 0.0;
    result.fit.evaluations = full.evaluations;
  }
  // A fit with q = 0 lies in the model without escape, whose best is f0:
  // any difference is the searches' rounding, and LR is 0.
  result.escape.likelihood_ratio =
      result.escape.fraction > 0.0 ? 2.0 * (restricted.objective - result.fit.objective) : 0.0;
  result.escape.p_value = escape_test_p_value(result.escape.likelihood_ratio);
}

// The fit of one order and its Wald errors.
OrderResult scan_order(int order, double estimate, bool escape, ScanProgress& progress) {
  const auto started = std::chrono::steady_clock::now();
  const int n = interval_count;
  progress.begin_order(order);
  OrderResult result;
  result.order = order;
  result.fit = fit_with_gradient(counted_objective_with_gradient(order), n, estimate);
  if (escape) {
    // The fitting program's objective knows no escape; the log-likelihood is
    // the one the search minimised, equal to it at q = 0.
    fit_escape(result);
  } else {
    // The reported log-likelihood is the fitting program's objective itself.
    DoubleVector point = dvector(1, n);
    for (int j = 1; j <= n; ++j) point[j] = result.fit.parameters[static_cast<std::size_t>(j - 1)];
    result.fit.objective = negative_log_likelihood_of_order(order, point);
    release_dvector(point, 1, n);
  }
  set_lengths(result);

  progress.begin_information(order);
  add_standard_errors(result);
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  progress.end_order(result);
  return result;
}

// Profile intervals of every length and of the total, in length units.
// Each is a search of its own; they run on the worker threads (the total,
// whose refits move every coordinate, first), each into its own slot.
void add_profiles(OrderResult& result, ScanProgress& progress) {
  const auto started = std::chrono::steady_clock::now();
  progress.begin_profiles(result.order);
  const double scale = static_cast<double>(2 * result.order);
  const std::vector<double> fitted = fitted_point(result);
  const std::size_t n = result.fit.parameters.size();
  const ObjectiveWithGradient objective = objective_of(result);
  const BoundedSearchSettings bounds = bounds_of(result);
  auto to_lengths = [scale](const ProfileInterval& interval) {
    return LengthInterval{interval.lower / scale, interval.upper / scale, interval.found};
  };
  // The first outward step: a little beyond the Wald half-width where there
  // is one, so that it usually brackets the end at once and interpolation
  // starts from a close guess; else a tenth of the value (at least 0.1
  // events).
  auto first_step = [](double value, bool wald, double standard_error) {
    return wald ? wald_overshoot * wald_quantile_95 * standard_error : 0.1 * std::fmax(value, 1.0);
  };
  result.profiles.assign(n, LengthInterval{});
  run_in_parallel(static_cast<int>(n) + 1, [&](int task) {
    if (task == 0) {
      double total = 0.0;
      for (std::size_t t = 0; t < n; ++t) total += fitted[t];
      const double step =
          first_step(total, total_has_wald(result), result.total_standard_error * scale);
      result.total_profile =
          to_lengths(profile_interval(objective, fitted, std::nullopt, step, bounds));
      return;
    }
    const auto t = static_cast<std::size_t>(task - 1);
    const double step = first_step(fitted[t], has_wald(result, t),
                                   has_wald(result, t) ? result.standard_errors[t] * scale : 0.0);
    result.profiles[t] = to_lengths(profile_interval(objective, fitted, task - 1, step, bounds));
  });
  result.profiled = true;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  result.seconds += seconds;
  progress.end_profiles(result.order, seconds);
}

// The profile interval of q, in its own units.
void add_escape_profile(OrderResult& result, ScanProgress& progress) {
  const auto started = std::chrono::steady_clock::now();
  progress.begin_profiles(result.order);
  EscapeResult& e = result.escape;
  const std::vector<double> fitted = fitted_point(result);
  // A little beyond the Wald half-width, else a tenth of the whole range.
  const double step =
      e.has_standard_error ? wald_overshoot * wald_quantile_95 * e.standard_error : 0.1;
  const ProfileInterval interval =
      profile_interval(counted_escape_objective_with_gradient(result.order), fitted,
                       static_cast<int>(fitted.size() - 1), step, bounds_of(result));
  e.profile = LengthInterval{interval.lower, interval.upper, interval.found};
  e.profiled = true;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  result.seconds += seconds;
  progress.end_profiles(result.order, seconds);
}

// The orders are fitted on the worker threads, the costliest (the highest:
// an evaluation's work grows with the square of the order) first, so that
// the cheap ones fill in around them; each result lands in its own slot,
// and everything printed from them is printed afterwards, in the orders'
// own order.  Then the best order's profile intervals, themselves shared
// among the threads.
std::vector<OrderResult> scan_orders(const ScanOptions& options) {
  ScanProgress progress(options.quiet);
  const bool profiles = options.intervals == "profile";
  const std::vector<int>& orders = options.orders;
  std::vector<std::size_t> costliest_first(orders.size());
  for (std::size_t k = 0; k < orders.size(); ++k) costliest_first[k] = k;
  std::stable_sort(costliest_first.begin(), costliest_first.end(),
                   [&orders](std::size_t a, std::size_t b) { return orders[a] > orders[b]; });
  std::vector<OrderResult> results(orders.size());
  progress.expect(orders);
  run_in_parallel(static_cast<int>(orders.size()), [&](int task) {
    const std::size_t k = costliest_first[static_cast<std::size_t>(task)];
    OrderResult& result = results[k];
    result = scan_order(orders[k], options.estimate, options.escape, progress);
    // q's interval is what the escape fit is for: it is found at every order.
    if (profiles && fits_escape(result)) add_escape_profile(result, progress);
    if (profiles && options.profile_all) add_profiles(result, progress);
    progress.order_done(orders[k]);
  });
  const int best = best_result(results);
  if (profiles && !options.profile_all && best >= 0) {
    OrderResult& result = results[static_cast<std::size_t>(best)];
    progress.expect({result.order});
    add_profiles(result, progress);
    progress.order_done(result.order);
  }
  return results;
}

// The plotting library writes to a name of our making, in the temporary
// folder (free of '%', which the library would read as an order); the
// drawing is checked for its closing tag and copied into the output.
std::string write_plot(OutputFile& plot, const std::vector<OrderResult>& results,
                       const ScannedData& data) {
  std::string folder = temporary_folder();
  if (folder.find('%') != std::string::npos) folder = "/tmp";
  TemporaryFile drawing(folder, "interval-scan-plot.svg");
  if (!drawing.ok()) {
    return "can't draw the plot file " + plot.name() + ": no temporary file in " + folder + ": " +
           drawing.problem();
  }
  close(drawing.release_descriptor());
  const std::string not_drawn = "can't draw the plot file " + plot.name() + ": ";
  const std::string problem = write_scan_plot(drawing.path(), results, data);
  if (!problem.empty()) return not_drawn + problem;
  std::FILE* drawn = std::fopen(drawing.path().c_str(), "rb");
  if (drawn == nullptr) return not_drawn + "the plotting library wrote no plot";
  std::string svg;
  char piece[1 << 14];
  for (std::size_t got; (got = std::fread(piece, 1, sizeof piece, drawn)) > 0;) {
    svg.append(piece, got);
  }
  std::fclose(drawn);
  const std::size_t closing = svg.rfind("</svg>");
  if (closing == std::string::npos ||
      svg.find_first_not_of(" \t\r\n", closing + 6) != std::string::npos) {
    return not_drawn + "the plotting library wrote an incomplete plot (is " + folder + " full?)";
  }
  if (std::fwrite(svg.data(), 1, svg.size(), plot.stream()) != svg.size()) {
    return plot.failure(errno);
  }
  return plot.commit();
}

int run(const ScanOptions& options) {
  ScannedData data;
  if (const std::optional<int> status = load_data_file(options, data)) return *status;

  // Opened before the fits, so that a bad name or folder fails at once; the
  // earlier files stay as they are until the new ones are complete.
  OutputFile csv(options.csv_file, "the CSV file", true);
  OutputFile plot(options.plot_file, "the plot file", false);
  if (!options.csv_file.empty()) {
    const std::string problem = csv.open();
    if (!problem.empty()) return report_failure(problem);
  }
  if (!options.plot_file.empty()) {
    const std::string problem = plot.open();
    if (!problem.empty()) return report_failure(problem);
  }

  const std::vector<OrderResult> results = scan_orders(options);

  // With the CSV on standard output, the table makes way for it.
  std::FILE* table = csv.is_standard_output() ? stderr : stdout;
  print_scan_table(table, results);
  int status = 0;
  if (const int error = flush_failure(table); error != 0) {
    status = report_failure(std::string("writing the table to ") +
                            (table == stdout ? "standard output" : "standard error") +
                            " failed: " + std::strerror(error));
  }
  if (!options.csv_file.empty()) {
    print_scan_csv(csv.stream(), results);
    const std::string problem = csv.commit();
    if (!problem.empty()) status = report_failure(problem);
  }
  if (!options.plot_file.empty()) {
    const std::string problem = write_plot(plot, results, data);
    if (!problem.empty()) status = report_failure(problem);
  }
  return status;
}

}  // namespace

// Nothing escapes: a refused operator new ends the run through the fatal
// exit, and parse_command_line turns CLI11's errors into a status.
int main(int argc, char** argv) {  // NOLINT(bugprone-exception-escape)
  // Descriptors 0-2 first, so that no output file takes a closed one's
  // number (the progress lines would land in the CSV); a closed standard
  // output refuses writes, so a lost table is reported.
  keep_standard_descriptors_open();
  report_file_size_limit_as_write_failure();
  std::set_new_handler([] { fatal_numeric_error("allocation failure in operator new"); });
  CLI::App app{description, program_name};
  app.footer(footer);
  ScanOptions options;
  add_scan_options(app, options);
  if (const std::optional<int> status = parse_command_line(app, argc, argv, program_name)) {
    return *status;
  }
  std::string problem = scan_options_problem(app, options);
  if (problem.empty()) problem = collision_problem(options);
  if (!problem.empty()) return refuse_options(program_name, problem);
  worker_thread_count();  // INTERVAL_THREADS is checked before any output is opened
  return run(options);
}
