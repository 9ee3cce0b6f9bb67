// interval-simulate: writes observation data files drawn from the
// latent-state model that interval-fit assumes, for planning experiments,
// checking the method on data with known lengths, and for tests and
// benchmarks.
//
// Exit status: 0 when the file is written, 2 for options that are not
// understood or not valid (nothing is opened or written then), 1 when the
// output cannot be opened or a write fails.
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "driver/command_line.hpp"
#include "model/simulation.hpp"

namespace {

constexpr int status_output_failure = 1;

constexpr const char* program_name = "interval-simulate";

// The largest expected number of events in one interval, 2p x length.  The
// cost of a draw grows with it; at this size a modest file already takes
// minutes, and the fit's likelihood stops counting after a few dozen events.
constexpr double largest_mean = 1e6;

// Intervals per observation at most: far beyond what the fit takes (18),
// and small enough that the per-interval arrays always fit in memory.
constexpr int largest_interval_count = 1000000;

// The loader keeps (n + 1) x M code slots in an int-indexed table; a file
// with more cannot be read back.
constexpr long long largest_table_slots = INT_MAX;

struct Options {
  int intervals = 0;
  bool intervals_given = false;  // else one interval per length
  int observations = 100;
  int order = 1;
  std::vector<double> lengths;
  std::uint64_t seed = 1;
  double x_rate = 0.0;
  double missing_rate = 0.0;
  bool crlf = false;
  std::string output;  // empty: standard output
};

constexpr const char* description =
    "Writes an observation data file for interval-fit, drawn from the latent-state\n"
    "model of order p: each observation starts at a level drawn uniformly from 1..p;\n"
    "in interval t the number of events is Poisson(2p x length_t); every wrap of the\n"
    "level from p back to 1 moves the latent class to one of the two others; the\n"
    "code is R in the event class and N otherwise, and may be replaced by X or by\n"
    "the no-information code '-'.  The same seed gives the same file everywhere.";

constexpr const char* footer =
    "Output: a first line \"M N\" (observations, intervals), then one line of N codes\n"
    "per observation.  Exit status: 0 written, 2 bad options, 1 output failure.";

// A generator seed must be a plain decimal number that fits 64 bits: the generic
// unsigned conversion would take "-1" and saturate numbers past 2^64 - 1.
std::string seed_text_problem(std::string& text) {
  std::uint64_t value = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) {
    return "a seed is a whole number from 0 to 18446744073709551615, not '" + text + "'";
  }
  return {};
}

// Options are parsed into `options`; the returned option tells whether
// --intervals was given.
CLI::Option* add_options(CLI::App& app, Options& options) {
  CLI::Option* intervals =
      app.add_option("--intervals", options.intervals,
                     "Number of intervals N per observation (default: the number of lengths given)")
          ->type_name("N");
  app.add_option("--observations", options.observations, "Number of observations M (rows)")
      ->type_name("M")
      ->capture_default_str();
  app.add_option("--order", options.order, "Order p of the model: levels of the latent state")
      ->type_name("P")
      ->capture_default_str();
  app.add_option("--lengths", options.lengths,
                 "Interval lengths: one value for every interval, or one per interval\n"
                 "separated by commas; interval t has 2p x length_t expected events")
      ->type_name("L[,L...]")
      ->delimiter(',')
      ->required();
  app.add_option("--seed", options.seed,
                 "Seed of the random generator (0 .. 2^64-1); the same seed and options\n"
                 "give the same file on every machine")
      ->type_name("S")
      ->check(CLI::Validator(seed_text_problem, "", "seed"))
      ->capture_default_str();
  app.add_option("--x-rate", options.x_rate,
                 "Rate of X codes, 0..1: a code that is not missing becomes X with this\n"
                 "probability after an N interval and with half of it after an R interval")
      ->type_name("R")
      ->capture_default_str();
  app.add_option("--missing-rate", options.missing_rate,
                 "Rate of no-information codes '-', 0..1, the same for every interval")
      ->type_name("R")
      ->capture_default_str();
  app.add_flag("--crlf", options.crlf, "End lines with CR LF instead of LF");
  app.add_option("--output", options.output, "File to write (default: standard output)")
      ->type_name("FILE");
  return intervals;
}

bool is_rate(double value) { return value >= 0.0 && value <= 1.0; }

