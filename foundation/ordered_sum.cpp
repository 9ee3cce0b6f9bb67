#include "foundation/ordered_sum.hpp"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>

#include "foundation/instruction_sets.hpp"

namespace {

// Terms per stretch: a stretch that leaves its binade is added again one
// term at a time, so short enough that this costs little, long enough that
// its bookkeeping does too.
constexpr std::size_t stretch_length = 512;
// The r of every value are found for a binade only when it can be expected
// to take at least this many times as many terms as there are values.
constexpr std::size_t terms_per_value_to_prepare = 2;

constexpr double two_to_52 = 4503599627370496.0;
constexpr double two_to_53 = 2.0 * two_to_52;
// Totals from here up (binade exponent 1023 and beyond) are added one term
// at a time: 2^e would not be a finite double.
constexpr double highest_prepared_total = 0x1p1022;

// units[d] = r, the integer nearest to values[d] / u for u = 2^(e - 53), or
// 2^53 where values[d] is negative, not finite, too large or a tie: any
// stretch that uses it then ends at or above 2^53 units and is refused.
// With 0 <= q < 2^52, q + 2^52 lies in [2^52, 2^53), where the doubles are
// the integers, so it rounds q to the nearest integer, and taking 2^52 away
// again is exact; so is q - r.
INTERVAL_WIDEST_TARGETS
void prepare_units(const std::vector<double>& values, int e, std::vector<double>& units) {
  const double per_unit = std::ldexp(1.0, 53 - e);
  for (std::size_t d = 0; d < values.size(); ++d) {
    const double v = values[d];
    const double q = v * per_unit;
    const double r = (q + two_to_52) - two_to_52;
    // Every test evaluated, without branches: the loop vectorises.
    const bool usable = (v >= 0.0) & (q < two_to_52) & (q - r != 0.5) & (r - q != 0.5);
    units[d] = usable ? r : two_to_53;
  }
}

// The units of one stretch, in four independent sums: integers below 2^53
// add exactly in any order, and a sum that reaches 2^53 stays at or above it
// (adding nonnegative doubles never lowers a sum).
double stretch_units(const std::vector<double>& units, const int* index, std::size_t count) {
  double sum[4] = {0.0, 0.0, 0.0, 0.0};
  std::size_t k = 0;
  for (; k + 4 <= count; k += 4) {
    for (std::size_t lane = 0; lane < 4; ++lane) {
      sum[lane] += units[static_cast<std::size_t>(index[k + lane])];
    }
  }
  for (; k < count; ++k) sum[0] += units[static_cast<std::size_t>(index[k])];
  return (sum[0] + sum[1]) + (sum[2] + sum[3]);
}

// total + values[index[0]] + ... + values[index[count - 1]], one addition
// after another.  Kept out of line: inlined, the total would share the
// caller's registers with values live across library calls, and the
// compiler keeps it in memory through the whole chain.
[[gnu::noinline]] double add_one_at_a_time(double total, const double* values, const int* index,
                                           std::size_t count) {
  for (std::size_t k = 0; k < count; ++k) total += values[static_cast<std::size_t>(index[k])];
  return total;
}

}  // namespace

double add_in_order(double total, const std::vector<double>& values,
                    const std::vector<int>& index) {
  const std::size_t count = index.size();
  // Each thread's room for the units, kept from call to call.
  thread_local std::vector<double> units;
  if (units.size() < values.size()) units.resize(values.size());
  int prepared = INT_MIN;  // the binade exponent `units` holds r for
  std::size_t i = 0;
  while (i < count) {
    const std::size_t end = std::min(count, i + stretch_length);
    if (total >= DBL_MIN && total < highest_prepared_total) {
      int e = 0;
      std::frexp(total, &e);  // total in [2^(e-1), 2^e)
      // The terms this binade can be expected to take, at the mean term so
      // far: preparing it pays only if they are many against the values.
      const double room = std::ldexp(1.0, e) - total;
      const double expected = i == 0 ? 0.0
                                     : std::min(room / (total / static_cast<double>(i)),
                                                static_cast<double>(count - i));
      if (e != prepared &&
          expected >= static_cast<double>(terms_per_value_to_prepare * values.size())) {
        prepare_units(values, e, units);
        prepared = e;
      }
      if (e == prepared) {
        // total = m u with m an integer in [2^52, 2^53).
        const double m = total * std::ldexp(1.0, 53 - e);
        const double next = m + stretch_units(units, index.data() + i, end - i);
        if (next < two_to_53) {
          total = next * std::ldexp(1.0, e - 53);
          i = end;
          continue;
        }
      }
    }
    total = add_one_at_a_time(total, values.data(), index.data() + i, end - i);
    i = end;
  }
  return total;
}
