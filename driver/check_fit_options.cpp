#include "driver/check_fit_options.hpp"

#include <charconv>
#include <system_error>

#include "driver/file_identity.hpp"

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
                     "Check the fit of the best order (every order with --profile-all): "
                     "a pairwise G2 of the readings against the model, with a parametric-"
                     "bootstrap p-value from B replicates (default 200), each refitted. "
                     "Give the data file before this option, or B after it.")
          ->expected(0, 1)
          ->type_name("[B]");
  app.add_option("--check-fit-csv", options.csv_file,
                 "Write the check's table of pairs (observed and expected counts and "
                 "standardised residuals) to FILE ('-': standard output); needs --check-fit")
      ->type_name("FILE");
  app.add_option("--seed", options.seed_text,
                 "Seed of the bootstrap replicates (default 1); the same seed gives the same "
                 "p-value on any number of threads")
      ->type_name("S");
}

std::string check_fit_options_problem(CheckFitOptions& options) {
  options.requested = options.check_fit != nullptr && options.check_fit->count() > 0;
  if (!options.requested) {
    if (!options.csv_file.empty()) return "--check-fit-csv needs --check-fit";
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
                                        const std::string& check_csv) {
  if (check_csv.empty()) return "";
  const auto identity = [](const std::string& name, int descriptor) {
    return name == "-" ? identify_descriptor(descriptor) : identify_path(name);
  };
  const FileIdentity check = identity(check_csv, 1);
  const char* const described = "the check-fit CSV file";
  if (same_file(check, identity(data_file, 0))) {
    return std::string(described) + " is the data file";
  }
  for (const std::string& other : other_outputs) {
    if (!other.empty() && same_file(check, identity(other, 1))) {
      return std::string(described) + " is the same file as " +
             (other == "-" ? "standard output" : other);
    }
  }
  return "";
}