// Why the options cannot be used, or an empty text when they can.  Fills in
// the number of intervals when it was left to the lengths.
std::string options_problem(Options& options) {
  char text[320];
  if (options.lengths.empty()) return "--lengths needs at least one value";
  if (!options.intervals_given) {
    options.intervals = static_cast<int>(options.lengths.size() < static_cast<std::size_t>(INT_MAX)
                                             ? options.lengths.size()
                                             : INT_MAX);
  }
  if (options.intervals < 1) {
    std::snprintf(text, sizeof text, "--intervals must be at least 1 (got %d)", options.intervals);
    return text;
  }
  if (options.intervals > largest_interval_count) {
    std::snprintf(text, sizeof text, "--intervals must be at most %d (got %d)",
                  largest_interval_count, options.intervals);
    return text;
  }
  if (options.observations < 1) {
    std::snprintf(text, sizeof text, "--observations must be at least 1 (got %d)",
                  options.observations);
    return text;
  }
  if (options.order < 1) {
    std::snprintf(text, sizeof text, "--order must be at least 1 (got %d)", options.order);
    return text;
  }
  const std::size_t length_count = options.lengths.size();
  if (length_count != 1 && length_count != static_cast<std::size_t>(options.intervals)) {
    std::snprintf(text, sizeof text,
                  "--lengths gives %zu values for %d intervals; give one value for every "
                  "interval or one per interval",
                  length_count, options.intervals);
    return text;
  }
  for (const double length : options.lengths) {
    if (!std::isfinite(length) || length < 0.0) {
      std::snprintf(text, sizeof text,
                    "--lengths: every length must be a finite number of at least 0 (got %g)",
                    length);
      return text;
    }
    const double mean = 2.0 * static_cast<double>(options.order) * length;
    if (mean > largest_mean) {
      std::snprintf(text, sizeof text,
                    "--lengths: a length of %g at order %d means %g expected events in an "
                    "interval; at most %g are simulated",
                    length, options.order, mean, largest_mean);
      return text;
    }
  }
  if (!is_rate(options.x_rate)) {
    std::snprintf(text, sizeof text, "--x-rate must be a number from 0 to 1 (got %g)",
                  options.x_rate);
    return text;
  }
  if (!is_rate(options.missing_rate)) {
    std::snprintf(text, sizeof text, "--missing-rate must be a number from 0 to 1 (got %g)",
                  options.missing_rate);
    return text;
  }
  const long long slots = (static_cast<long long>(options.intervals) + 1) * options.observations;
  if (slots > largest_table_slots) {
    std::snprintf(text, sizeof text,
                  "--observations %d with --intervals %d make a file of %lld code slots "
                  "(observations x (intervals + 1)), more than interval-fit can load (%lld)",
                  options.observations, options.intervals, slots, largest_table_slots);
    return text;
  }
  return {};
}

SimulationSettings settings_from(const Options& options) {
  SimulationSettings settings;
  settings.order = options.order;
  settings.x_rate = options.x_rate;
  settings.missing_rate = options.missing_rate;
  // λ_t = 2p x length_t, the inverse of the fit's report of λ_t / (2p).
  const double events_per_length = 2.0 * static_cast<double>(options.order);
  settings.rates.resize(static_cast<std::size_t>(options.intervals));
  for (std::size_t t = 0; t < settings.rates.size(); ++t) {
    const double length = options.lengths.size() == 1 ? options.lengths[0] : options.lengths[t];
    settings.rates[t] = events_per_length * length;
  }
  return settings;
}

int write_output(const Options& options, const SimulationSettings& settings) {
  const bool to_file = !options.output.empty();
  const char* const name = to_file ? options.output.c_str() : "standard output";
  std::FILE* file = to_file ? std::fopen(name, "wb") : stdout;
  if (file == nullptr) {
    std::fprintf(stderr, "%s: can't open the output file %s: %s\n", program_name, name,
                 std::strerror(errno));
    return status_output_failure;
  }
  errno = 0;
  bool written =
      write_observation_file(file, settings, options.observations, options.seed, options.crlf);
  int saved_errno = errno;
  if (to_file && std::fclose(file) != 0 && written) {
    written = false;
    saved_errno = errno;
  }
  if (!written) {
    std::fprintf(stderr, "%s: writing %s failed%s%s; the data are incomplete\n", program_name, name,
                 saved_errno != 0 ? ": " : "", saved_errno != 0 ? std::strerror(saved_errno) : "");
    return status_output_failure;
  }
  return 0;
}

}  // namespace

// Only a refused operator new can escape, before the output is begun (the
// option texts are a few bytes); parse_command_line turns CLI11's errors
// into a status.
int main(int argc, char** argv) {  // NOLINT(bugprone-exception-escape)
  CLI::App app{description, program_name};
  app.footer(footer);
  Options options;
  const CLI::Option* intervals = add_options(app, options);
  if (const std::optional<int> status = parse_command_line(app, argc, argv, program_name)) {
    return *status;
  }
  options.intervals_given = intervals->count() > 0;

  const std::string problem = options_problem(options);
  if (!problem.empty()) return refuse_options(program_name, problem);
  try {
    return write_output(options, settings_from(options));
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: not enough memory for %d intervals\n", program_name,
                 options.intervals);
    return status_output_failure;
  }
}
