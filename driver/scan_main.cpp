// interval-scan: fits a range of model orders to one observation data file,
// each with a bounded quasi-Newton search on the exact gradient, restarted
// until it settles, and reports which order fits best and how uncertain each
// fitted length is: Wald intervals from the observed information (the
// Hessian of the negative log-likelihood at the fit) and profile-likelihood
// intervals from constrained refits.
//
// Exit status: 0 when everything asked for is written, 1 for a data file
// that cannot be used or an output that cannot be written, 2 for options
// that are not understood or not valid (nothing is read or written then).
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "driver/answers.hpp"
#include "driver/command_line.hpp"
#include "driver/observation_file.hpp"
#include "driver/scan_report.hpp"
#include "foundation/fatal_error.hpp"
#include "model/likelihood.hpp"
#include "model/likelihood_gradient.hpp"
#include "model/observations.hpp"
#include "optimise/gradient_fit.hpp"
#include "optimise/gradient_information.hpp"
#include "optimise/profile_likelihood.hpp"

namespace {

constexpr int status_data_problem = 1;

// The profile search's first step is this many Wald half-widths.
constexpr double wald_overshoot = 1.25;

constexpr const char* program_name = "interval-scan";

struct Options {
  std::string data_file;
  std::string orders_text = "1-6";
  std::string estimate_text = "0.5";
  std::string csv_file;
  std::string plot_file;
  std::string intervals = "profile";
  bool profile_all = false;
  std::vector<int> orders;
  double estimate = 0.5;
};

constexpr const char* description =
    "Fits the latent-state model of each order in a range to an observation data\n"
    "file (the same file as interval-fit reads), and reports which order fits best\n"
    "and how uncertain each fitted length is.\n"
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
    "data cannot tell apart from it.  etest.txt is not written.  Exit status: 0\n"
    "done, 1 data file or output problem, 2 bad options.";

void add_options(CLI::App& app, Options& options) {
  app.add_option("DATAFILE", options.data_file,
                 "Observation data file: the number of observations and of intervals,\n"
                 "then one line of codes per observation, as interval-fit reads it")
      ->required();
  app.add_option("--orders", options.orders_text,
                 "Model orders to fit: a range such as 1-6, single orders, or a comma list\n"
                 "such as 1,2,4-6; each order is a whole number from 1 to 100")
      ->type_name("LIST")
      ->capture_default_str();
  app.add_option("--estimate", options.estimate_text,
                 "Initial estimate, the starting value of every interval parameter (an\n"
                 "expected number of events); a finite number of at least 0, as at\n"
                 "interval-fit's prompt")
      ->type_name("X")
      ->capture_default_str();
  app.add_option("--intervals", options.intervals,
                 "Which 95% intervals to compute: profile (Wald and profile-likelihood)\n"
                 "or wald (Wald only, no refits: faster)")
      ->type_name("KIND")
      ->check(CLI::IsMember({"profile", "wald"}))
      ->capture_default_str();
  app.add_flag("--profile-all", options.profile_all,
               "Compute profile intervals for every order, not only the best one");
  app.add_option("--csv", options.csv_file,
                 "Also write one CSV row per order and interval: order, interval, length,\n"
                 "standard error, log-likelihood, converged, wald_lower, wald_upper,\n"
                 "profile_lower, profile_upper (NA where not available)")
      ->type_name("FILE");
  app.add_option(
         "--plot", options.plot_file,
         std::string("Also draw an SVG plot: the log-likelihood against the order, and the\n"
                     "best order's lengths with their 95% intervals") +
             (scan_plot_available() ? "" : "\n(not in this build: it was built without PLplot)"))
      ->type_name("FILE.svg");
}

// One item of an order list: "4" or "2-5".
bool add_order_item(const std::string& item, std::set<int>& orders) {
  const std::size_t dash = item.find('-');
  const std::optional<int> first = parse_model_order(item.substr(0, dash));
  if (!first) return false;
  if (dash == std::string::npos) {
    orders.insert(*first);
    return true;
  }
  const std::optional<int> last = parse_model_order(item.substr(dash + 1));
  if (!last || *last < *first) return false;
  for (int p = *first; p <= *last; ++p) orders.insert(p);
  return true;
}

std::string options_problem(Options& options) {
  std::set<int> orders;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = options.orders_text.find(',', start);
    const std::string item = options.orders_text.substr(start, comma - start);
    if (!add_order_item(item, orders)) {
      return "--orders: '" + options.orders_text +
             "' is not a list of model orders; write for example 1-6 or 1,2,4 (each order a "
             "whole number from 1 to " +
             std::to_string(largest_model_order) + ", ranges ascending)";
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  options.orders.assign(orders.begin(), orders.end());
  const std::optional<double> estimate = parse_initial_estimate(options.estimate_text);
  if (!estimate) {
    return "--estimate: the initial estimate must be a finite number of at least 0, such as "
           "0.5 (got '" +
           options.estimate_text + "')";
  }
  options.estimate = *estimate;
  if (!options.plot_file.empty() && !scan_plot_available()) {
    return "--plot: " + write_scan_plot(options.plot_file, {});
  }
  return {};
}

// The refusals of the data file are the fitting program's, word for word;
// here they go to standard error, standard output being the table's.
[[noreturn]] void refuse_data(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  std::exit(status_data_problem);
}

void load_data_file(const std::string& name) {
  // The same reading as interval-fit's: the folded text, only as far as the
  // table can use it.
  const std::optional<std::string> read = read_observation_text(name);
  if (!read) refuse_data("can't open the data file");
  const std::string& text = *read;
  const ObservationFileHeader header = read_observation_header(text);
  if (!header.problem.empty()) refuse_data(header.problem);
  const long long slots = observation_table_slots(header);
  if (slots < 0) fatal_numeric_error("allocation failure in cvector()");
  const ObservationTable table = cvector(0, static_cast<int>(slots) - 1);
  fill_observation_table(text, header, table);
  set_observations(table, header.observation_count, header.interval_count);
}

// The search's objective: the negative log-likelihood with its gradient at
// the process-wide model order.
double objective_with_gradient(const std::vector<double>& x, std::vector<double>& gradient) {
  return negative_log_likelihood_and_gradient(x, gradient);
}

// The covariance of the fitted parameters and the lengths at bound.
void add_standard_errors(OrderResult& result) {
  const int n = interval_count;
  const ParameterCovariance information =
      covariance_from_gradient(objective_with_gradient, result.fit.parameters);
  result.at_bound = information.at_bound;
  DoubleMatrix covariance = dmatrix(1, n, 1, n);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      covariance[i][j] = information.covariance[static_cast<std::size_t>((i - 1) * n + j - 1)];
    }
  }
  const bool any_free = std::find(information.at_bound.begin(), information.at_bound.end(),
                                  false) != information.at_bound.end();
  set_standard_errors(result, information.positive_definite || !any_free ? &covariance : nullptr);
  release_dmatrix(covariance, 1, n, 1, n);
}

