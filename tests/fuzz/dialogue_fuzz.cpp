// Fuzzing a whole dialogue without its console: the input holds the model
// order, the initial estimate and the data file, in the order a user gives
// them (two words, each ended by a line end, then the file's bytes).  The
// answers go through the same parsing as at the prompts, the file through
// the same loading, and when everything is accepted the likelihood is
// evaluated once at the starting point.  Nothing here may exit, so only the
// functions that neither print nor end the process are called.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "driver/answers.hpp"
#include "driver/observation_file.hpp"
#include "model/likelihood.hpp"
#include "model/observations.hpp"

namespace {

// The evaluation is kept cheap: small tables, few intervals, low orders.
// Its cost grows with slots x (6p)^2, so these bound one run to well under
// a millisecond.
constexpr long long largest_fuzzed_slots = 1 << 10;
constexpr int largest_fuzzed_intervals = 8;
constexpr int largest_fuzzed_order = 3;

// How far below 0 one observation's -log(likelihood) may come: far above
// rounding in sums of a few hundred terms and the factorial series' 1e-10.
constexpr double rounding_allowance = 1e-6;

// The next line of `input`, without its line end; the rest stays in input.
std::string_view next_line(std::string_view& input) {
  const std::size_t end = std::min(input.find('\n'), input.size());
  const std::string_view line = input.substr(0, end);
  input.remove_prefix(std::min(end + 1, input.size()));
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::optional<int> order = parse_model_order(next_line(input));
  const std::optional<double> estimate = parse_initial_estimate(next_line(input));
  if (order && (*order < 1 || *order > largest_model_order)) std::abort();
  if (estimate && !(std::isfinite(*estimate) && *estimate >= 0.0)) std::abort();

  const std::string text = fold_line_ends(input);
  const ObservationFileHeader header = read_observation_header(text);
  if (!order || !estimate || !header.problem.empty()) return 0;
  const long long slots = observation_table_slots(header);
  if (slots < 0 || slots > largest_fuzzed_slots) return 0;
  if (header.interval_count > largest_fuzzed_intervals || *order > largest_fuzzed_order) return 0;

  const int last = static_cast<int>(slots) - 1;
  const int n = header.interval_count;
  ObservationTable table = cvector(0, last);
  fill_observation_table(text, header, table);
  set_observations(table, header.observation_count, n);
  model_order = *order;
  DoubleVector point = dvector(1, n);
  for (int t = 1; t <= n; ++t) point[t] = *estimate;
  const double value = negative_log_likelihood(point);
  // Each observation's likelihood is a probability, so its -log is at least
  // 0 up to rounding and the series error of the factorials (or not a
  // number where the start is beyond what doubles can hold).
  if (value < -rounding_allowance * header.observation_count) std::abort();
  release_dvector(point, 1, n);
  release_cvector(table, 0, last);
  observations = ObservationTable{};
  return 0;
}
