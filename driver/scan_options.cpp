#include "driver/scan_options.hpp"

#include <functional>
#include <optional>
#include <set>

#include "driver/answers.hpp"
#include "driver/help_format.hpp"
#include "driver/scan_report.hpp"
#include "foundation/instruction_sets.hpp"
#include "model/forward_step.hpp"

namespace {

// An order as written: a whole number from 1 to largest_model_order, or
// why not.
std::string order_problem(const std::string& word, const std::string& option) {
  if (parse_model_order(word)) return {};
  const std::string limits =
      "; each order is a whole number from 1 to " + std::to_string(largest_model_order);
  if (word.empty()) return option + ": an order is missing (an empty item or range end)" + limits;
  if (word.find_first_not_of("0123456789") != std::string::npos) {
    return option + ": '" + word + "' is not a whole number" + limits;
  }
  if (word.find_first_not_of('0') == std::string::npos) {
    return option + ": orders start at 1, not 0" + limits;
  }
  return option + ": " + word + " is above " + std::to_string(largest_model_order) +
         ", the highest order the model takes";
}

// One item of an order list, "4" or "2-5", or why it is not one.
std::string add_order_item(const std::string& item, std::set<int>& orders) {
  const std::size_t dash = item.find('-');
  const std::string first_word = item.substr(0, dash);
  std::string problem = order_problem(first_word, "--orders");
  if (!problem.empty()) return problem;
  const int first = *parse_model_order(first_word);
  if (dash == std::string::npos) {
    orders.insert(first);
    return {};
  }
  const std::string last_word = item.substr(dash + 1);
  problem = order_problem(last_word, "--orders");
  if (!problem.empty()) return problem;
  const int last = *parse_model_order(last_word);
  if (last < first) {
    return "--orders: the range " + item + " runs downwards; write it " + last_word + "-" +
           first_word;
  }
  for (int p = first; p <= last; ++p) orders.insert(p);
  return {};
}

// The names' endings of the plots this build draws: ".svg, .pdf, .png".
std::string plot_kinds_text() {
  std::string text;
  for (const std::string& kind : plot_kinds()) text += (text.empty() ? "" : ", ") + kind;
  return text.empty() ? "none in this build, which was built without PLplot" : text;
}

std::string plot_name_problem(const std::string& name) {
  if (name == "-") {
    return "--plot: a plot goes to a file, not to standard output; give a name such as "
           "fits.svg";
  }
  if (!scan_plot_available()) return "--plot: " + plot_unavailable_reason();
  // The ending alone: whether the library has a driver for it is asked
  // once the plotting library's scratch folder is known to have room.
  if (!known_plot_kind(name) || name.back() == '/') {
    return "--plot: '" + name +
           "' does not end in .svg, .pdf or .png, the kinds of plot this program draws; give a "
           "name such as fits.svg";
  }
  return {};
}

std::string scan_version_text() {
  std::string text = std::string("interval-scan ") + INTERVAL_VERSION + "\nplot: ";
  text += scan_plot_available() ? plot_kinds_text() + " (PLplot)" : "not built (no PLplot)";
  text += "\ninstruction sets: ";
#ifdef INTERVAL_TARGET_CLONES
  text += "avx512f, avx2 or portable, chosen at start; here ";
#else
  text += "the compiler's own target only; ";
#endif
  return text + forward_step_target();
}

}  // namespace