// The fit of one order and its Wald errors.
OrderResult scan_order(int order, double estimate) {
  const auto started = std::chrono::steady_clock::now();
  const int n = interval_count;
  model_order = order;
  OrderResult result;
  result.order = order;
  result.fit = fit_with_gradient(objective_with_gradient, n, estimate);
  // The reported log-likelihood is the fitting program's objective itself.
  DoubleVector point = dvector(1, n);
  for (int j = 1; j <= n; ++j) point[j] = result.fit.parameters[static_cast<std::size_t>(j - 1)];
  result.fit.objective = negative_log_likelihood(point);
  release_dvector(point, 1, n);
  set_lengths(result);
  add_standard_errors(result);
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return result;
}

// Profile intervals of every length and of the total, in length units.
void add_profiles(OrderResult& result) {
  const auto started = std::chrono::steady_clock::now();
  model_order = result.order;
  const double scale = static_cast<double>(2 * result.order);
  const std::vector<double>& fitted = result.fit.parameters;
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
  result.profiles.clear();
  for (std::size_t t = 0; t < fitted.size(); ++t) {
    const double step = first_step(fitted[t], has_wald(result, t),
                                   has_wald(result, t) ? result.standard_errors[t] * scale : 0.0);
    result.profiles.push_back(
        to_lengths(profile_interval(objective_with_gradient, fitted, static_cast<int>(t), step)));
  }
  double total = 0.0;
  for (const double x : fitted) total += x;
  const double step =
      first_step(total, total_has_wald(result), result.total_standard_error * scale);
  result.total_profile =
      to_lengths(profile_interval(objective_with_gradient, fitted, std::nullopt, step));
  result.profiled = true;
  result.seconds +=
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

std::vector<OrderResult> scan_orders(const Options& options) {
  const bool profiles = options.intervals == "profile";
  std::vector<OrderResult> results;
  for (const int order : options.orders) {
    results.push_back(scan_order(order, options.estimate));
    if (profiles && options.profile_all) add_profiles(results.back());
    std::fprintf(stderr, "%s\n", progress_line(results.back()).c_str());
  }
  const int best = best_result(results);
  if (profiles && !options.profile_all && best >= 0) {
    OrderResult& chosen = results[static_cast<std::size_t>(best)];
    add_profiles(chosen);
    std::fprintf(stderr, "order %d: profile intervals, %.3f s in all\n", chosen.order,
                 chosen.seconds);
  }
  return results;
}

int output_failure(const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", program_name, what.c_str());
  return status_data_problem;
}

int run(const Options& options) {
  load_data_file(options.data_file);

  // Opened before the fits, so that a bad name fails at once.
  std::FILE* csv = nullptr;
  if (!options.csv_file.empty()) {
    csv = std::fopen(options.csv_file.c_str(), "w");
    if (csv == nullptr) {
      return output_failure("can't open the CSV file " + options.csv_file + ": " +
                            std::strerror(errno));
    }
  }
  if (!options.plot_file.empty()) {
    std::FILE* probe = std::fopen(options.plot_file.c_str(), "w");
    if (probe == nullptr) {
      if (csv != nullptr) std::fclose(csv);
      return output_failure("can't open the plot file " + options.plot_file + ": " +
                            std::strerror(errno));
    }
    std::fclose(probe);
  }

  const std::vector<OrderResult> results = scan_orders(options);

  print_scan_table(stdout, results);
  int status = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    status = output_failure("writing the table to standard output failed");
  }
  if (csv != nullptr) {
    print_scan_csv(csv, results);
    const bool failed = std::ferror(csv) != 0;
    if (std::fclose(csv) != 0 || failed) {
      status = output_failure("writing the CSV file " + options.csv_file + " failed");
    }
  }
  if (!options.plot_file.empty()) {
    const std::string problem = write_scan_plot(options.plot_file, results);
    if (!problem.empty()) status = output_failure(problem);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::set_new_handler([] { fatal_numeric_error("allocation failure in operator new"); });
  CLI::App app{description, program_name};
  app.footer(footer);
  Options options;
  add_options(app, options);
  if (const std::optional<int> status = parse_command_line(app, argc, argv, program_name)) {
    return *status;
  }
  const std::string problem = options_problem(options);
  if (!problem.empty()) return refuse_options(program_name, problem);
  return run(options);
}
