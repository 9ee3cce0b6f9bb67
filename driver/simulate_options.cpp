#include "driver/simulate_options.hpp"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <system_error>

#include "driver/answers.hpp"
#include "driver/help_format.hpp"
#include "driver/observation_file.hpp"

namespace {

// The largest expected number of events in one interval, 2p x length.  The
// cost of a draw grows with it; at this size a modest file already takes
// minutes, and the fit's likelihood stops counting after a few dozen events.
constexpr double largest_mean = 1e6;

// The loader keeps (n + 1) x M code slots in an int-indexed table; a file
// with more cannot be read back.
constexpr long long largest_table_slots = INT_MAX;

// A whole number written in full: an optional minus sign and digits.
std::optional<long long> parse_whole(const std::string& text) {
  long long value = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

// A decimal number written in full, as strtod reads it in the C locale
// ("nan" and "inf" included, for the caller to refuse in its own words).
std::optional<double> parse_number(const std::string& text) {
  if (text.empty() || text.front() == ' ' || text.front() == '\t') return std::nullopt;
  char* stop = nullptr;
  const double value = std::strtod(text.c_str(), &stop);
  if (stop != text.c_str() + text.size()) return std::nullopt;
  return value;
}

// A count from `smallest` to `largest`; `limit_reason` follows the upper
// bound in the message.
std::string read_count(const char* option, const std::string& text, long long smallest,
                       long long largest, const char* limit_reason, int& value) {
  const std::optional<long long> read = parse_whole(text);
  if (!read) {
    return std::string(option) + " must be a whole number, such as " +
           std::to_string(smallest == 1 ? 10 : smallest) + " (got '" + text + "')";
  }
  if (*read < smallest) {
    return std::string(option) + " must be at least " + std::to_string(smallest) + " (got " + text +
           ")";
  }
  if (*read > largest) {
    return std::string(option) + " must be at most " + std::to_string(largest) + limit_reason +
           " (got " + text + ")";
  }
  value = static_cast<int>(*read);
  return {};
}

std::string read_rate(const char* option, const std::string& text, double& value) {
  const std::optional<double> read = parse_number(text);
  if (!read || !(*read >= 0.0 && *read <= 1.0)) {
    return std::string(option) + " must be a number from 0 to 1 (got '" + text + "')";
  }
  value = *read;
  return {};
}

// A misread chance below one half: at 0.5 a reading says nothing of the
// class, and above it R and N would swap their meanings.
std::string read_error_rate(const std::string& text, double& value) {
  const std::optional<double> read = parse_number(text);
  if (!read || !(*read >= 0.0 && *read < 0.5)) {
    return "--error-rate must be a number from 0 to below 0.5 (got '" + text + "')";
  }
  value = *read;
  return {};
}

// The comma list of lengths: every item a number, none empty.
std::string read_lengths(const std::string& text, std::vector<double>& lengths) {
  const std::string example = "; write for example --lengths 0.25 or --lengths 0.2,0.35,0.15";
  if (text.empty()) return "--lengths is empty" + example;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma - start);
    if (item.empty()) {
      return "--lengths '" + text +
             "' has an empty item (two commas in a row, or a comma at "
             "an end)" +
             example;
    }
    const std::optional<double> length = parse_number(item);
    if (!length) return "--lengths: '" + item + "' is not a number" + example;
    if (!std::isfinite(*length) || *length < 0.0) {
      return "--lengths: every length must be a finite number of at least 0 (got " + item + ")";
    }
    lengths.push_back(*length);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return {};
}

std::string check_means(const SimulateOptions& options) {
  char text[320];
  for (const double length : options.lengths) {
    const double mean = 2.0 * static_cast<double>(options.order) * length;
    if (mean > largest_mean) {
      std::snprintf(text, sizeof text,
                    "--lengths: a length of %g at order %d means %g expected events in an "
                    "interval; at most %g are simulated",
                    length, options.order, mean, largest_mean);
      return text;
    }
  }
  return {};
}

void take_every_repeat(CLI::App& app) {
  // Repeats are counted here and refused in our own words.
  for (CLI::Option* option : app.get_options()) {
    option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  }
}

}  // namespace

