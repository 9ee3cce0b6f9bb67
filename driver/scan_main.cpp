// interval-scan: fits a range of model orders to observation data files,
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

#include "driver/check_fit_options.hpp"
#include "driver/check_fit_report.hpp"
#include "driver/check_of_fit.hpp"
#include "driver/command_line.hpp"
#include "driver/console_output.hpp"
#include "driver/scan_files.hpp"
#include "driver/scan_interrupt.hpp"
#include "driver/scan_json.hpp"
#include "driver/scan_options.hpp"
#include "driver/scan_outputs.hpp"
#include "driver/scan_progress.hpp"
#include "driver/scan_run.hpp"
#include "foundation/fatal_error.hpp"
#include "foundation/index_ranged_arrays.hpp"
#include "foundation/worker_threads.hpp"
#include "model/observations.hpp"

namespace {

constexpr const char* program_name = "interval-scan";
// After Ctrl-C, as a shell reports a process that SIGINT ended.
constexpr int status_interrupted = 130;

int report_failure(const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", program_name, what.c_str());
  return 1;
}

int run(const ScanOptions& options, const CheckFitOptions& check_options,
        const std::vector<std::string>& command_line) {
  // Each file is read, checked and installed in turn; with several, each
  // is held apart for the joint fit.
  std::vector<ScannedData> files;
  std::vector<DataSummary> summaries;
  std::vector<HeldTable> held;
  files.reserve(options.data_files.size());
  summaries.reserve(options.data_files.size());
  held.reserve(options.data_files.size());
  for (const std::string& data_file : options.data_files) {
    ScannedData data;
    DataSummary summary;
    if (const std::string problem = load_scan_data(data_file, data, summary); !problem.empty()) {
      return report_failure(problem);
    }
    files.push_back(data);
    summaries.push_back(summary);
    if (options.data_files.size() > 1) {
      // The joint fit reads the held copy: the installed table is let go
      // before the next file replaces it.
      held.emplace_back(observations.origin, observation_count, interval_count);
      release_cvector(observations, 0, (interval_count + 1) * observation_count - 1);
      set_observations(ObservationTable{}, 0, 0);
    }
  }
  ScanOutputs outputs({options.csv_file, options.plot_file, options.json_file,
                       check_options.csv_file, check_options.plot_file});
  if (const std::string problem = outputs.open(); !problem.empty()) return report_failure(problem);
  for (const DataSummary& summary : summaries) {
    if (!options.quiet) std::fputs(summary.paragraph.c_str(), stderr);
    for (const std::string& warning : summary.warnings) {
      std::fprintf(stderr, "%s: warning: %s\n", program_name, warning.c_str());
    }
  }

  std::vector<const HeldTable*> tables;
  tables.reserve(held.size());
  for (const HeldTable& table : held) tables.push_back(&table);
  const ScanSettings settings{options.orders,
                              options.estimate,
                              options.escape,
                              options.error,
                              options.intervals == "profile",
                              options.profile_all,
                              tables};
  std::vector<OrderResult> results;
  std::vector<CheckOfFit> checks;
  {
    const ScanInterrupt interrupt;
    ScanProgress progress(options.quiet);
    results = run_scan(settings, progress);
    if (check_options.requested && !scan_interrupted()) {
      checks = check_scan_fits(results, check_options.settings, options.profile_all, progress);
    }
  }
  // Interrupted: what was finished is reported and written, marked so.
  const bool partial = scan_interrupted();
  if (partial) {
    std::fprintf(stderr, "\n%s: interrupted; finished %zu of %zu orders\n", program_name,
                 results.size(), settings.orders.size());
    if (results.empty()) return status_interrupted;
  }

  std::FILE* table = outputs.table_stream();
  std::vector<std::string> names;
  names.reserve(files.size());
  for (const ScannedData& data : files) names.push_back(data.name);
  print_scan_table(table, results, names);
  for (const CheckOfFit& check : checks) std::fprintf(table, "%s\n", check_fit_line(check).c_str());
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
  std::vector<DataFileRecord> records;
  records.reserve(files.size());
  for (std::size_t k = 0; k < files.size(); ++k) {
    records.push_back({options.data_files[k], files[k].bytes, files[k].sha256});
  }
  const ScanProvenance provenance{INTERVAL_VERSION, command_line, utc_timestamp(), records,
                                  partial};
  for (const std::string& problem : outputs.write(results, checks, files, provenance)) {
    status = report_failure(problem);
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
  CheckFitOptions check_options;
  add_check_fit_options(app, check_options);
  if (const std::optional<int> status = parse_command_line(app, argc, argv, program_name)) {
    return *status;
  }
  std::string problem = scan_options_problem(app, options);
  if (problem.empty()) problem = check_fit_options_problem(check_options);
  if (problem.empty()) {
    problem = scan_collision_problem(
        {options.data_files, options.csv_file, options.plot_file, options.json_file});
  }
  if (problem.empty() && check_options.requested && options.data_files.size() > 1) {
    problem = "--check-fit: the check of fit takes one data file; check each file's own scan";
  }
  for (const std::string& data_file : options.data_files) {
    if (!problem.empty()) break;
    problem = check_fit_collision_problem(data_file, {options.csv_file, options.plot_file},
                                          check_options.csv_file, check_options.plot_file);
  }
  if (!problem.empty()) return refuse_options(program_name, problem);
  worker_thread_count();  // INTERVAL_THREADS is checked before any output is opened
  return run(options, check_options, std::vector<std::string>(argv, argv + argc));
}
