#include "driver/scan_options.hpp"

#include <optional>
#include <set>

#include "driver/answers.hpp"
#include "driver/scan_report.hpp"

namespace {

constexpr const char* plot_suffix = ".svg";

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

bool ends_with_svg(const std::string& name) {
  const std::string suffix = plot_suffix;
  if (name.size() <= suffix.size()) return false;
  for (std::size_t k = 0; k < suffix.size(); ++k) {
    const char c = name[name.size() - suffix.size() + k];
    const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != suffix[k]) return false;
  }
  return true;
}

std::string plot_name_problem(const std::string& name) {
  if (name == "-") {
    return "--plot: a plot goes to an .svg file, not to standard output; give a name such as "
           "fits.svg";
  }
  if (!ends_with_svg(name) || name.back() == '/') {
    return "--plot: '" + name +
           "' does not end in .svg; the plot is an SVG file, so give a "
           "name such as fits.svg";
  }
  if (!scan_plot_available()) return "--plot: " + plot_unavailable_reason();
  return {};
}

}  // namespace

void add_scan_options(CLI::App& app, ScanOptions& options) {
  app.set_version_flag("--version", std::string("interval-scan ") + INTERVAL_VERSION);
  app.add_option("DATAFILE", options.data_file,
                 "Observation data file: the number of observations and of intervals on the\n"
                 "first line, then one line of exactly n codes per observation; - reads\n"
                 "standard input")
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
  app.add_flag("--escape", options.escape,
               "Also fit the escape fraction q, 0..1, at every order: the share of class\n"
               "moves that come from an independent process outside the counting; reports\n"
               "q with its 95% intervals and the likelihood-ratio test of q = 0");
  app.add_option("--csv", options.csv_file,
                 "Also write the CSV file FILE (- for standard output, the table then going\n"
                 "to standard error): one row per order and interval, a 'total' row per\n"
                 "order, and with --escape an 'escape' row per order; columns order, interval, "
                 "length, standard_error, log_likelihood,\n"
                 "converged, wald_lower, wald_upper, profile_lower, profile_upper (NA where\n"
                 "not available)")
      ->type_name("FILE");
  app.add_option(
         "--plot", options.plot_file,
         std::string("Also draw an SVG plot: the log-likelihood against the order, the best\n"
                     "order marked, and the best order's lengths with their 95% intervals") +
             (scan_plot_available() ? "" : "\n(not in this build: it was built without PLplot)"))
      ->type_name("FILE.svg");
  app.add_option("--json", options.json_file,
                 "Also write a JSON summary for scripts: the provenance (version, command\n"
                 "line, date, each data file's size and SHA-256), every order's fit, the best\n"
                 "order and the support set; - writes it to standard output")
      ->type_name("FILE");
  app.add_flag("--quiet,-q", options.quiet,
               "No progress on standard error: neither the line that closes each order nor\n"
               "the running count while an order takes long; warnings and errors stay");
}

std::string scan_options_problem(const CLI::App& app, ScanOptions& options) {
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
  if (options.data_file.empty()) return "DATAFILE: the data file name is empty";
  if (app.count("--csv") > 0 && options.csv_file.empty()) {
    return "--csv: the file name is empty; give a name such as fits.csv, or - for standard "
           "output";
  }
  if (app.count("--json") > 0 && options.json_file.empty()) {
    return "--json: the file name is empty; give a name such as fits.json, or - for standard "
           "output";
  }
  if (options.json_file == "-" && options.csv_file == "-") {
    return "--json and --csv: only one of them can go to standard output";
  }
  if (app.count("--plot") > 0 && options.plot_file.empty()) {
    return "--plot: the file name is empty; give a name such as fits.svg";
  }
  if (!options.plot_file.empty()) {
    std::string problem = plot_name_problem(options.plot_file);
    if (!problem.empty()) return problem;
  }
  return {};
}