void add_simulate_options(CLI::App& app, SimulateOptions& options) {
  use_companion_help(app);
  app.description(
      "Writes an observation data file drawn from the latent-state model of order p,\n"
      "for planning experiments and for checking a fit on data with known lengths.");
  app.footer(
      "Examples:\n"
      "  interval-simulate --lengths 0.2,0.35,0.15 --order 2 --observations 600 \\\n"
      "                    --seed 7 -o sim.dat\n"
      "  interval-simulate --lengths 0.3 --intervals 20 --observations 3000 -o big.dat\n"
      "\n"
      "Without --seed a fresh seed is drawn and named on standard error, so that two\n"
      "runs are two replicates; give that seed to write the same file again.  The\n"
      "same seed and options give the same file on every machine.\n"
      "\n"
      "Exit status: 0 written, 2 bad options, 1 output failure.  The model and the\n"
      "file format: man interval-simulate.");
  app.add_option("--intervals", options.intervals_text,
                 option_help("Number of intervals N per observation, 1 to 1000 as interval-fit "
                             "takes (default: the number of lengths given)"))
      ->type_name("N")
      ->group("Data");
  app.add_option("--observations", options.observations_text,
                 option_help("Number of observations M (rows)"))
      ->type_name("M")
      ->capture_default_str()
      ->group("Data");
  app.add_option("--x-rate", options.x_rate_text,
                 option_help("Rate of X codes, 0..1: a code that is not missing becomes X with "
                             "this probability after an N interval and with half of it after "
                             "an R interval"))
      ->type_name("R")
      ->capture_default_str()
      ->group("Data");
  app.add_option("--missing-rate", options.missing_rate_text,
                 option_help("Rate of no-information codes '-', 0..1, the same for every "
                             "interval"))
      ->type_name("R")
      ->capture_default_str()
      ->group("Data");
  app.add_option("--error-rate", options.error_rate_text,
                 option_help("Misread rate, 0 to below 0.5: every R or N code that is shown "
                             "is read as the other with this probability, drawn from a "
                             "stream of its own (X and '-' codes stay)"))
      ->type_name("E")
      ->capture_default_str()
      ->group("Data");
  app.add_option("--order", options.order_text,
                 option_help("Order p of the model, 1 to 100 as interval-fit takes: levels of "
                             "the latent state"))
      ->type_name("P")
      ->capture_default_str()
      ->group("Model");
  app.add_option("--lengths", options.lengths_text,
                 option_help("The length of each interval, in the unit the fit reports "
                             "(interval t has 2p x length_t expected events): one number for "
                             "every interval, or one per interval separated by commas, such "
                             "as 0.2,0.35,0.15"))
      ->type_name("L[,L...]")
      ->required()
      ->group("Model");
  app.add_option("--escape-fraction", options.escape_fraction_text,
                 option_help("Escape fraction, 0..1: the share of class moves made by an "
                             "independent process outside the counting; the lengths keep "
                             "their meaning (2 x length moves expected per interval)"))
      ->type_name("Q")
      ->capture_default_str()
      ->group("Model");
  app.add_option("--seed", options.seed_text,
                 option_help("Seed of the random generator, 0 to 2^64-1 (default: a fresh "
                             "one, named on standard error)"))
      ->type_name("S")
      ->group("Drawing");
  app.add_option("--output,-o", options.output,
                 option_help("File to write, replaced only once complete (default, or -: "
                             "standard output)"))
      ->type_name("FILE")
      ->group("Output");
  app.add_flag("--crlf", options.crlf, "End lines with CR LF instead of LF")->group("Output");
  app.add_flag("--quiet,-q", options.quiet, "Do not name the drawn seed")->group("Output");
  app.set_help_flag("-h,--help", "Print this help and exit")->group("Information");
  app.set_version_flag("--version", std::string("interval-simulate ") + INTERVAL_VERSION,
                       "Print the version and exit")
      ->group("Information");
  take_every_repeat(app);
}

