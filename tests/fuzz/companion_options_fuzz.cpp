// Fuzzing the companions' command lines: the input is a command line, its
// words separated by NUL bytes; the first byte chooses the program
// (interval-scan when even, interval-simulate when odd).  The words go
// through the same parsing and checks as in the programs, which neither
// print, open files nor exit, and options that are accepted must hold what
// the programs rely on.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "driver/answers.hpp"
#include "driver/observation_file.hpp"
#include "driver/scan_options.hpp"
#include "driver/simulate_options.hpp"

namespace {

// Command lines longer than this say nothing new.
constexpr std::size_t largest_fuzzed_words = 64;

std::vector<std::string> words_of(std::string_view input, const char* program) {
  std::vector<std::string> words = {program};
  while (!input.empty() && words.size() < largest_fuzzed_words) {
    const std::size_t end = std::min(input.find('\0'), input.size());
    words.emplace_back(input.substr(0, end));
    input.remove_prefix(std::min(end + 1, input.size()));
  }
  return words;
}

// Parses as main() does; false when the program would stop here (help,
// version, or a refused option).
bool parsed(CLI::App& app, std::vector<std::string>& words) {
  std::vector<char*> arguments;
  for (std::string& word : words) arguments.push_back(word.data());
  try {
    app.parse(static_cast<int>(arguments.size()), arguments.data());
  } catch (const CLI::Error&) {
    return false;
  }
  return true;
}

void check_scan(std::vector<std::string>& words) {
  CLI::App app;
  ScanOptions options;
  add_scan_options(app, options);
  if (!parsed(app, words) || !scan_options_problem(app, options).empty()) return;
  if (options.orders.empty() || options.data_files.empty()) std::abort();
  for (const std::string& data_file : options.data_files) {
    if (data_file.empty()) std::abort();
  }
  for (std::size_t k = 0; k < options.orders.size(); ++k) {
    const int order = options.orders[k];
    if (order < 1 || order > largest_model_order) std::abort();
    if (k > 0 && options.orders[k - 1] >= order) std::abort();
  }
  if (!std::isfinite(options.estimate) || options.estimate < 0.0) std::abort();
  const std::string& plot = options.plot_file;
  if (!plot.empty() && (plot == "-" || plot.size() <= 4)) std::abort();
}

void check_simulate(std::vector<std::string>& words) {
  CLI::App app;
  SimulateOptions options;
  add_simulate_options(app, options);
  if (!parsed(app, words) || !simulate_options_problem(app, options).empty()) return;
  if (options.intervals < 1 || options.intervals > largest_fitted_interval_count) std::abort();
  if (options.order < 1 || options.order > largest_model_order) std::abort();
  if (options.observations < 1 || options.output.empty()) std::abort();
  const std::size_t count = options.lengths.size();
  if (count != 1 && count != static_cast<std::size_t>(options.intervals)) std::abort();
  for (const double length : options.lengths) {
    if (!std::isfinite(length) || length < 0.0) std::abort();
  }
  for (const double rate : {options.x_rate, options.missing_rate}) {
    if (!(rate >= 0.0 && rate <= 1.0)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] % 2 == 0) {
    std::vector<std::string> words = words_of(input, "interval-scan");
    check_scan(words);
  } else {
    std::vector<std::string> words = words_of(input, "interval-simulate");
    check_simulate(words);
  }
  return 0;
}
