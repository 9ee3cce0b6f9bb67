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
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "driver/command_line.hpp"
#include "driver/console_output.hpp"
#include "driver/output_file.hpp"
#include "driver/scan_files.hpp"
#include "driver/scan_interrupt.hpp"
#include "driver/scan_json.hpp"
#include "driver/scan_options.hpp"
#include "driver/scan_progress.hpp"
#include "driver/scan_run.hpp"
#include "foundation/fatal_error.hpp"
#include "foundation/worker_threads.hpp"

namespace {

constexpr const char* program_name = "interval-scan";
// After Ctrl-C, as a shell reports a process that SIGINT ended.
constexpr int status_interrupted = 130;

int report_failure(const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", program_name, what.c_str());
  return 1;
}

int run(const ScanOptions& options, const std::vector<std::string>& command_line) {
  ScannedData data;
  DataSummary summary;
  if (const std::string problem = load_scan_data(options.data_file, data, summary);
      !problem.empty()) {
    return report_failure(problem);
  }
  // Opened before the fits, so that a bad name or folder fails at once; the
  // earlier files stay as they are until the new ones are complete.
  OutputFile csv(options.csv_file, "the CSV file", true);
  OutputFile plot(options.plot_file, "the plot file", false);
  OutputFile json(options.json_file, "the JSON file", true);
  for (OutputFile* output : {&csv, &plot, &json}) {
    if (output->name().empty()) continue;
    if (const std::string problem = output->open(); !problem.empty())
      return report_failure(problem);
  }
  if (!options.plot_file.empty()) {
    if (const std::string problem = plot_device_problem(plot_kind_of(options.plot_file));
        !problem.empty()) {
      return report_failure("can't draw the plot file " + options.plot_file + ": " + problem);
    }
  }
  // What the data hold, once every file is known to be usable.
  if (!options.quiet) std::fputs(summary.paragraph.c_str(), stderr);
  for (const std::string& warning : summary.warnings) {
    std::fprintf(stderr, "%s: warning: %s\n", program_name, warning.c_str());
  }
  const ScanSettings settings{options.orders, options.estimate, options.escape,
                              options.intervals == "profile", options.profile_all};
  std::vector<OrderResult> results;
  {
    const ScanInterrupt interrupt;
    ScanProgress progress(options.quiet);
    results = run_scan(settings, progress);
  }
  // Interrupted: what was finished is reported and written, marked so.
  const bool partial = scan_interrupted();
  if (partial) {
    std::fprintf(stderr, "\n%s: interrupted; finished %zu of %zu orders\n", program_name,
                 results.size(), settings.orders.size());
    if (results.empty()) return status_interrupted;
  }
  // With the CSV on standard output, the table makes way for it.
  std::FILE* table = csv.is_standard_output() || json.is_standard_output() ? stderr : stdout;
  print_scan_table(table, results);
  int status = 0;
  if (const int error = flush_failure(table); error != 0) {
    status = report_failure(std::string("writing the table to ") +
                            (table == stdout ? "standard output" : "standard error") +
                            " failed: " + std::strerror(error));
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
  if (!options.json_file.empty()) {
    const ScanProvenance provenance{INTERVAL_VERSION,
                                    command_line,
                                    utc_timestamp(),
                                    {{options.data_file, data.bytes, data.sha256}},
                                    partial};
    print_scan_json(json.stream(), provenance, results);
    if (const std::string problem = json.commit(); !problem.empty())
      status = report_failure(problem);
  }
  if (!options.plot_file.empty()) {
    if (const std::string problem = write_plot(plot, results, data); !problem.empty()) {
      status = report_failure(problem);
    }
  }
  return partial ? status_interrupted : status;
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
  CLI::App app{"", program_name};
  describe_scan(app);
  ScanOptions options;
  add_scan_options(app, options);
  if (const std::optional<int> status = parse_command_line(app, argc, argv, program_name)) {
    return *status;
  }
  std::string problem = scan_options_problem(app, options);
  if (problem.empty()) {
    problem = scan_collision_problem(
        {options.data_file, options.csv_file, options.plot_file, options.json_file});
  }
  if (!problem.empty()) return refuse_options(program_name, problem);
  worker_thread_count();  // INTERVAL_THREADS is checked before any output is opened
  return run(options, std::vector<std::string>(argv, argv + argc));
}