std::string simulate_options_problem(const CLI::App& app, SimulateOptions& options) {
  // Each option once: a second --lengths would otherwise quietly win.
  for (const char* option :
       {"--intervals", "--observations", "--order", "--lengths", "--seed", "--x-rate",
        "--missing-rate", "--error-rate", "--escape-fraction", "--output"}) {
    if (app.count(option) > 1) {
      return std::string(option) + " is given more than once; give it once" +
             (std::string(option) == "--lengths" ? ", with all lengths in one list such as "
                                                   "--lengths 0.2,0.35,0.15"
                                                 : "");
    }
  }
  options.lengths.clear();
  std::string problem = read_lengths(options.lengths_text, options.lengths);
  if (!problem.empty()) return problem;
  const std::string fit_limit = ", the most interval-fit takes";
  if (options.intervals_text.empty() && app.count("--intervals") == 0) {
    if (options.lengths.size() > static_cast<std::size_t>(largest_fitted_interval_count)) {
      return "--lengths gives " + std::to_string(options.lengths.size()) +
             " lengths, one per interval; interval-fit takes at most " +
             std::to_string(largest_fitted_interval_count) + " intervals";
    }
    options.intervals = static_cast<int>(options.lengths.size());
  } else {
    problem = read_count("--intervals", options.intervals_text, 1, largest_fitted_interval_count,
                         fit_limit.c_str(), options.intervals);
    if (!problem.empty()) return problem;
  }
  problem =
      read_count("--observations", options.observations_text, 1, INT_MAX, "", options.observations);
  if (!problem.empty()) return problem;
  problem = read_count("--order", options.order_text, 1, largest_model_order, fit_limit.c_str(),
                       options.order);
  if (!problem.empty()) return problem;
  const std::size_t length_count = options.lengths.size();
  if (length_count != 1 && length_count != static_cast<std::size_t>(options.intervals)) {
    return "--lengths gives " + std::to_string(length_count) + " values for " +
           std::to_string(options.intervals) +
           " intervals; give one value for every interval or one per interval";
  }
  problem = check_means(options);
  if (!problem.empty()) return problem;
  // A plain decimal number that fits 64 bits: a generic conversion would
  // take "-1" and saturate numbers past 2^64 - 1.
  options.seed_given = app.count("--seed") > 0;
  if (options.seed_given) {
    const std::string& text = options.seed_text;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, options.seed);
    if (text.empty() || error != std::errc() || stop != end) {
      return "--seed: a seed is a whole number from 0 to 18446744073709551615, not '" + text + "'";
    }
  }
  problem = read_rate("--x-rate", options.x_rate_text, options.x_rate);
  if (!problem.empty()) return problem;
  problem = read_rate("--missing-rate", options.missing_rate_text, options.missing_rate);
  if (!problem.empty()) return problem;
  problem = read_rate("--escape-fraction", options.escape_fraction_text, options.escape_fraction);
  if (!problem.empty()) return problem;
  problem = read_error_rate(options.error_rate_text, options.error_rate);
  if (!problem.empty()) return problem;
  const long long slots = (static_cast<long long>(options.intervals) + 1) * options.observations;
  if (slots > largest_table_slots) {
    return "--observations " + std::to_string(options.observations) + " with --intervals " +
           std::to_string(options.intervals) + " make a file of " + std::to_string(slots) +
           " code slots (observations x (intervals + 1)), more than interval-fit can load (" +
           std::to_string(largest_table_slots) + ")";
  }
  if (options.output.empty()) {
    return "--output: the file name is empty; give a name such as sim.dat, or - for standard "
           "output";
  }
  return {};
}

// A seed for a run that names none: from the system's entropy source, so
// that two runs are two independent replicates (a fixed default would give
// every "replicate" the same draws without a word).
std::uint64_t fresh_seed() {
  std::random_device entropy;
  return (static_cast<std::uint64_t>(entropy()) << 32) ^ static_cast<std::uint64_t>(entropy());
}

SimulationSettings simulation_settings(const SimulateOptions& options) {
  SimulationSettings settings;
  settings.order = options.order;
  settings.x_rate = options.x_rate;
  settings.missing_rate = options.missing_rate;
  settings.escape_fraction = options.escape_fraction;
  settings.error_rate = options.error_rate;
  // λ_t = 2p x length_t, the inverse of the fit's report of λ_t / (2p).
  const double events_per_length = 2.0 * static_cast<double>(options.order);
  settings.rates.resize(static_cast<std::size_t>(options.intervals));
  for (std::size_t t = 0; t < settings.rates.size(); ++t) {
    const double length = options.lengths.size() == 1 ? options.lengths[0] : options.lengths[t];
    settings.rates[t] = events_per_length * length;
  }
  return settings;
}
