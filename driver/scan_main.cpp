// interval-scan: fits a range of model orders to one observation data file,
// each with a bounded quasi-Newton search on the exact gradient, restarted
// until it settles, and reports which order fits best and how uncertain each
// fitted length is (driver/scan_run.hpp says how, step by step).
//
// Exit status: 0 when everything asked for is written, 1 for a data file
// that cannot be used or an output that cannot be written, 2 for options
// that are not understood or not valid, or outputs that would land on the
// data file or on each other (nothing is read or written then).
#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "driver/check_fit_options.hpp"
#include "driver/check_fit_plot.hpp"
#include "driver/check_fit_report.hpp"
#include "driver/check_of_fit.hpp"
#include "driver/command_line.hpp"
#include "driver/console_output.hpp"
#include "driver/output_file.hpp"
#include "driver/scan_files.hpp"
#include "driver/scan_options.hpp"
#include "driver/scan_progress.hpp"
#include "driver/scan_run.hpp"
#include "foundation/fatal_error.hpp"

namespace {

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
  return 1;
}

int run(const ScanOptions& options, const CheckFitOptions& check_options) {
  ScannedData data;
  if (const std::string problem = load_scan_data(options.data_file, data); !problem.empty()) {
    return report_failure(problem);
  }
  // Opened before the fits, so that a bad name or folder fails at once; the
  // earlier files stay as they are until the new ones are complete.
  OutputFile csv(options.csv_file, "the CSV file", true);
  OutputFile plot(options.plot_file, "the plot file", false);
  OutputFile check_csv(check_options.csv_file, "the check-fit CSV file", true);
  OutputFile check_plot(check_options.plot_file, "the check-fit plot", false);
  for (OutputFile* output : {&csv, &plot, &check_csv, &check_plot}) {
    if (output->name().empty()) continue;
    if (const std::string problem = output->open(); !problem.empty())
      return report_failure(problem);
  }
  const ScanSettings settings{options.orders, options.estimate, options.escape,
                              options.intervals == "profile", options.profile_all};
  std::vector<OrderResult> results;
  std::vector<CheckOfFit> checks;
  {
    ScanProgress progress(options.quiet);
    results = run_scan(settings, progress);
    if (check_options.requested) {
      checks = check_scan_fits(results, check_options.settings, options.profile_all, progress);
    }
  }
  // With the CSV on standard output, the table makes way for it.
  std::FILE* table = csv.is_standard_output() ? stderr : stdout;
  print_scan_table(table, results);
  for (const CheckOfFit& check : checks) std::fprintf(table, "%s\n", check_fit_line(check).c_str());
  int status = 0;
  if (std::fflush(table) != 0 || std::ferror(table) != 0) {
    status = report_failure(std::string("writing the table to ") +
                            (table == stdout ? "standard output" : "standard error") + " failed");
  }
  // A scan in which every fit failed has nothing to keep: the earlier
  // outputs stay as they were.
  if (best_result(results) < 0) {
    return report_failure("no order gives a finite log-likelihood; try another --estimate");
  }
  if (!options.csv_file.empty()) {
    print_scan_csv(csv.stream(), results);
    if (const std::string problem = csv.commit(); !problem.empty())
      status = report_failure(problem);
  }
  if (!check_options.csv_file.empty()) {
    print_check_fit_csv(check_csv.stream(), checks);
    if (const std::string problem = check_csv.commit(); !problem.empty())
      status = report_failure(problem);
  }
  // The picture shows the best order's check.
  for (const CheckOfFit& check : checks) {
    if (check_options.plot_file.empty() ||
        check.order != results[static_cast<std::size_t>(best_result(results))].order) {
      continue;
    }
    if (const std::string problem = write_check_fit_picture(check_plot, check, data.name);
        !problem.empty()) {
      status = report_failure(problem);
    }
  }
  if (!options.plot_file.empty()) {
    if (const std::string problem = write_plot(plot, results, data); !problem.empty()) {
      status = report_failure(problem);
    }
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
  std::set_new_handler([] { fatal_numeric_error("allocation failure in operator new"); });
  CLI::App app{description, program_name};
  app.footer(footer);
  ScanOptions options;
  add_scan_options(app, options);
  CheckFitOptions check_options;
  add_check_fit_options(app, check_options);
  if (const std::optional<int> status = parse_command_line(app, argc, argv, program_name)) {
    return *status;
  }
  std::string problem = scan_options_problem(app, options);
  if (problem.empty()) problem = check_fit_options_problem(check_options);
  if (problem.empty()) {
    problem = scan_collision_problem({options.data_file, options.csv_file, options.plot_file});
  }
  if (problem.empty()) {
    problem = check_fit_collision_problem(options.data_file, {options.csv_file, options.plot_file},
                                          check_options.csv_file, check_options.plot_file);
  }
  if (!problem.empty()) return refuse_options(program_name, problem);
  return run(options, check_options);
}
