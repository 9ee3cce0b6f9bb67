#include "driver/check_fit_options.hpp"

#include <charconv>
#include <cstddef>
#include <system_error>

#include "driver/file_identity.hpp"
#include "driver/help_format.hpp"
#include "driver/scan_report.hpp"

namespace {

// A whole number from the whole of `text`, or false.
template <typename Number>
bool whole_number(const std::string& text, Number& value) {
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc() && stop == end;
}

}  // namespace

void add_check_fit_options(CLI::App& app, CheckFitOptions& options) {
  options.check_fit =
      app.add_option("--check-fit", options.replicates_text,
                     option_help("Check the fit of the best order (every order with "
                                 "--profile-all): a pairwise G2 of the readings against the "
                                 "model, with a parametric bootstrap p-value from B replicates "
                                 "(default 200), each refitted. Give the data file before this "
                                 "option, or B after it."))
          ->expected(0, 1)
          ->type_name("[B]")
          ->group("Check of fit");
  app.add_option("--check-fit-csv", options.csv_file,
                 option_help("Write the check's table of pairs (observed and expected counts and "
                             "standardised residuals) to FILE ('-': standard output); needs "
                             "--check-fit"))
      ->type_name("FILE")
      ->group("Check of fit");
  app.add_option("--check-fit-plot", options.plot_file,
                 option_help("Draw the check's picture, a triangle of interval pairs coloured by "
                             "how far each pair's association departs from the model, into the "
                             "SVG file FILE; needs --check-fit"))
      ->type_name("FILE")
      ->group("Check of fit");
  app.add_option("--seed", options.seed_text,
                 option_help("Seed of the bootstrap replicates (default 1); the same seed gives "
                             "the same p-value on any number of threads"))
      ->type_name("S")
      ->group("Check of fit");
}

std::string check_fit_options_problem(CheckFitOptions& options) {
  options.requested = options.check_fit != nullptr && options.check_fit->count() > 0;
  if (!options.requested) {
    if (!options.csv_file.empty()) return "--check-fit-csv needs --check-fit";
    if (!options.plot_file.empty()) return "--check-fit-plot needs --check-fit";
    if (!options.seed_text.empty()) return "--seed needs --check-fit";
    return "";
  }
  // --check-fit without B leaves no value, or an empty one.
  if (!options.replicates_text.empty() && !options.replicates_text.front().empty()) {
    const std::string& text = options.replicates_text.front();
    int replicates = 0;
    if (!whole_number(text, replicates) || replicates < 1 ||
        replicates > check_fit_replicate_limit) {
      return "--check-fit: '" + text + "' is not a number of replicates from 1 to " +
             std::to_string(check_fit_replicate_limit) + " (put the data file before --check-fit)";
    }
    options.settings.replicates = replicates;
  }
  if (!options.plot_file.empty() && !scan_plot_available()) return plot_unavailable_reason();
  if (!options.plot_file.empty() &&
      (options.plot_file == "-" || options.plot_file.find('%') != std::string::npos)) {
    // The plotting library reads these as orders of its own.
    return "--check-fit-plot: the name may hold neither '%' nor be '-'";
  }
  if (!options.seed_text.empty()) {
    std::uint64_t seed = 0;
    if (!whole_number(options.seed_text, seed)) {
      return "--seed: '" + options.seed_text + "' is not a whole number from 0 to 2^64 - 1";
    }
    options.settings.seed = seed;
  }
  return "";
}

std::string check_fit_collision_problem(const std::string& data_file,
                                        const std::vector<std::string>& other_outputs,
                                        const std::string& check_csv,
                                        const std::string& check_plot) {
  const auto identity = [](const std::string& name, int descriptor) {
    return name == "-" ? identify_descriptor(descriptor) : identify_path(name);
  };
  const auto shown = [](const std::string& name) {
    return name == "-" ? std::string("standard output") : name;
  };
  struct Output {
    const char* description;
    const std::string& name;
  };
  const Output outputs[] = {{"the check-fit CSV file", check_csv},
                            {"the check-fit plot", check_plot}};
  for (std::size_t k = 0; k < 2; ++k) {
    const Output& output = outputs[k];
    if (output.name.empty()) continue;
    const FileIdentity check = identity(output.name, 1);
    if (same_file(check, identity(data_file, 0))) {
      return std::string(output.description) + " " + shown(output.name) + " is the data file";
    }
    std::vector<std::string> others = other_outputs;
    if (k == 1) others.push_back(check_csv);
    for (const std::string& other : others) {
      if (!other.empty() && same_file(check, identity(other, 1))) {
        return std::string(output.description) + " " + shown(output.name) +
               " is the same file as " + shown(other) + "; give the output another name";
      }
    }
  }
  return "";
}
