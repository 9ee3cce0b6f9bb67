#include "model/latent_state.hpp"

#include <cmath>

namespace {

// Emission factors of sub-states 1..6 under each code row.  R is consistent
// only with class {2, 5}; N only with {1, 6} and {3, 4}; X counts {1, 6} and
// {3, 4} fully and {2, 5} by one half; other bytes carry no information.
constexpr double emission_factors[code_row_count][sub_state_count] = {
    {0.0, 1.0, 0.0, 0.0, 1.0, 0.0},
    {1.0, 0.0, 1.0, 1.0, 0.0, 1.0},
    {1.0, 0.5, 1.0, 1.0, 0.5, 1.0},
    {1.0, 1.0, 1.0, 1.0, 1.0, 1.0},
};

// Wrap limits for model orders 1, 2 and 3; every higher order uses the last.
constexpr int low_order_wrap_limits[3] = {18, 12, 10};
constexpr int high_order_wrap_limit = 8;

// The doubles nearest to 1/3 and 2/3: the wrap weights multiply by them.
constexpr double one_third = 0.3333333333333333;
constexpr double two_thirds = 0.6666666666666666;
// Each wrap leaves the class, so the excess of the starting class over the
// even share 1/3 changes sign and halves: it goes as (-1/2)^m.
constexpr double wrap_ratio = -0.5;
// d exp(-1.5 mu) / d mu = -1.5 exp(-1.5 mu).
constexpr double escape_exponent = -1.5;
// The four sub-states of the other two classes share the cross weight.
constexpr double cross_share = 0.25;

}  // namespace

int code_row(unsigned char code) {
  switch (code) {
    case 'R':
      return 0;
    case 'N':
      return 1;
    case 'X':
      return 2;
    default:
      return uninformative_code_row;
  }
}

int wrap_limit(int p) {
  if (p >= 1 && p <= 3) return low_order_wrap_limits[p - 1];
  return high_order_wrap_limit;
}

int largest_event_count(int p) { return (p - 1) + p * wrap_limit(p); }

double W_same(int m) {
  // ((-1/2)^m + 1/2) / 3
  return (std::pow(wrap_ratio, static_cast<double>(m)) + 0.5) * one_third;
}

double W_cross(int m) {
  // (1 - (-1/2)^m) 2/3
  return (1.0 - std::pow(wrap_ratio, static_cast<double>(m))) * two_thirds;
}

double escape_factor(double mu) { return std::exp(escape_exponent * mu); }

double W_same(int m, double factor) {
  // ((-1/2)^m f + 1/2) / 3
  return (std::pow(wrap_ratio, static_cast<double>(m)) * factor + 0.5) * one_third;
}

double W_cross(int m, double factor) {
  // (1 - (-1/2)^m f) 2/3
  return (1.0 - std::pow(wrap_ratio, static_cast<double>(m)) * factor) * two_thirds;
}

double W_same_escape_slope(int m, double factor) {
  // -1.5 (-1/2)^m f / 3
  return std::pow(wrap_ratio, static_cast<double>(m)) * (escape_exponent * factor) * one_third;
}

double W_cross_escape_slope(int m, double factor) {
  // +1.5 (-1/2)^m f 2/3
  return -(std::pow(wrap_ratio, static_cast<double>(m)) * (escape_exponent * factor)) * two_thirds;
}

void fill_emission_table(DoubleMatrix emission_table, int p) {
  for (int row = 0; row < code_row_count; ++row) {
    for (int a = 1; a <= sub_state_count; ++a) {
      emission_table[row][a] = emission_factors[row][a - 1];
    }
  }
  for (int level = 2; level <= p; ++level) {
    for (int a = 1; a <= sub_state_count; ++a) {
      for (int row = 0; row < code_row_count; ++row) {
        emission_table[row][sub_state_count * (level - 1) + a] = emission_table[row][a];
      }
    }
  }
}

void fill_initial_weights(DoubleVector weights, int p) {
  // The chain starts in class {1, 6} at a level drawn uniformly: 2p states.
  const double start = 1.0 / static_cast<double>(2 * p);
  for (int level = 1; level <= p; ++level) {
    const int base = sub_state_count * (level - 1);
    for (int a = 1; a <= sub_state_count; ++a) {
      weights[base + a] = (a == 1 || a == sub_state_count) ? start : 0.0;
    }
  }
}

void build_transition_matrix(DoubleVector same_sums, DoubleVector cross_sums, int p,
                             DoubleMatrix transition) {
  for (int from_level = 1; from_level <= p; ++from_level) {
    for (int a = 1; a <= sub_state_count; ++a) {
      const int from = sub_state_count * (from_level - 1) + a;
      for (int to_level = 1; to_level <= p; ++to_level) {
        const int c = p + to_level - from_level;
        const double same = same_sums[c];
        const double cross = cross_share * cross_sums[c];
        for (int b = 1; b <= sub_state_count; ++b) {
          const bool same_class = (b == a || b == sub_state_count + 1 - a);
          transition[from][sub_state_count * (to_level - 1) + b] = same_class ? same : cross;
        }
      }
    }
  }
}
