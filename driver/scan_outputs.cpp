#include "driver/scan_outputs.hpp"

#include "driver/check_fit_plot.hpp"
#include "driver/check_fit_report.hpp"
#include "driver/scan_files.hpp"

ScanOutputs::ScanOutputs(const ScanOutputNames& names)
    : csv_(names.csv, "the CSV file", true),
      plot_(names.plot, "the plot file", false),
      json_(names.json, "the JSON file", true),
      check_csv_(names.check_csv, "the check-fit CSV file", true),
      check_plot_(names.check_plot, "the check-fit plot", false) {}

std::string ScanOutputs::open() {
  for (OutputFile* output : {&csv_, &plot_, &json_, &check_csv_, &check_plot_}) {
    if (output->name().empty()) continue;
    if (std::string problem = output->open(); !problem.empty()) return problem;
  }
  if (!plot_.name().empty()) {
    if (const std::string problem = plot_device_problem(plot_kind_of(plot_.name()));
        !problem.empty()) {
      return "can't draw the plot file " + plot_.name() + ": " + problem;
    }
  }
  return {};
}

std::FILE* ScanOutputs::table_stream() const {
  const bool taken =
      csv_.is_standard_output() || json_.is_standard_output() || check_csv_.is_standard_output();
  return taken ? stderr : stdout;
}

std::vector<std::string> ScanOutputs::write(const std::vector<OrderResult>& results,
                                            const std::vector<CheckOfFit>& checks,
                                            const std::vector<ScannedData>& files,
                                            const ScanProvenance& provenance) {
  std::vector<std::string> problems;
  auto note = [&problems](const std::string& problem) {
    if (!problem.empty()) problems.push_back(problem);
  };
  if (!csv_.name().empty()) {
    std::vector<std::string> names;
    names.reserve(provenance.data_files.size());
    for (const DataFileRecord& file : provenance.data_files) names.push_back(file.name);
    print_scan_csv(csv_.stream(), results, names);
    note(csv_.commit());
  }
  if (!json_.name().empty()) {
    print_scan_json(json_.stream(), provenance, results, checks);
    note(json_.commit());
  }
  if (!check_csv_.name().empty()) {
    print_check_fit_csv(check_csv_.stream(), checks);
    note(check_csv_.commit());
  }
  const int best = best_result(results);
  for (const CheckOfFit& check : checks) {
    if (check_plot_.name().empty() || best < 0 ||
        check.order != results[static_cast<std::size_t>(best)].order) {
      continue;
    }
    note(write_check_fit_picture(check_plot_, check, files.front().name));
  }
  if (!plot_.name().empty()) note(write_plot(plot_, results, files));
  return problems;
}
