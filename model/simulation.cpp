#include "model/simulation.hpp"

#include <cassert>
#include <climits>
#include <cmath>
#include <cstddef>

#include "model/emission.hpp"
#include "model/latent_state.hpp"

namespace {

// The double nearest to 1/e, the base of the whole part of exp_negative.
constexpr double inverse_e = 0.36787944117144233;

// Terms of the series for e^f, 0 <= f < 1: the first term left out is below
// 1/21! < 2e-20, far under the rounding of the sum.
constexpr int exponential_terms = 20;

// 2^-53: turns the top 53 bits of an engine output into a double in [0, 1).
constexpr double unit_scale = 0x1.0p-53;

// Mixed into a run's seed to start the misread engine: any fixed constant
// with bits in both halves serves ("misread!" in ASCII).
constexpr std::uint64_t misread_stream_key = 0x6d69737265616421ULL;

// A Poisson(mean) count for 0 <= mean <= poisson_chunk, by inversion of the
// distribution function with one uniform u: the smallest k with
// u < P(K <= k), where P(K = 0) = e^(-mean) and P(K = k) = P(K = k-1) mean / k.
std::int64_t poisson_by_inversion(SimulationEngine& engine, double mean) {
  const double u = uniform_unit(engine);
  std::int64_t k = 0;
  double probability = exp_negative(mean);
  double cumulative = probability;
  while (!(u < cumulative)) {
    ++k;
    probability = probability * mean / static_cast<double>(k);
    const double next = cumulative + probability;
    // Past the mode the terms only shrink: once they no longer move the
    // rounded sum, the tail left is below 2^-53 and k is as far as any u goes.
    if (next == cumulative && static_cast<double>(k) > mean) break;
    cumulative = next;
  }
  return k;
}

// After a wrap the sub-state is one of the four outside its class, each with
// probability 1/4: the class goes to either other class with 1/2, and the
// sub-state to either twin of that class with 1/2.
int sub_state_after_wrap(SimulationEngine& engine, int sub_state) {
  const int from_class = sub_state_class(sub_state);
  std::uint64_t pick = uniform_below(engine, 4);
  for (int candidate = 1; candidate <= sub_state_count; ++candidate) {
    if (sub_state_class(candidate) == from_class) continue;
    if (pick == 0) return candidate;
    --pick;
  }
  assert(false && "four sub-states lie outside every class");
  return sub_state;
}

}  // namespace

double uniform_unit(SimulationEngine& engine) {
  return static_cast<double>(engine() >> 11) * unit_scale;
}

std::uint64_t uniform_below(SimulationEngine& engine, std::uint64_t bound) {
  assert(bound >= 1);
  // Outputs below 2^64 mod bound are refused, so that the accepted range is a
  // whole number of copies of 0 .. bound - 1.  (0 - bound) % bound is
  // (2^64 - bound) mod bound = 2^64 mod bound in unsigned arithmetic.
  const std::uint64_t refused = (std::uint64_t{0} - bound) % bound;
  std::uint64_t draw = engine();
  while (draw < refused) draw = engine();
  return draw % bound;
}

double exp_negative(double x) {
  assert(x >= 0.0 && x <= poisson_chunk);
  // e^(-x) = (1/e)^w / e^f, with x = w + f, w whole and 0 <= f < 1.
  const int whole = static_cast<int>(x);
  const double fraction = x - static_cast<double>(whole);

  // e^f = sum over k = 0.. of f^k / k!, every term positive.
  double term = 1.0;
  double series = 1.0;
  for (int k = 1; k <= exponential_terms; ++k) {
    term = term * fraction / static_cast<double>(k);
    series += term;
  }

  // (1/e)^w by repeated squaring.
  double power = 1.0;
  double base = inverse_e;
  for (int remaining = whole; remaining > 0; remaining /= 2) {
    if (remaining % 2 == 1) power *= base;
    base *= base;
  }
  return power / series;
}

std::int64_t poisson_draw(SimulationEngine& engine, double mean) {
  assert(std::isfinite(mean) && mean >= 0.0);
  // Poisson(a + b) is the sum of independent Poisson(a) and Poisson(b).
  std::int64_t total = 0;
  double remaining = mean;
  while (remaining > poisson_chunk) {
    total += poisson_by_inversion(engine, poisson_chunk);
    remaining -= poisson_chunk;
  }
  return total + poisson_by_inversion(engine, remaining);
}

LatentState initial_state(SimulationEngine& engine, int order) {
  assert(order >= 1);
  LatentState state;
  state.level = 1 + static_cast<int>(uniform_below(engine, static_cast<std::uint64_t>(order)));
  state.sub_state = uniform_below(engine, 2) == 0 ? starting_sub_state : twin(starting_sub_state);
  return state;
}

void advance_interval(SimulationEngine& engine, LatentState& state, int order, double mean,
                      double escape_mean) {
  const std::int64_t events = poisson_draw(engine, mean);
  const LevelChange change = level_after_events(state.level, events, order);
  state.level = change.level;
  // Every class move, wrap or escape, leaves the class for either other one
  // with equal chance, so only their total count matters, not their order.
  const std::int64_t escapes = escape_mean > 0.0 ? poisson_draw(engine, escape_mean) : 0;
  for (std::int64_t w = 0; w < change.wraps + escapes; ++w) {
    state.sub_state = sub_state_after_wrap(engine, state.sub_state);
  }
}

