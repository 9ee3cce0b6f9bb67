#include "model/wrap_weights.hpp"

#include <cmath>

namespace {

// Wrap limits for model orders 1, 2 and 3; every higher order uses the last.
constexpr int low_order_wrap_limits[3] = {18, 12, 10};
constexpr int high_order_wrap_limit = 8;

// The doubles nearest to 1/3 and 2/3: the wrap weights multiply by them.
constexpr double one_third = 0.3333333333333333;
constexpr double two_thirds = 0.6666666666666666;
// The excess of the starting class goes as (-1/2)^m.
constexpr double wrap_ratio = -0.5;
// d exp(-1.5 mu) / d mu = -1.5 exp(-1.5 mu).
constexpr double escape_exponent = -1.5;

}  // namespace

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

void fill_wrap_weights(int p, DoubleVector same_weights, DoubleVector cross_weights) {
  for (int m = 0; m <= wrap_limit(p); ++m) {
    same_weights[m] = W_same(m);
    cross_weights[m] = W_cross(m);
  }
}