void add_scan_options(CLI::App& app, ScanOptions& options) {
  use_companion_help(app);
  app.add_option("DATAFILE", options.data_files,
                 option_help("Observation data files: the numbers of observations and of "
                             "intervals on the first line, then one line of exactly n codes "
                             "per observation; - reads standard input.  Several files (one "
                             "per chromosome, say) are fitted together: the order, q and e in "
                             "common, each file with its own lengths"))
      ->type_name("")
      ->required();
  app.add_option("--orders", options.orders_text,
                 option_help("Model orders to fit: a range such as 1-6, single orders, or a "
                             "comma list such as 1,2,4-6; each a whole number from 1 to 100"))
      ->type_name("LIST")
      ->capture_default_str()
      ->group("Model");
  app.add_option("--order", options.order_text,
                 option_help("One model order P, as interval-simulate takes it: the same as "
                             "--orders P"))
      ->type_name("P")
      ->group("Model");
  app.add_flag("--escape", options.escape,
               option_help("Also fit the escape fraction q, 0..1, at every order: the share of "
                           "class moves from an independent process outside the counting; "
                           "reports q with its 95% intervals and the test of q = 0"))
      ->group("Model");
  app.add_flag("--error", options.error,
               option_help("Also fit the misread rate e, 0..0.5, at every order: the chance "
                           "that an R or N code was read as the other; reports e with its 95% "
                           "intervals and the test of e = 0"))
      ->group("Model");
  app.add_option("--estimate", options.estimate_text,
                 option_help("Initial estimate, the starting value of every interval parameter "
                             "(an expected number of events): a finite number of at least 0, "
                             "as at interval-fit's prompt"))
      ->type_name("X")
      ->capture_default_str()
      ->group("Fitting");
  app.add_option("--ci,--intervals", options.intervals,
                 option_help("Which 95% intervals to compute: profile (Wald and "
                             "profile-likelihood) or wald (Wald only, no refits: faster); "
                             "--intervals is the old name of this option"))
      ->type_name("KIND")
      ->check(CLI::IsMember({"profile", "wald"}))
      ->capture_default_str()
      ->group("Fitting");
  app.add_flag("--profile-all", options.profile_all,
               option_help("Compute profile intervals for every order, not only the best one"))
      ->group("Fitting");
  app.add_option("--csv", options.csv_file,
                 option_help("Also write the CSV file FILE (- for standard output, the table "
                             "then going to standard error): one row per order and interval, "
                             "a total row per order, with --escape an escape row and with --error "
                             "an error row; the "
                             "columns are listed in the manual page"))
      ->type_name("FILE")
      ->group("Output");
  app.add_option("--plot", options.plot_file,
                 option_help(std::string("Also draw a plot: the log-likelihood against the "
                                         "order, the best order marked, and the best order's "
                                         "lengths with their 95% intervals; the name's ending "
                                         "chooses the kind: .svg, or .pdf and .png where the "
                                         "plotting library's drivers for them are installed "
                                         "(--version lists them)")))
      ->type_name("FILE")
      ->group("Output");
  app.add_option("--json", options.json_file,
                 option_help("Also write a JSON summary for scripts: the provenance (version, "
                             "command line, date, each data file's size and SHA-256), every "
                             "order's fit, the best order and the support set; - writes it to "
                             "standard output"))
      ->type_name("FILE")
      ->group("Output");
  app.add_flag("--quiet,-q", options.quiet,
               option_help("No data summary and no progress on standard error; warnings and "
                           "errors stay"))
      ->group("Output");
  app.set_help_flag("-h,--help", "Print this help and exit")->group("Information");
  // Asked of the plotting library only when --version is given: listing
  // its drivers needs its scratch folder, and may end the process there.
  app.set_version_flag("--version", std::function<std::string()>(scan_version_text),
                       "Print the version and the parts built in")
      ->group("Information");
}

void describe_scan(CLI::App& app) {
  app.description(
      "Fits the latent-state model of each order in a range to observation data\n"
      "files (several together: one order, each file its own lengths), and reports\n"
      "which order fits best and how uncertain each length is.");
  app.footer(
      "Examples:\n"
      "  interval-scan sim.dat --orders 1-6\n"
      "  interval-scan sim.dat --orders 1-4 --csv fits.csv --plot fits.svg\n"
      "  interval-scan sim.dat --order 2 --escape --ci wald\n"
      "  interval-scan chr1.dat chr2.dat chr3.dat --orders 1-8 --escape\n"
      "\n"
      "Environment:\n"
      "  INTERVAL_THREADS=N  threads to use, 1 to 256 (default: the machine's cores);\n"
      "                      the results are the same for any number\n"
      "\n"
      "Exit status: 0 done, 1 data file or output problem, 2 bad options or colliding\n"
      "files.  The method, the data format and the CSV columns: man interval-scan.");
}

std::string scan_options_problem(const CLI::App& app, ScanOptions& options) {
  std::set<int> orders;
  if (app.count("--order") > 0) {
    if (app.count("--orders") > 0) {
      return "--order and --orders both give the orders; give one of them (--orders takes a "
             "list such as 1-6)";
    }
    std::string problem = order_problem(options.order_text, "--order");
    if (!problem.empty()) {
      if (options.order_text.find_first_of(",-") != std::string::npos) {
        problem = "--order takes one order; did you mean --orders " + options.order_text + "?";
      }
      return problem;
    }
    orders.insert(*parse_model_order(options.order_text));
  } else {
    std::size_t start = 0;
    while (true) {
      const std::size_t comma = options.orders_text.find(',', start);
      const std::string item = options.orders_text.substr(start, comma - start);
      const std::string problem = add_order_item(item, orders);
      if (!problem.empty()) return problem + " (in --orders " + options.orders_text + ")";
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  options.orders.assign(orders.begin(), orders.end());
  const std::optional<double> estimate = parse_initial_estimate(options.estimate_text);
  if (!estimate) {
    return "--estimate: the initial estimate must be a finite number of at least 0, such as "
           "0.5 (got '" +
           options.estimate_text + "')";
  }
  options.estimate = *estimate;
  for (const std::string& data_file : options.data_files) {
    if (data_file.empty()) return "DATAFILE: a data file name is empty";
  }
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