char emitted_code(SimulationEngine& engine, int sub_state, double x_rate, double missing_rate) {
  assert(x_rate >= 0.0 && x_rate <= 1.0);
  assert(missing_rate >= 0.0 && missing_rate <= 1.0);
  // With q the missing rate and x the X rate, the code of an interval that
  // ends in class {1, 6} or {3, 4} (A) or in class {2, 5} (B) is
  //   '-' with q in either class,
  //   'X' with (1-q) x in A and (1-q) x/2 in B,
  //   'N' with (1-q)(1-x) in A, never in B,
  //   'R' with (1-q)(1-x/2) in B, never in A.
  // So P(code | class) = c_code * e(code, class), where e is the likelihood's
  // emission factor (N: 1, 0, 1;  R: 0, 1, 0;  X: 1, 0.5, 1;  other: 1, 1, 1
  // for the classes {1,6}, {2,5}, {3,4}) and c_code = (1-q)(1-x), (1-q)(1-x/2),
  // (1-q) x and q does not depend on the class.  The probability of a whole
  // row is then a constant times the likelihood of that row, and the fit
  // maximises the true probability of the data.  The missing draw has to be
  // free of the class: were no-information codes to replace only codes that
  // did not become X, their rate would be q(1-x) in A and q(1-x/2) in B, and
  // the constant for '-' would depend on the class.
  const double missing_draw = uniform_unit(engine);
  const double x_draw = uniform_unit(engine);
  // R is consistent with the one class, {2, 5}, where N is not.
  const bool shows_event =
      emission_factor(code_row(static_cast<unsigned char>(code_event)), sub_state) != 0.0;
  if (missing_draw < missing_rate) return code_missing;
  // The X rate scaled by X's emission factor: x, or x/2 in class {2, 5}.
  const double x_share =
      x_rate * emission_factor(code_row(static_cast<unsigned char>(code_x)), sub_state);
  if (x_draw < x_share) return code_x;
  return shows_event ? code_event : code_no_event;
}

void simulate_observation(SimulationEngine& engine, const SimulationSettings& settings, char* row) {
  LatentState state = initial_state(engine, settings.order);
  const double escape = settings.escape_fraction;
  const double order = static_cast<double>(settings.order);
  for (std::size_t t = 0; t < settings.rates.size(); ++t) {
    // Counting events (1 - e) λ_t, escape moves e λ_t / p: with e = 0 the
    // first is λ_t exactly and the second 0.
    const double rate = settings.rates[t];
    advance_interval(engine, state, settings.order, (1.0 - escape) * rate, escape * rate / order);
    row[t] = emitted_code(engine, state.sub_state, settings.x_rate, settings.missing_rate);
  }
}

std::uint64_t misread_seed(std::uint64_t seed) {
  std::uint64_t z = seed ^ misread_stream_key;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

void misread_codes(SimulationEngine& misreads, double error_rate, char* row, std::size_t n) {
  assert(error_rate >= 0.0 && error_rate <= 0.5);
  if (error_rate == 0.0) return;
  for (std::size_t t = 0; t < n; ++t) {
    if (row[t] != code_event && row[t] != code_no_event) continue;
    if (uniform_unit(misreads) < error_rate) {
      row[t] = row[t] == code_event ? code_no_event : code_event;
    }
  }
}

std::vector<char> simulate_codes(const SimulationSettings& settings, int count,
                                 std::uint64_t seed) {
  assert(count >= 0);
  const std::size_t n = settings.rates.size();
  std::vector<char> codes(n * static_cast<std::size_t>(count));
  SimulationEngine engine(seed);
  SimulationEngine misreads(misread_seed(seed));
  for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
    simulate_observation(engine, settings, codes.data() + i * n);
    misread_codes(misreads, settings.error_rate, codes.data() + i * n, n);
  }
  return codes;
}

bool write_observation_file(std::FILE* file, const SimulationSettings& settings, int count,
                            std::uint64_t seed, bool crlf) {
  assert(count >= 0 && settings.rates.size() <= static_cast<std::size_t>(INT_MAX));
  const char* const line_end = crlf ? "\r\n" : "\n";
  const std::size_t n = settings.rates.size();
  if (std::fprintf(file, "%d %d%s", count, static_cast<int>(n), line_end) < 0) return false;

  std::vector<char> row(n);
  SimulationEngine engine(seed);
  SimulationEngine misreads(misread_seed(seed));
  for (int i = 0; i < count; ++i) {
    simulate_observation(engine, settings, row.data());
    misread_codes(misreads, settings.error_rate, row.data(), n);
    if (std::fwrite(row.data(), 1, n, file) != n) return false;
    if (std::fputs(line_end, file) == EOF) return false;
  }
  return std::fflush(file) == 0 && std::ferror(file) == 0;
}
